#pragma once
// The port setting (dialog 138): one local listening port of the client
// application, in an edit with its up-down control.
#include "platform/ui/afxwin.h"

class CPortSettingDlg : public CDialog {
public:
    CPortSettingDlg();
    ~CPortSettingDlg() override;

    void DoDataExchange(CDataExchange* dx) override;
    BOOL OnInitDialog() override;
    void OnOK() override;

    int port;
    CSpinButtonCtrl spin;
};
