// The main dialog: notification-area icon, the shell's and the power
// manager's notices, the tray menu, and keeping a hidden window hidden.
#include "app/zorvanefortcpdlg.h"

#include "app/soundswitch.h"
#include "foundation/textutil.h"
#include "platform/trace.h"

#include <cstring>

namespace {
constexpr UINT trayCallbackMessage = WM_USER + 100;
UINT taskbarCreatedMessage = 0;
} // namespace

void CZorvaneForTcpDlg::initTrayIcon()
{
    std::memset(&trayIconData, 0, sizeof trayIconData);
    windowHandleCopy = GetSafeHwnd();
    trayIconData.cbSize = 504;
    trayIconData.hWnd = windowHandleCopy;
    trayIconData.uID = 0;
    trayIconData.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
    trayIconData.uCallbackMessage = trayCallbackMessage;
    trayIconData.hIcon = icon;
    copyText(trayIconData.szTip, sizeof trayIconData.szTip, "ZorvaneForTCP");
}

void CZorvaneForTcpDlg::addTrayIcon()
{
    if (Shell_NotifyIconA(NIM_ADD, &trayIconData))
        return;
    for (;;) {
        DWORD error = GetLastError();
        if (error != ERROR_TIMEOUT) {
            trace("通知領域にアイコンを登録できませんでした。 err=%d\n", static_cast<int>(error));
            return;
        }
        if (Shell_NotifyIconA(NIM_MODIFY, &trayIconData))
            return;
        Sleep(1000);
        if (Shell_NotifyIconA(NIM_ADD, &trayIconData))
            return;
    }
}

LRESULT CZorvaneForTcpDlg::WindowProc(UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_CREATE) {
        taskbarCreatedMessage = RegisterWindowMessageA("TaskbarCreated");
    } else if (message == WM_ENDSESSION) {
        // Whatever wParam says: a log-off that was called off still ends the streams.
        if (hub.a2aModel)
            hub.a2aModel->disconnectAll();
        showMessage("SKYPE STREAM切断操作を行いました");
    } else if (message == WM_POWERBROADCAST) {
        if (wParam == PBT_APMSUSPEND) {
            if (suspendedFlag == 0) {
                suspendedFlag = 1;
                if (hub.a2aModel)
                    hub.a2aModel->disconnectAll();
                showMessage("SKYPE STREAM切断操作を行いました");
            }
        } else if (wParam == PBT_APMRESUMESUSPEND) {
            if (suspendedFlag == 1)
                suspendedFlag = 0;
        }
    } else if (message == trayCallbackMessage) {
        switch (static_cast<UINT>(lParam)) {
        case WM_LBUTTONDBLCLK:
            visibleFlag = 1;
            ShowWindow(SW_SHOW);
            ShowWindow(SW_SHOWNORMAL);
            SetWindowPos(nullptr, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
            return 0;
        case WM_RBUTTONUP: {
            SetForegroundWindow();
            POINT cursor{};
            GetCursorPos(&cursor);
            CMenu menu;
            menu.LoadMenu(135);
            menu.GetSubMenu(0)->TrackPopupMenu(0, cursor.x, cursor.y, this);
            return 0;
        }
        case WM_LBUTTONDOWN:
        case WM_RBUTTONDOWN:
            return 0;
        default:
            break;
        }
    } else if (taskbarCreatedMessage != 0 && message == taskbarCreatedMessage) {
        addTrayIcon();
    }
    return CDialog::WindowProc(message, wParam, lParam);
}

void CZorvaneForTcpDlg::OnTrayOpen()
{
    visibleFlag = 1;
    ShowWindow(SW_SHOW);
    ShowWindow(SW_SHOWNORMAL);
    SetWindowPos(nullptr, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
}

void CZorvaneForTcpDlg::OnTrayExit()
{
    if (hub.a2aModel && hub.a2aModel->hasStream()) {
        PostMessageA(GetSafeHwnd(), WM_LBUTTONUP, 0, 0);
        if (AfxMessageBox("接続中ですが終了しますか？", MB_YESNO) == IDNO)
            return;
    }
    CDialog::OnCancel();
}

void CZorvaneForTcpDlg::OnWindowPosChanging(WINDOWPOS* position)
{
    CDialog::OnWindowPosChanging(position);
    if (visibleFlag == 1)
        position->flags |= SWP_SHOWWINDOW;
    else
        position->flags &= ~static_cast<UINT>(SWP_SHOWWINDOW);
}

void CZorvaneForTcpDlg::PostNcDestroy()
{
    NOTIFYICONDATAA removal;
    std::memset(&removal, 0, sizeof removal);
    removal.cbSize = 504;
    removal.hWnd = windowHandleCopy;
    removal.uID = 0;
    removal.uFlags = 0;
    Shell_NotifyIconA(NIM_DELETE, &removal);
    if (theSoundSwitch) {
        delete theSoundSwitch;
        theSoundSwitch = nullptr;
    }
    CDialog::PostNcDestroy();
}
