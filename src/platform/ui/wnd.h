#pragma once
// CWnd: a window of the winuser layer (a real HWND with its procedure) shown
// by a Qt widget. Dialogs and their controls are CWnds; a CWnd object is a
// view on its handle: every state (text, check, enabled, shown, geometry,
// focus) lives in the window and is read back from it, so several CWnd
// objects (GetDlgItem's and a DDX_Control member) may view one control.
//
// Messages reach WindowProc of the window's own object (the dialog, for a
// dialog window): sent and posted messages, from this process or another,
// WM_TIMER of SetTimer, tray callbacks. WindowProc calls OnWndMsg, which
// dispatches to the virtual handlers below, then DefWindowProc.
#include "platform/ui/gdi.h"
#include "platform/ui/menu.h"
#include "platform/ui/uitypes.h"

#include <string>

class QWidget;

class CWnd {
public:
    CWnd();
    virtual ~CWnd();
    CWnd(const CWnd&) = delete;
    CWnd& operator=(const CWnd&) = delete;

    HWND m_hWnd = nullptr;
    HWND GetSafeHwnd() const { return m_hWnd; }
    operator HWND() const { return m_hWnd; }
    // The permanent object of a framework window (the dialog, or the
    // control object that GetDlgItem returns); nullptr for other handles.
    static CWnd* FromHandle(HWND window);

    // --- state ---
    // SW_HIDE, SW_SHOW, SW_SHOWNORMAL, SW_RESTORE, SW_MINIMIZE ...; a
    // top-level window passes WM_WINDOWPOSCHANGING (SWP_SHOWWINDOW or
    // SWP_HIDEWINDOW), whose handler may drop the show. Returns whether the
    // window was visible before.
    BOOL ShowWindow(int cmdShow);
    // Visible: its own WS_VISIBLE and that of every parent.
    BOOL IsWindowVisible() const;
    BOOL IsIconic() const;
    // Returns whether the window was disabled before.
    BOOL EnableWindow(BOOL enable = TRUE);
    BOOL IsWindowEnabled() const;
    DWORD GetStyle() const;   // WS_VISIBLE, WS_DISABLED, kind styles of the template
    DWORD GetExStyle() const;
    int GetDlgCtrlID() const; // the template id of a control; 0 for a dialog
    CWnd* GetParent() const;

    void SetWindowText(const char* text); // UTF-8
    int GetWindowText(char* buffer, int size) const; // cut to size - 1 bytes, terminated
    void GetWindowText(std::string& text) const;
    int GetWindowTextLength() const;

    // --- geometry, in pixels ---
    // Screen rectangle of the window. A top-level window: the position of its
    // frame and the size of its client area (the window manager's frame is
    // not counted, so SetWindowPos takes back what this gives).
    void GetWindowRect(LPRECT rect) const;
    // Client rectangle (left and top 0).
    void GetClientRect(LPRECT rect) const;
    void ScreenToClient(LPRECT rect) const;
    void ClientToScreen(LPRECT rect) const;
    // x, y, cx, cy: position in the parent's client area (screen for a
    // top-level window) and size as GetWindowRect counts it; SWP_* flags.
    BOOL SetWindowPos(const CWnd* insertAfter, int x, int y, int cx, int cy, UINT flags);
    void MoveWindow(int x, int y, int width, int height, BOOL repaint = TRUE);
    void MoveWindow(LPCRECT rect, BOOL repaint = TRUE);
    // Centres over the alternate window, the parent, or the screen.
    void CenterWindow(CWnd* alternate = nullptr);
    void Invalidate(BOOL erase = TRUE);
    void UpdateWindow();

    BOOL SetForegroundWindow();
    CWnd* SetFocus();        // returns the window that had the focus
    static CWnd* GetFocus(); // the focused framework window (control), or nullptr

