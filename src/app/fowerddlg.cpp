#include "app/fowerddlg.h"

#include <string>

namespace {
const char* const localhostAddress = "127.0.0.1";

// A port edit's number, 0 when its text reads as no number; leading zeros
// count for nothing ("008090" is 8090), as in the port dialog.
int portOf(const CWnd& dialog, int id)
{
    return static_cast<int>(dialog.GetDlgItemInt(id, nullptr, TRUE));
}
} // namespace

const CFowerdDlg::Row CFowerdDlg::rows[5] = {
    {1082, 1083, 1084, &CFowerdDlg::localhostFtp, &CFowerdDlg::hostFtp,
     "FTP Portの設定範囲は不正です。(1～65535)"},
    {1085, 1086, 1087, &CFowerdDlg::localhostHttp, &CFowerdDlg::hostHttp,
     "HTTP Portの設定範囲は不正です。(1～65535)"},
    {1088, 1089, 1090, &CFowerdDlg::localhostCvs, &CFowerdDlg::hostCvs,
     "CVS Portの設定範囲は不正です。(1～65535)"},
    {1091, 1092, 1093, &CFowerdDlg::localhostGen1, &CFowerdDlg::hostGen1,
     "ユーザ設定１ Portの設定範囲は不正です。(1～65535)"},
    {1094, 1095, 1096, &CFowerdDlg::localhostGen2, &CFowerdDlg::hostGen2,
     "ユーザ設定２ Portの設定範囲は不正です。(1～65535)"},
};

CFowerdDlg::CFowerdDlg()
    : CDialog(134, nullptr),
      localhostCvs(0),
      localhostFtp(0),
      localhostGen1(0),
      localhostGen2(0),
      localhostHttp(0)
{
}

CFowerdDlg::~CFowerdDlg() = default;

void CFowerdDlg::DoDataExchange(CDataExchange* dx)
{
    CDialog::DoDataExchange(dx);
    DDX_Check(dx, 1088, localhostCvs);
    DDX_Check(dx, 1082, localhostFtp);
    DDX_Check(dx, 1091, localhostGen1);
    DDX_Check(dx, 1094, localhostGen2);
    DDX_Check(dx, 1085, localhostHttp);
    DDX_Text(dx, 1089, hostCvs);
    DDX_Text(dx, 1090, portCvs);
    DDX_Text(dx, 1083, hostFtp);
    DDX_Text(dx, 1084, portFtp);
    DDX_Text(dx, 1092, hostGen1);
    DDX_Text(dx, 1093, portGen1);
    DDX_Text(dx, 1095, hostGen2);
    DDX_Text(dx, 1096, portGen2);
    DDX_Text(dx, 1086, hostHttp);
    DDX_Text(dx, 1087, portHttp);
}

BOOL CFowerdDlg::OnInitDialog()
{
    CDialog::OnInitDialog();
    for (const Row& row : rows) {
        if (this->*row.host == localhostAddress) {
            this->*row.flag = 1;
            if (CWnd* host = GetDlgItem(row.hostId))
                host->EnableWindow(FALSE);
        }
    }
    UpdateData(FALSE);
    return TRUE;
}

BOOL CFowerdDlg::OnCommand(WPARAM wParam, LPARAM lParam)
{
    if (HIWORD(wParam) == BN_CLICKED) {
        switch (LOWORD(wParam)) {
        case 1082: OnLocalhostFtpClicked(); return TRUE;
        case 1085: OnLocalhostHttpClicked(); return TRUE;
        case 1088: OnLocalhostCvsClicked(); return TRUE;
        case 1091: OnLocalhostGen1Clicked(); return TRUE;
        case 1094: OnLocalhostGen2Clicked(); return TRUE;
        case 1098: OnOkClicked(); return TRUE;
        default: break;
        }
    }
    return CDialog::OnCommand(wParam, lParam);
}

void CFowerdDlg::OnLocalhostFtpClicked() { localhostClicked(rows[0]); }
void CFowerdDlg::OnLocalhostHttpClicked() { localhostClicked(rows[1]); }
void CFowerdDlg::OnLocalhostCvsClicked() { localhostClicked(rows[2]); }
void CFowerdDlg::OnLocalhostGen1Clicked() { localhostClicked(rows[3]); }
void CFowerdDlg::OnLocalhostGen2Clicked() { localhostClicked(rows[4]); }

void CFowerdDlg::localhostClicked(const Row& row)
{
    UpdateData(TRUE);
    CWnd* host = GetDlgItem(row.hostId);
    if (host == nullptr)
        return;
    if (this->*row.flag == 1) {
        host->SetWindowText(localhostAddress);
        host->EnableWindow(FALSE);
    } else {
        host->EnableWindow(TRUE);
    }
}

void CFowerdDlg::OnOkClicked()
{
    bool allValid = true;
    for (const Row& row : rows) {
        int port = portOf(*this, row.portId);
        if (port < 1 || port > 65535) {
            allValid = false;
            MessageBoxA(GetSafeHwnd(), row.rangeMessage, "確認", MB_OK);
            if (CWnd* edit = GetDlgItem(row.portId))
                SendMessage(WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(edit->GetSafeHwnd()), TRUE);
        }
    }
    if (!allValid)
        return;
    // The numbers go back, not the texts typed: the main window shows
    // and saves the port itself.
    for (const Row& row : rows)
        SetDlgItemInt(row.portId, static_cast<UINT>(portOf(*this, row.portId)), FALSE);
    CDialog::OnOK();
}
