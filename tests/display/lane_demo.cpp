// The framework's own program for the display lane: a dialog that lives in
// the tray. A double click on the icon shows it, a right click opens the
// tray menu (32771 shows the window, 32772 ends), the tray is re-added on
// "TaskbarCreated" and by a one-second upkeep. Every event is one line on
// standard output for the lane script.
#include "platform/trace.h"
#include "platform/ui/afxwin.h"

#include <cstdio>
#include <cstring>

namespace {

constexpr UINT kTrayMessage = WM_USER + 100;

const DialogControl controls[] = {
    {-1, ControlKind::GroupBox, "表示テスト", 7, 4, 186, 62},
    {1001, ControlKind::Static, "日本語の表示：ＺｏｒｖａｎｅＦｏｒＴｃｐ", 14, 16, 172, 10},
    {1002, ControlKind::Static, "255.255.255.255", 14, 30, 70, 12, SS_SUNKEN},
    {1003, ControlKind::AutoCheckBox, "", 90, 31, 10, 10, BS_FLAT | WS_DISABLED},
    {1004, ControlKind::AutoCheckBox, "", 102, 31, 10, 10, BS_FLAT | WS_DISABLED},
    {1005, ControlKind::Edit, "メッセージ行", 14, 46, 120, 12, WS_BORDER | ES_READONLY},
    {1006, ControlKind::ListBox, "", 7, 70, 186, 40,
     WS_BORDER | WS_VSCROLL | WS_HSCROLL | LBS_DISABLENOSCROLL | LBS_NOINTEGRALHEIGHT},
    {IDOK, ControlKind::DefPushButton, "ウィドウを閉じる", 113, 114, 80, 14},
    {-1, ControlKind::Icon, "", 7, 112, 20, 20, 0, 137},
};
const DialogTemplate dialogs[] = {{100, "LaneDemo", 200, 134, "ＭＳ ゴシック", 9,
                                   WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_VISIBLE, 0, controls}};

const MenuItemResource trayItems[] = {{32771, "メイン画面を起動"}, {0, nullptr, MF_SEPARATOR}, {32772, "終了"}};
const MenuPopupResource trayPopups[] = {{"TRAY", trayItems}};
const MenuResource menus[] = {{135, trayPopups}};

const IconColor iconColors[] = {{'#', RGB(20, 60, 150)}, {'o', RGB(255, 190, 0)}, {'w', RGB(255, 255, 255)}};
const char* const iconRows[] = {
    "................",
    "....########....",
    "..##oooooooo##..",
    ".#oooooooooooo#.",
    ".#oowwwwwwwwoo#.",
    "#ooooooooowwoo#.",
    "#oooooooowwooo##",
    "#ooooooowwoooo##",
    "#oooooowwooooo##",
    "#ooooowwoooooo##",
    "#oooowwooooooo#.",
    ".#oowwwwwwwwoo#.",
    ".#oooooooooooo#.",
    "..##oooooooo##..",
    "....########....",
    "................",
};
const IconResource icons[] = {{137, 16, 16, iconColors, iconRows}};

void say(const char* format, ...) ZORVANE_PRINTF(1, 2);
void say(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    std::vfprintf(stdout, format, args);
    va_end(args);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

class LaneDialog : public CDialog {
public:
    LaneDialog() : CDialog(100) {}

protected:
    BOOL OnInitDialog() override
    {
        CDialog::OnInitDialog();
        m_taskbarCreated = RegisterWindowMessageA("TaskbarCreated");
        HICON icon = AfxGetApp()->LoadIcon(137);
        SetIcon(icon, TRUE);
        SetIcon(icon, FALSE);
        std::memset(&m_nid, 0, sizeof m_nid);
        m_nid.cbSize = 504;
        m_nid.hWnd = m_hWnd;
        m_nid.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
        m_nid.uCallbackMessage = kTrayMessage;
        m_nid.hIcon = icon;
        std::snprintf(m_nid.szTip, sizeof m_nid.szTip, "LaneDemo\r\nオフライン");
        addTray("start");
        auto* list = static_cast<CListBox*>(GetDlgItem(1006));
        list->AddString("2026/12/10 20:00:00 EV ZorvaneForTCP Ver.:1, 0, 0, 1");
        list->AddString("2026/12/10 20:00:01 EV 通信ドライバと接続");
        static_cast<CButton*>(GetDlgItem(1003))->SetCheck(BST_CHECKED);
        CenterWindow();
        ShowWindow(SW_HIDE);
        SetTimer(1, 1000, nullptr);
        say("ready");
        return TRUE;
    }
    void OnWindowPosChanging(WINDOWPOS* pos) override
    {
        CDialog::OnWindowPosChanging(pos);
        if (!m_visible)
            pos->flags &= ~SWP_SHOWWINDOW;
    }
    void OnTimer(UINT_PTR id) override
    {
        if (id == 1 && !Shell_NotifyIconA(NIM_MODIFY, &m_nid))
            addTray("upkeep");
        CDialog::OnTimer(id);
    }
    void OnCancel() override
    {
        m_visible = false;
        ShowWindow(SW_HIDE);
        say("hidden");
    }
    void OnOK() override { OnCancel(); }
    BOOL OnCommand(WPARAM wParam, LPARAM lParam) override
    {
        switch (LOWORD(wParam)) {
        case 32771:
            say("command 32771");
            show();
            return TRUE;
        case 32772:
            say("command 32772");
            CDialog::OnCancel();
            return TRUE;
        default:
            return CDialog::OnCommand(wParam, lParam);
        }
    }
    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override
    {
        if (message == kTrayMessage) {
            switch (lParam) {
            case WM_LBUTTONDBLCLK:
                say("tray dblclick");
                show();
                return 0;
            case WM_RBUTTONUP: {
                say("tray menu");
                SetForegroundWindow();
                POINT p;
                GetCursorPos(&p);
                CMenu menu;
                menu.LoadMenu(135);
                menu.GetSubMenu(0)->TrackPopupMenu(0, p.x, p.y, this);
                say("tray menu closed");
                return 0;
            }
            default:
                return 0;
            }
        }
        if (m_taskbarCreated && message == m_taskbarCreated) {
            say("taskbar-created");
            addTray("taskbar-created");
        }
        return CDialog::WindowProc(message, wParam, lParam);
    }
    void PostNcDestroy() override
    {
        NOTIFYICONDATAA del{};
        del.cbSize = 504;
        del.hWnd = m_nid.hWnd;
        Shell_NotifyIconA(NIM_DELETE, &del);
        CDialog::PostNcDestroy();
    }

private:
    void addTray(const char* why)
    {
        if (Shell_NotifyIconA(NIM_ADD, &m_nid))
            say("tray-add ok %s", why);
        else if (std::strcmp(why, "upkeep") != 0 || !m_reportedFailure)
            say("tray-add failed %s err=%u", why, GetLastError());
        m_reportedFailure = std::strcmp(why, "upkeep") == 0;
    }
    void show()
    {
        m_visible = true;
        ShowWindow(SW_SHOW);
        ShowWindow(SW_SHOWNORMAL);
        SetWindowPos(nullptr, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
        say("shown");
    }

    NOTIFYICONDATAA m_nid{};
    UINT m_taskbarCreated = 0;
    bool m_visible = false;
    bool m_reportedFailure = false;
};

class LaneApp : public CWinApp {
public:
    BOOL InitInstance() override
    {
        say("platform %s", AfxGetDisplayPlatform());
        LaneDialog dialog;
        INT_PTR r = dialog.DoModal();
        say("end %ld", static_cast<long>(r));
        return FALSE;
    }
};

LaneApp theApp;

} // namespace

int main(int argc, char** argv)
{
    AfxSetResourceModule({dialogs, {}, menus, icons, {}});
    return AfxWinMain(argc, argv);
}