    // --- controls of a dialog, by id ---
    CWnd* GetDlgItem(int id) const; // the control's permanent object, nullptr when missing
    void SetDlgItemText(int id, const char* text);
    int GetDlgItemText(int id, char* buffer, int size) const;
    int GetDlgItemText(int id, std::string& text) const;
    // Whole decimal number (signed when isSigned), else 0 with *translated FALSE.
    UINT GetDlgItemInt(int id, BOOL* translated = nullptr, BOOL isSigned = TRUE) const;
    void SetDlgItemInt(int id, UINT value, BOOL isSigned = TRUE);
    LRESULT SendDlgItemMessage(int id, UINT message, WPARAM wParam = 0, LPARAM lParam = 0) const;
    void CheckDlgButton(int id, UINT check);
    UINT IsDlgButtonChecked(int id) const;

    // --- window icon and system menu ---
    HICON SetIcon(HICON icon, BOOL bigIcon); // returns the previous one
    HICON GetIcon(BOOL bigIcon) const;
    // The window's system menu (Close, and Minimise with WS_MINIMIZEBOX); the
    // program may append entries. The framework shows it on Alt+Space and on
    // a right click in the window's background and sends WM_SYSCOMMAND with
    // the chosen id. revert TRUE restores the standard menu and returns nullptr.
    CMenu* GetSystemMenu(BOOL revert);

    // --- messages and timers of this window ---
    LRESULT SendMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0);
    BOOL PostMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0);
    UINT_PTR SetTimer(UINT_PTR id, UINT elapseMs, TIMERPROC proc);
    BOOL KillTimer(UINT_PTR id);
    virtual BOOL DestroyWindow();

    // Every message of a window whose object this is.
    virtual LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam);
    // The platform's default handling (WM_SYSCOMMAND SC_CLOSE -> WM_CLOSE,
    // the system menu, WM_SETTEXT/WM_GETTEXT, control messages ...).
    virtual LRESULT DefWindowProc(UINT message, WPARAM wParam, LPARAM lParam);

    // For the framework and its tests: the widget that shows the window.
    QWidget* GetWidget() const;

protected:
    // Dispatches to the handlers below; FALSE when none took the message.
    virtual BOOL OnWndMsg(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result);
    // WM_COMMAND: LOWORD(wParam) the id (control or menu), HIWORD the
    // notification (BN_CLICKED; 0 for menus), lParam the control's window.
    // TRUE when handled.
    virtual BOOL OnCommand(WPARAM wParam, LPARAM lParam);
    // WM_NOTIFY: wParam the control id, lParam its NMHDR (NM_CLICK of a link).
    virtual BOOL OnNotify(WPARAM wParam, LPARAM lParam, LRESULT* result);
    virtual int OnCreate(CREATESTRUCTA* createStruct); // 0 to go on, -1 to fail
    virtual void OnDestroy();
    virtual void OnTimer(UINT_PTR id);
    virtual void OnSysCommand(UINT id, LPARAM lParam);
    virtual void OnClose();
    // WM_CTLCOLOR*: the brush to paint the control with (kind CTLCOLOR_*).
    virtual HBRUSH OnCtlColor(CDC* dc, CWnd* control, UINT ctlColor);
    virtual void OnWindowPosChanging(WINDOWPOS* pos);
    virtual void OnWindowPosChanged(WINDOWPOS* pos);
    // After WM_NCDESTROY; m_hWnd is already null.
    virtual void PostNcDestroy();
    // The message being handled, passed to DefWindowProc.
    LRESULT Default();

private:
    friend struct AfxWindowAccess;
    UINT m_curMessage = 0;
    WPARAM m_curWParam = 0;
    LPARAM m_curLParam = 0;
};

// The same for any window handle of the framework.
HWND GetDlgItem(HWND dialog, int id);
BOOL SetDlgItemTextA(HWND dialog, int id, const char* text);
LRESULT SendDlgItemMessageA(HWND dialog, int id, UINT message, WPARAM wParam, LPARAM lParam);
UINT GetDlgItemTextA(HWND dialog, int id, char* buffer, int size);
BOOL ShowWindow(HWND window, int cmdShow);
BOOL IsWindowVisible(HWND window);
BOOL EnableWindow(HWND window, BOOL enable);
BOOL SetWindowPos(HWND window, HWND insertAfter, int x, int y, int cx, int cy, UINT flags);
BOOL GetWindowRect(HWND window, LPRECT rect);
BOOL SetForegroundWindow(HWND window);
BOOL GetCursorPos(POINT* point);
int GetSystemMetrics(int index);
