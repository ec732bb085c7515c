#pragma once
// CDialog: a dialog built from its template (resource.h), run modally.
//
// DoModal creates the window (CreateWindowExA; WM_CREATE reaches OnCreate),
// builds the controls, runs OnInitDialog (whose base shows the members with
// UpdateData(FALSE)), asks OnCtlColor for every control, shows the window
// when the template has WS_VISIBLE, then runs a nested event loop until
// EndDialog. Inside it everything keeps running: window and thread timers,
// posted messages, messages from other processes (WM_COPYDATA), the relay's
// posts. When the loop first goes idle, a window that is still hidden is
// shown once more through WM_WINDOWPOSCHANGING (so OnWindowPosChanging can
// keep it hidden). After EndDialog the window is hidden and destroyed
// (OnDestroy, then PostNcDestroy) and DoModal returns the result.
//
// Keys: Enter presses the push button that has the focus, else the default
// button (DefPushButton); Esc sends IDCANCEL. The close box and the system
// menu's Close send WM_SYSCOMMAND SC_CLOSE, whose default handling sends
// WM_CLOSE and then IDCANCEL. WM_COMMAND IDOK runs OnOK, IDCANCEL OnCancel.
#include "platform/ui/controls.h"
#include "platform/ui/wnd.h"

#include <string>

class CDialog;

// The direction and target of one UpdateData.
class CDataExchange {
public:
    CDataExchange(CDialog* dialog, BOOL saveAndValidate);
    BOOL m_bSaveAndValidate; // TRUE: controls to members; FALSE: members to controls
    CDialog* m_pDlgWnd;
    // The control's window; a missing id fails the exchange (traced).
    HWND PrepareCtrl(int id);
    HWND PrepareEditCtrl(int id);
    // Ends the exchange; UpdateData returns FALSE. The control that failed
    // gets the focus.
    [[noreturn]] void Fail();

    HWND m_hWndLastControl = nullptr;
};

class CDialog : public CWnd {
public:
    explicit CDialog(UINT templateId, CWnd* parent = nullptr);
    ~CDialog() override;

    // IDOK, IDCANCEL or what EndDialog gave; -1 when the template is missing
    // or the window could not be created (OnCreate returned -1).
    virtual INT_PTR DoModal();
    // Creates the window from the template without a loop of its own
    // (modeless): WM_CREATE, the controls, OnInitDialog, shown when the
    // template has WS_VISIBLE. DestroyWindow ends it. FALSE on failure.
    BOOL Create(UINT templateId, CWnd* parent = nullptr);
    // Ends the modal loop with the result (the window goes once the loop has
    // returned). May be called from OnInitDialog.
    void EndDialog(int result);
    // Runs DoDataExchange; FALSE when a value was refused (Fail).
    BOOL UpdateData(BOOL saveAndValidate = TRUE);

    void GotoDlgCtrl(CWnd* control); // focus to the control (its text selected)
    void NextDlgCtrl() const;
    void PrevDlgCtrl() const;
    void SetDefID(UINT id); // the default button's id
    DWORD GetDefID() const;
    UINT GetTemplateId() const { return m_templateId; }
    // True between DoModal's start and the end of its loop.
    bool IsModalRunning() const { return m_running; }
    // True once EndDialog was called for the current run.
    bool IsEnding() const { return m_ending; }

    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;
    LRESULT DefWindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;

protected:
    // Shows the members (UpdateData(FALSE)); TRUE lets the framework set the
    // focus (first tab stop).
    virtual BOOL OnInitDialog();
    virtual void OnOK();     // UpdateData(TRUE), then EndDialog(IDOK)
    virtual void OnCancel(); // EndDialog(IDCANCEL)
    virtual void DoDataExchange(CDataExchange* dx);

    BOOL OnCommand(WPARAM wParam, LPARAM lParam) override;
    // The platform's colours (system brushes).
    HBRUSH OnCtlColor(CDC* dc, CWnd* control, UINT ctlColor) override;

    CWnd* m_pParentWnd;

private:
    friend struct AfxDialogAccess;
    UINT m_templateId;
    int m_result = IDCANCEL;
    bool m_running = false;
    bool m_ending = false;
    UINT m_defId = 0;
    void* m_loop = nullptr; // the running loop
};

// Data exchange. Check boxes: 1 checked, 0 clear. Radio groups: the index of
// the checked button from firstId to the end of its group (the next WS_GROUP
// control or a control of another kind), -1 when none; showing a value
// outside the group clears all of them.
void DDX_Control(CDataExchange* dx, int id, CWnd& control);
void DDX_Check(CDataExchange* dx, int id, int& value);
void DDX_Radio(CDataExchange* dx, int firstId, int& value);
void DDX_Text(CDataExchange* dx, int id, std::string& value);
// A signed decimal number; a text that is not one is refused with a message
// box and fails the exchange.
void DDX_Text(CDataExchange* dx, int id, int& value);
// The text of a combo box (its edit field).
void DDX_CBString(CDataExchange* dx, int id, std::string& value);
