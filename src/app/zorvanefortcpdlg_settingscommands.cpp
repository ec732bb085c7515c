// The main dialog's settings commands: the system settings, the forward
// settings and the four local-port dialogs. Each acts only on IDOK and then
// saves the whole settings file.
#include "app/zorvanefortcpdlg.h"

#include "app/dialogappkindselect.h"
#include "app/fowerddlg.h"
#include "app/portsettingdlg.h"

namespace {

void editLocalPort(CZorvaneForTcpDlg& owner, int (CZorvaneForTcpDlg::*get)(), void (CZorvaneForTcpDlg::*set)(int))
{
    CPortSettingDlg dialog;
    dialog.port = (owner.*get)();
    if (dialog.DoModal() != IDOK || owner.refusedWhileStreams())
        return;
    (owner.*set)(dialog.port);
    owner.save();
}

} // namespace

bool CZorvaneForTcpDlg::refusedWhileStreams()
{
    if (hub.a2aModel == nullptr || hub.a2aModel->hasStream() == 0)
        return false;
    showMessage("接続中は設定を変更できません。切断してから設定してください");
    return true;
}

void CZorvaneForTcpDlg::OnBnClickedSystemSettings()
{
    CDialogAppKindSelect dialog;
    dialog.appKind = getAppMode();
    dialog.startWindow = getStartHidden();
    dialog.soundMode = getSoundMode();
    dialog.autoConnect = getAutoConnect();
    dialog.acceptMode = getAcceptMode();
    dialog.autoConnectUser = getAutoConnectUser();
    dialog.owner = this;
    if (dialog.DoModal() != IDOK || refusedWhileStreams())
        return;
    int mode = dialog.appKind != 0 ? 1 : 0;
    if (mode != getAppMode()) {
        setAppMode(mode);
        applyAppModeLayout();
    }
    setStartHidden(dialog.startWindow);
    setSoundMode(dialog.soundMode);
    setAutoConnect(dialog.autoConnect);
    setAcceptMode(dialog.acceptMode);
    setAutoConnectUser(dialog.autoConnectUser.c_str());
    updateAcceptConditionText();
    UpdateData(FALSE);
    save();
}

void CZorvaneForTcpDlg::OnBnClickedForwardSettings()
{
    CFowerdDlg dialog;
    dialog.hostFtp = forwardHostText[0];
    dialog.portFtp = forwardPortText[0];
    dialog.hostHttp = forwardHostText[1];
    dialog.portHttp = forwardPortText[1];
    dialog.hostCvs = forwardHostText[2];
    dialog.portCvs = forwardPortText[2];
    dialog.hostGen1 = forwardHostText[3];
    dialog.portGen1 = forwardPortText[3];
    dialog.hostGen2 = forwardHostText[4];
    dialog.portGen2 = forwardPortText[4];
    if (dialog.DoModal() != IDOK || refusedWhileStreams())
        return;
    forwardHostText[0] = dialog.hostFtp;
    forwardPortText[0] = dialog.portFtp;
    forwardHostText[1] = dialog.hostHttp;
    forwardPortText[1] = dialog.portHttp;
    forwardHostText[2] = dialog.hostCvs;
    forwardPortText[2] = dialog.portCvs;
    forwardHostText[3] = dialog.hostGen1;
    forwardPortText[3] = dialog.portGen1;
    forwardHostText[4] = dialog.hostGen2;
    forwardPortText[4] = dialog.portGen2;
    UpdateData(FALSE);
    save();
}

void CZorvaneForTcpDlg::OnBnClickedEditHttpPort()
{
    editLocalPort(*this, &CZorvaneForTcpDlg::getHttpPort, &CZorvaneForTcpDlg::setHttpPort);
}

void CZorvaneForTcpDlg::OnBnClickedEditCvsPort()
{
    editLocalPort(*this, &CZorvaneForTcpDlg::getCvsPort, &CZorvaneForTcpDlg::setCvsPort);
}

void CZorvaneForTcpDlg::OnBnClickedEditGenPort1()
{
    editLocalPort(*this, &CZorvaneForTcpDlg::getGenPort1, &CZorvaneForTcpDlg::setGenPort1);
}

void CZorvaneForTcpDlg::OnBnClickedEditGenPort2()
{
    editLocalPort(*this, &CZorvaneForTcpDlg::getGenPort2, &CZorvaneForTcpDlg::setGenPort2);
}
