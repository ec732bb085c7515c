// The main dialog: layout by application mode, accept-condition text, footer,
// colours, the folding log area and the channel enable boxes.
#include "app/zorvanefortcpdlg.h"

#include "app/boundedformat.h"
#include "app/versiontext.h"

namespace {
const int forwardIds[] = {1058, 1086, 1087, 1088, 1089, 1090, 1092, 1093, 1094, 1095, 1096};
const int clientIds[] = {1100, 1101, 1102, 1119, 1120, 1115, 1116, 1042, 1044,
                         1103, 1032, 1043, 1034, 1036, 1038, 1040};
const int trafficIds[] = {1122, 1123, 1124, 1125, 1126};

// Controls whose information stands in light yellow.
bool isInformationField(int id)
{
    return id == 1006 || id == 1012 || id == 1025 || id == 1026 || (id >= 1063 && id <= 1066) ||
           (id >= 1086 && id <= 1090) || (id >= 1092 && id <= 1096) ||
           (id >= 1100 && id <= 1102) || id == 1119 || id == 1120;
}

constexpr int foldedLogHeight = 183;
} // namespace

void CZorvaneForTcpDlg::applyAppModeLayout()
{
    bool client = applicationMode == 1;
    for (int id : forwardIds)
        GetDlgItem(id)->ShowWindow(client ? SW_HIDE : SW_SHOW);
    for (int id : clientIds)
        GetDlgItem(id)->ShowWindow(client ? SW_SHOW : SW_HIDE);
    if (!client) {
        for (int id : trafficIds)
            GetDlgItem(id)->ShowWindow(SW_HIDE);
    }
    modeText = client ? "Client Application 動作選択" : "Sever Application 動作選択";
    SetDlgItemText(1063, modeText.c_str());
}

void CZorvaneForTcpDlg::updateAcceptConditionText()
{
    if (applicationMode == 0)
        acceptConditionText = acceptMode == 0 ? "選択表示中ユーザの接続受付可"
                                              : "コンタクトリストのユーザからの接続受付可";
    else
        acceptConditionText = autoConnect == 1 ? "自動接続モード:1分毎に接続操作を行います"
                                               : "手動接続モード:接続ボタンで接続してください";
}

void CZorvaneForTcpDlg::buildFooterText()
{
    char version[256];
    copyVersionForDisplay(version, sizeof version, getVersionText());
    char footer[300];
    formatBounded(footer, sizeof footer, "%s  Powered by Tessivarnel", version);
    footerText = footer;
}

HBRUSH CZorvaneForTcpDlg::OnCtlColor(CDC* dc, CWnd* control, UINT kind)
{
    HBRUSH brush = CDialog::OnCtlColor(dc, control, kind);
    if (kind == CTLCOLOR_DLG)
        return paleBrush;
    if (kind == CTLCOLOR_STATIC) {
        dc->SetBkMode(TRANSPARENT);
        return control != nullptr && isInformationField(control->GetDlgCtrlID()) ? lightBrush
                                                                               : paleBrush;
    }
    return brush;
}

void CZorvaneForTcpDlg::OnBnClickedLogToggle()
{
    logShown = logShown == 1 ? 0 : 1;
    applyLogLayout();
}

void CZorvaneForTcpDlg::applyLogLayout()
{
    int width = savedWindowRect.right - savedWindowRect.left;
    int height = savedWindowRect.bottom - savedWindowRect.top;
    if (logShown == 1) {
        SetDlgItemText(1114, "↑LOG表示");
    } else {
        SetDlgItemText(1114, "↓LOG表示");
        height -= foldedLogHeight;
    }
    SetWindowPos(nullptr, 0, 0, width, height, SWP_NOMOVE | SWP_NOZORDER | SWP_SHOWWINDOW);
}

void CZorvaneForTcpDlg::OnBnClickedEnablePort()
{
    UpdateData(TRUE);
    save();
}

