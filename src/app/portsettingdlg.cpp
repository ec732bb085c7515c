#include "app/portsettingdlg.h"

CPortSettingDlg::CPortSettingDlg() : CDialog(138, nullptr), port(0) {}

CPortSettingDlg::~CPortSettingDlg() = default;

void CPortSettingDlg::DoDataExchange(CDataExchange* dx)
{
    CDialog::DoDataExchange(dx);
    DDX_Control(dx, 1118, spin);
}

BOOL CPortSettingDlg::OnInitDialog()
{
    CDialog::OnInitDialog();
    spin.SetRange32(0, 65535);
    spin.SetPos32(port);
    UpdateData(FALSE);
    return TRUE;
}

void CPortSettingDlg::OnOK()
{
    UpdateData(TRUE);
    // The edit's number when it is a port in 0..65535, else the last valid position.
    port = spin.GetPos32();
    CDialog::OnOK();
}
