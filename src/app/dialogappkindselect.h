#pragma once
// The system settings (dialog 129): server or client application, the
// server's accept condition, auto-connect and its contact, the start window
// and sound. The caller fills the members, sets owner (through whose hub the
// contact names are read) and takes the members back after IDOK.
#include "platform/ui/afxwin.h"

#include <string>

class CZorvaneForTcpDlg;

class CDialogAppKindSelect : public CDialog {
public:
    CDialogAppKindSelect();
    ~CDialogAppKindSelect() override;

    void DoDataExchange(CDataExchange* dx) override;
    BOOL OnInitDialog() override;
    BOOL OnCommand(WPARAM wParam, LPARAM lParam) override;
    void OnAppKindClicked();
    void OnOK() override;
    void updateKindControls();

    CComboBox contactCombo;
    int appKind;
    int autoConnect;
    int acceptMode;
    int startWindow;
    std::string autoConnectUser;
    int soundMode;
    CZorvaneForTcpDlg* owner;

private:
    void fillContacts();
    void selectSavedContact();
};
