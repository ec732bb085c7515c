// Shell_NotifyIconA over QSystemTrayIcon, and the watch that tells the
// program's windows when a tray appears again ("TaskbarCreated").
#include "platform/ui/afx_internal.h"

#include "platform/trace.h"

#include <QCoreApplication>
#include <QSystemTrayIcon>
#include <QTimer>

#include <cstring>
#include <map>

namespace {

struct TrayIcon {
    HWND hwnd = nullptr;
    UINT id = 0;
    UINT callback = 0;
    HICON icon = nullptr;
    std::string tip;
    std::unique_ptr<QSystemTrayIcon> qt;
};

std::map<std::pair<HWND, UINT>, std::unique_ptr<TrayIcon>> trayIcons;
uitest::TrayState trayOverride = uitest::TrayState::Real;
bool trayWasAvailable = false;
QTimer* trayWatch = nullptr;

constexpr DWORD tipOffset = offsetof(NOTIFYICONDATAA, szTip);
constexpr DWORD firstVersionSize = tipOffset + 64; // a record whose tip holds 64 bytes

QString tipText(const NOTIFYICONDATAA& data)
{
    size_t room = data.cbSize >= offsetof(NOTIFYICONDATAA, dwState) ? sizeof data.szTip : 64;
    size_t n = strnlen(data.szTip, room);
    std::string tip(data.szTip, n);
    QString s = afx::qs(tip);
    s.replace("\r\n", "\n");
    return s;
}

void post(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message)
        PostMessageA(hwnd, message, wParam, lParam);
}

void clicked(HWND hwnd, UINT id, uitest::TrayClick click)
{
    auto it = trayIcons.find({hwnd, id});
    if (it == trayIcons.end())
        return;
    UINT cb = it->second->callback;
    switch (click) {
    case uitest::TrayClick::Left:
        post(hwnd, cb, id, WM_LBUTTONDOWN);
        post(hwnd, cb, id, WM_LBUTTONUP);
        break;
    case uitest::TrayClick::Double:
        post(hwnd, cb, id, WM_LBUTTONDBLCLK);
        post(hwnd, cb, id, WM_LBUTTONUP);
        break;
    case uitest::TrayClick::Right:
        post(hwnd, cb, id, WM_RBUTTONDOWN);
        post(hwnd, cb, id, WM_RBUTTONUP);
        break;
    case uitest::TrayClick::Middle:
        post(hwnd, cb, id, WM_MBUTTONDOWN);
        post(hwnd, cb, id, WM_MBUTTONUP);
        break;
    }
}

void applyQt(TrayIcon& t)
{
    if (!t.qt)
        return;
    t.qt->setIcon(afx::iconOf(t.icon));
    t.qt->setToolTip(afx::qs(t.tip));
}

void checkTray()
{
    bool now = afx::trayAvailable();
    if (now == trayWasAvailable)
        return;
    trayWasAvailable = now;
    if (!now) {
        // The tray is gone, and its icons with it.
        trace("tray: the system tray went away\n");
        trayIcons.clear();
        return;
    }
    trace("tray: a system tray is available\n");
    UINT taskbarCreated = RegisterWindowMessageA("TaskbarCreated");
    afx::toTopLevelWindows(taskbarCreated, 0, 0, true);
}

} // namespace

namespace afx {

bool trayAvailable()
{
    switch (trayOverride) {
    case uitest::TrayState::Absent:
        return false;
    case uitest::TrayState::Present:
        return true;
    case uitest::TrayState::Real:
        break;
    }
    return QSystemTrayIcon::isSystemTrayAvailable();
}

void startTrayWatch()
{
    if (trayWatch)
        return;
    trayWasAvailable = trayAvailable();
    trayWatch = new QTimer(QCoreApplication::instance());
    trayWatch->setInterval(500);
    QObject::connect(trayWatch, &QTimer::timeout, [] { checkTray(); });
    trayWatch->start();
}

} // namespace afx

BOOL Shell_NotifyIconA(DWORD message, NOTIFYICONDATAA* data)
{
    if (!data || data->cbSize < firstVersionSize) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    auto key = std::make_pair(data->hWnd, data->uID);
    auto it = trayIcons.find(key);
    switch (message) {
    case NIM_ADD: {
        if (!afx::trayAvailable()) {
            SetLastError(ERROR_INVALID_WINDOW_HANDLE); // no tray window
            return FALSE;
        }
        if (it != trayIcons.end() || !IsWindow(data->hWnd)) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return FALSE;
        }
        auto t = std::make_unique<TrayIcon>();
        t->hwnd = data->hWnd;
        t->id = data->uID;
        if (data->uFlags & NIF_MESSAGE)
            t->callback = data->uCallbackMessage;
        if (data->uFlags & NIF_ICON)
            t->icon = data->hIcon;
        if (data->uFlags & NIF_TIP)
            t->tip = afx::u8(tipText(*data));
        if (trayOverride == uitest::TrayState::Real) {
            t->qt = std::make_unique<QSystemTrayIcon>();
            HWND hwnd = t->hwnd;
            UINT id = t->id;
            QObject::connect(t->qt.get(), &QSystemTrayIcon::activated,
                             [hwnd, id](QSystemTrayIcon::ActivationReason reason) {
                                 switch (reason) {
                                 case QSystemTrayIcon::Trigger:
                                     clicked(hwnd, id, uitest::TrayClick::Left);
                                     break;
                                 case QSystemTrayIcon::DoubleClick:
                                     clicked(hwnd, id, uitest::TrayClick::Double);
                                     break;
                                 case QSystemTrayIcon::Context:
                                     clicked(hwnd, id, uitest::TrayClick::Right);
                                     break;
                                 case QSystemTrayIcon::MiddleClick:
                                     clicked(hwnd, id, uitest::TrayClick::Middle);
                                     break;
                                 default:
                                     break;
                                 }
                             });
            applyQt(*t);
            t->qt->show();
        }
        trayIcons.emplace(key, std::move(t));
        return TRUE;
    }
    case NIM_MODIFY: {
        if (it == trayIcons.end()) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return FALSE;
        }
        TrayIcon& t = *it->second;
        if (data->uFlags & NIF_MESSAGE)
            t.callback = data->uCallbackMessage;
        if (data->uFlags & NIF_ICON)
            t.icon = data->hIcon;
        if (data->uFlags & NIF_TIP)
            t.tip = afx::u8(tipText(*data));
        applyQt(t);
        return TRUE;
    }
    case NIM_DELETE:
        if (it == trayIcons.end()) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return FALSE;
        }
        trayIcons.erase(it);
        return TRUE;
    default:
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
}

namespace uitest {

void setTray(TrayState state)
{
    if (state != trayOverride) {
        // Icons made for one kind of tray do not carry over to the other.
        trayIcons.clear();
        trayWasAvailable = false;
    }
    trayOverride = state;
    if (state == TrayState::Absent)
        trayWasAvailable = false;
    checkTray();
}

TrayIconState trayIcon(HWND window, UINT id)
{
    auto it = trayIcons.find({window, id});
    if (it == trayIcons.end())
        return {false, {}, 0, nullptr};
    const TrayIcon& t = *it->second;
    return {true, t.tip, t.callback, t.icon};
}

bool clickTray(HWND window, UINT id, TrayClick click)
{
    if (!trayIcons.count({window, id}))
        return false;
    clicked(window, id, click);
    return true;
}

} // namespace uitest
