#pragma once
// Control objects. GetDlgItem returns one of these for each control of a
// dialog (by its kind); DDX_Control makes a member object view the control.
// Text, check, selection and list lines are read back from the control.
#include "platform/ui/wnd.h"

#include <string>

class CStatic : public CWnd {
public:
    HICON SetIcon(HICON icon); // the picture of an icon static
    HICON GetIcon() const;
};

// Push buttons, check boxes, radio buttons, group boxes.
class CButton : public CWnd {
public:
    int GetCheck() const;     // BST_CHECKED / BST_UNCHECKED
    void SetCheck(int check); // sends no notification
    void Click();             // as a user's click: BN_CLICKED to the dialog
};

class CEdit : public CWnd {
public:
    void SetReadOnly(BOOL readOnly = TRUE);
    void SetSel(int start, int end);
};

class CListBox : public CWnd {
public:
    int AddString(const char* text);     // index of the new line, LB_ERR on failure
    int DeleteString(UINT index);        // lines left, LB_ERR for a bad index
    int GetCount() const;
    int GetText(int index, std::string& text) const; // length, LB_ERR for a bad index
    int GetTextLen(int index) const;
    void ResetContent();
    int SetCurSel(int index);            // -1 clears; LB_ERR for a bad index
    int GetCurSel() const;               // LB_ERR when none
    int SetTopIndex(int index);          // scrolls so the line is the first seen
    int GetTopIndex() const;
};

class CComboBox : public CWnd {
public:
    int AddString(const char* text);
    int GetCount() const;
    int GetLBText(int index, std::string& text) const;
    void ResetContent();
    int SetCurSel(int index); // the line also becomes the edit field's text
    int GetCurSel() const;
    // First line beginning with text (case-insensitive, ASCII letters),
    // searched from the line after startAfter to the end, then from the
    // first; startAfter -1 searches all from the first. CB_ERR when none.
    int FindString(int startAfter, const char* text) const;
    int SelectString(int startAfter, const char* text);
};

// The up-down control: arrows that step a position and write it into its
// buddy edit (UDS_SETBUDDYINT, UDS_NOTHOUSANDS: a plain number).
class CSpinButtonCtrl : public CWnd {
public:
    void SetRange(short lower, short upper);
    void SetRange32(int lower, int upper);
    void GetRange32(int& lower, int& upper) const;
    int SetPos(int pos);    // returns the previous position
    int SetPos32(int pos);
    // The buddy's text when it is a whole number within the range (which then
    // becomes the position), else the last position with *error TRUE.
    int GetPos32(BOOL* error = nullptr) const;
    // The same, with the error in the high word (MFC's GetPos).
    int GetPos() const;
    CWnd* SetBuddy(CWnd* buddy);
    CWnd* GetBuddy() const;
};

// The link control: text with <a>...</a> parts; a click on a link sends
// WM_NOTIFY with NM_CLICK to the dialog.
class CLinkCtrl : public CWnd {
};
