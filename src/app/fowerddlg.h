#pragma once
// The forward settings (dialog 134): for each of the five channels the host
// and the port to which the server application connects the channel's
// tunnelled connections. The caller fills the host and port texts and takes
// them back after IDOK; the localhost flags are the dialog's own.
#include "platform/ui/afxwin.h"

#include <string>

class CFowerdDlg : public CDialog {
public:
    CFowerdDlg();
    ~CFowerdDlg() override;

    void DoDataExchange(CDataExchange* dx) override;
    BOOL OnInitDialog() override;
    BOOL OnCommand(WPARAM wParam, LPARAM lParam) override;
    void OnLocalhostFtpClicked();
    void OnLocalhostHttpClicked();
    void OnLocalhostCvsClicked();
    void OnLocalhostGen1Clicked();
    void OnLocalhostGen2Clicked();
    void OnOkClicked();

    int localhostCvs;
    int localhostFtp;
    int localhostGen1;
    int localhostGen2;
    int localhostHttp;
    std::string hostCvs;
    std::string portCvs;
    std::string hostFtp;
    std::string portFtp;
    std::string hostGen1;
    std::string portGen1;
    std::string hostGen2;
    std::string portGen2;
    std::string hostHttp;
    std::string portHttp;

private:
    // One row of the dialog, in row order FTP, HTTP, CVS, Gen1, Gen2.
    struct Row {
        int checkId;
        int hostId;
        int portId;
        int CFowerdDlg::*flag;
        std::string CFowerdDlg::*host;
        const char* rangeMessage;
    };
    static const Row rows[5];
    void localhostClicked(const Row& row);
};
