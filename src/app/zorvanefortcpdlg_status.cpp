// The main dialog: status display, contact and connect buttons, timers.
#include "app/zorvanefortcpdlg.h"

#include "app/boundedformat.h"
#include "app/soundswitch.h"
#include "foundation/textutil.h"
#include "platform/localtime.h"
#include "platform/trace.h"
#include "relay/socketerror.h"
#include "relay/tcpmanager.h"

#include <cstdio>
#include <cstring>
#include <string>

int32_t streamPresentFlag = 0;

namespace {
enum LampQuery { MAIN_WAITING, DATA_WAITING, MAIN_CONNECTED, DATA_CONNECTED, PEER_MAIN, PEER_DATA };

struct Lamp {
    int id;
    int channel;
    LampQuery query;
};

// In the order the display timer asks them: L, then C, then P; the FTP
// data link right after channel 0's main link in each column.
const Lamp lamps[18] = {
    {1032, 0, MAIN_WAITING},   {1043, 0, DATA_WAITING},   {1034, 1, MAIN_WAITING},
    {1036, 2, MAIN_WAITING},   {1038, 3, MAIN_WAITING},   {1040, 4, MAIN_WAITING},
    {1045, 0, MAIN_CONNECTED}, {1033, 0, DATA_CONNECTED}, {1035, 1, MAIN_CONNECTED},
    {1037, 2, MAIN_CONNECTED}, {1039, 3, MAIN_CONNECTED}, {1041, 4, MAIN_CONNECTED},
    {1047, 0, PEER_MAIN},      {1048, 0, PEER_DATA},      {1049, 1, PEER_MAIN},
    {1050, 2, PEER_MAIN},      {1051, 3, PEER_MAIN},      {1052, 4, PEER_MAIN},
};

int askLamp(QK_SKYPEAPPLICATION& application, LampQuery query)
{
    switch (query) {
    case MAIN_WAITING: return application.isMainLinkWaiting();
    case DATA_WAITING: return application.isDataLinkWaiting();
    case MAIN_CONNECTED: return application.isMainLinkConnected();
    case DATA_CONNECTED: return application.isDataLinkConnected();
    case PEER_MAIN: return application.isPeerMainLinkConnected();
    case PEER_DATA: return application.isPeerDataLinkConnected();
    }
    return 0;
}

int lampSlot(int id)
{
    for (int i = 0; i < 18; ++i) {
        if (CZorvaneForTcpDlg::lampIds[i] == id)
            return i;
    }
    return -1;
}

bool anyConnectable(const UserEntry& entry)
{
    for (int ch = 0; ch < USERENTRY_CHANNELS; ++ch) {
        if (entry.connectable[ch] == 1)
            return true;
    }
    return false;
}

// Controls that a stream locks, and the four local-port edit buttons.
const int lockedIds[] = {1023, 1055, 1003, 1005, 1007, 1009, 1010, 1058};
const int editButtonIds[] = {1115, 1116, 1042, 1044};
} // namespace

const int CZorvaneForTcpDlg::lampIds[18] = {1032, 1036, 1034, 1040, 1038, 1043,
                                            1045, 1035, 1039, 1041, 1047, 1033,
                                            1048, 1049, 1037, 1050, 1051, 1052};

void CZorvaneForTcpDlg::showMessage(const char* text)
{
    messageText = text ? text : "";
    listenFailureOnLine = 0;
    messageShown = 1;
    messageTicks = 6;
    UpdateData(FALSE);
}

void CZorvaneForTcpDlg::notifyLogLine(const char* line)
{
    // Lines read back from the log files still end with their CR LF: the
    // list shows the line without it (a bare line end adds nothing).
    std::string text = line ? line : "";
    while (!text.empty() && (text.back() == '\r' || text.back() == '\n'))
        text.pop_back();
    if (text.empty() && line != nullptr && line[0] != '\0')
        return;
    logList.AddString(text.c_str());
    int count = logList.GetCount();
    if (count > 2000)
        count = logList.DeleteString(0);
    logList.SetTopIndex(count - 1);
}

void CZorvaneForTcpDlg::notifyLinkStatus()
{
    int status = hub.skypeCom ? static_cast<int>(hub.skypeCom->linkStatus) : 0;
    linkStatus = status;
    trace("notify from SkypeCom status chenge %d\n", status);
    switch (status) {
    case 0: linkStatusText = "通信ドライバと未接続"; break;
    case 1: linkStatusText = "通信ドライバと接続"; break;
    case 2: linkStatusText = "通信ドライバと認証中"; break;
    case 3: linkStatusText = "通信ドライバと切断中"; break;
    default: break;
    }
    SetDlgItemText(1025, linkStatusText.c_str());
    // The link is lost: every stream goes with it, and so does what the
    // lamps showed (they are asked only while the link is attached).
    if (status == LINK_NOT_ATTACHED) {
        for (const Lamp& lamp : lamps) {
            lampValues[lampSlot(lamp.id)] = 0;
            CheckDlgButton(lamp.id, 0);
        }
    }
}

void CZorvaneForTcpDlg::notifyModelChange()
{
    QK_SKYPEMODEL* model = hub.skypeModel;
    if (model == nullptr || model->userList.empty()) {
        contactName.clear();
        contactStatusText.clear();
    } else {
        const UserEntry& entry = model->userList[static_cast<size_t>(model->selectedIndex)];
        contactName = entry.name;
        if (entry.status == CONTACT_OFFLINE)
            contactStatusText = "オフライン";
        else if (entry.status == CONTACT_ONLINE)
            contactStatusText = hub.isSelectedUserConnectable() ? "接続可能" : "オンライン";
        else
            contactStatusText.clear();
    }
    SetDlgItemText(1006, contactName.c_str());
    SetDlgItemText(1064, contactStatusText.c_str());
}

void CZorvaneForTcpDlg::notifyReserved() {}

void CZorvaneForTcpDlg::notifyStreamChange()
{
    bool stream = hub.a2aModel != nullptr && hub.a2aModel->hasStream() != 0;
    if (streamPresentFlag == 0 && stream) {
        streamPresentFlag = 1;
        playSound(141);
        if (applicationMode == 1)
            PostMessageA(HWND_BROADCAST, openMessageId, 0, 0);
    } else if (streamPresentFlag == 1 && !stream) {
        streamPresentFlag = 0;
        playSound(139);
    }

    bool client = applicationMode == 1;
    SetDlgItemText(1024, stream ? "切断" : "手動接続");
    for (int id : lockedIds)
        GetDlgItem(id)->EnableWindow(stream ? FALSE : TRUE);
    for (int id : editButtonIds)
        GetDlgItem(id)->ShowWindow(stream || !client ? SW_HIDE : SW_SHOW);
    if (client) {
        for (int id = 1122; id <= 1126; ++id)
            GetDlgItem(id)->ShowWindow(stream ? SW_SHOW : SW_HIDE);
        for (int id : editButtonIds)
            GetDlgItem(id)->EnableWindow(stream ? FALSE : TRUE);
    }
    copyText(trayIconData.szTip, sizeof trayIconData.szTip,
             stream ? "ZorvaneForTCP\r\nオンライン" : "ZorvaneForTCP\r\nオフライン");
    Shell_NotifyIconA(NIM_MODIFY, &trayIconData);
}

void CZorvaneForTcpDlg::notifyTraffic(int channel, double sent, double received)
{
    if (applicationMode != 1 || channel < 0 || channel > 4)
        return;
    char text[100];
    formatBounded(text, sizeof text, "S:%.1f,R:%.1f [KB/S]", sent / 1000.0, received / 1000.0);
    SetDlgItemText(1122 + channel, text);
}

void CZorvaneForTcpDlg::OnBnClickedSwitchUser()
{
    if (autoConnect != 0) {
        showMessage("自動接続モードです。ユーザの切り替えはできません。");
        return;
    }
    QK_SKYPEMODEL* model = hub.skypeModel;
    if (model == nullptr)
        return;
    model->selectedIndex += 1;
    if (model->selectedIndex >= static_cast<int32_t>(model->userList.size()))
        model->selectedIndex = 0;
    for (size_t i = 0; i < model->listeners.size(); ++i)
        model->listeners[i]->notifyModelChange();
    bool connectable = !model->userList.empty() &&
                       anyConnectable(model->userList[static_cast<size_t>(model->selectedIndex)]);
    playSound(connectable ? 140 : 142);
}

void CZorvaneForTcpDlg::OnBconnect()
{
    trace("CZorvaneForTcpDlg::OnBconnect()\n");
    // With an empty contact list the messages name nobody (an empty name).
    std::string name;
    QK_SKYPEMODEL* model = hub.skypeModel;
    if (model != nullptr && !model->userList.empty())
        name = model->userList[static_cast<size_t>(model->selectedIndex)].name;

    char caption[64] = {};
    GetDlgItemText(1024, caption, sizeof caption);
    char message[100];
    if (std::strcmp(caption, "手動接続") != 0) {
        if (hub.a2aModel)
            hub.a2aModel->disconnectAll();
        formatNamed(message, sizeof message, "%sへのSKYPE STREAM切断操作を行いました", name.c_str());
    } else if (applicationMode != 1) {
        formatBounded(message, sizeof message, "%s", "サーバからの接続はできません");
    } else if (hub.isSelectedUserConnectable()) {
        hub.a2aModel->connectSelectedUser();
        formatNamed(message, sizeof message, "%sへのSKYPE STREAM接続操作を行いました", name.c_str());
    } else {
        formatNamed(message, sizeof message, "現在選択中のユーザ%sは接続可能状態ではありません",
                    name.c_str());
    }
    showMessage(message);
}

void CZorvaneForTcpDlg::OnTimer(UINT_PTR id)
{
    if (id == 1)
        displayTick();
    else if (id == 2)
        autoConnectTick();
    else if (id == 3)
        trayUpkeep();
    CDialog::OnTimer(id);
}

void CZorvaneForTcpDlg::displayTick()
{
    SYSTEMTIME now;
    GetLocalTime(&now);
    char clock[24];
    std::snprintf(clock, sizeof clock, "%02d:%02d:%02d", now.wHour, now.wMinute, now.wSecond);
    clockText = clock;
    SetDlgItemText(1065, clock);
    if (linkStatus == 1 && hub.a2aModel != nullptr) {
        for (const Lamp& lamp : lamps) {
            int answer = askLamp(hub.a2aModel->applications[lamp.channel], lamp.query);
            lampValues[lampSlot(lamp.id)] = answer;
            CheckDlgButton(lamp.id, answer != 0 ? 1 : 0);
        }
    }
    if (messageShown == 1) {
        messageTicks -= 1;
        if (messageTicks <= 0) {
            messageShown = 0;
            messageText.clear();
            SetDlgItemText(1012, "");
        }
    }
    reportListenFailure();
}

void CZorvaneForTcpDlg::reportListenFailure()
{
    // Each failure keeps the line for its own three seconds.
    if (hub.a2aModel == nullptr || (messageShown == 1 && listenFailureOnLine == 1))
        return;
    for (int channel = 0; channel < A2A_CHANNEL_COUNT; ++channel) {
        for (QK_SKYPESTREAM* stream : hub.a2aModel->applications[channel].streams) {
            QK_TCPMANAGER* manager = stream != nullptr ? stream->tcpManager : nullptr;
            if (manager == nullptr || manager->listenError == 0)
                continue;
            int error = manager->listenError;
            manager->listenError = 0;
            char message[100];
            formatBounded(message, sizeof message, "%sのポート%dを開けません: %s(%d)", channelLabel(channel),
                          static_cast<int>(manager->port), socketErrorText(error), error);
            showMessage(message);
            listenFailureOnLine = 1;
            return;
        }
    }
}

void CZorvaneForTcpDlg::autoConnectTick()
{
    if (suspendedFlag != 0 || linkStatus != 1 || autoConnect == 0 || applicationMode != 1 ||
        autoConnectUser.empty() || hub.skypeModel == nullptr)
        return;
    QK_SKYPEMODEL* model = hub.skypeModel;
    model->selectUser(autoConnectUser.c_str());
    if (model->userList.empty())
        return;
    // Only the named contact is ever called: the selection is it only when
    // the whole name matches, as selectUser compares; otherwise the selection
    // stayed where it was and nobody is called.
    int32_t index = model->selectedIndex;
    bool selected = index >= 0 && static_cast<size_t>(index) < model->userList.size() &&
                    model->userList[static_cast<size_t>(index)].name == autoConnectUser;
    if (!selected) {
        if (autoConnectUserMissing == 0) {
            autoConnectUserMissing = 1;
            char message[100];
            formatNamed(message, sizeof message, "自動接続先%sはコンタクトリストにいません",
                        autoConnectUser.c_str());
            showMessage(message);
        }
        return;
    }
    autoConnectUserMissing = 0;
    if (!hub.isSelectedUserConnectable())
        return;
    if (autoConnectCountdown > 0) {
        autoConnectCountdown -= 1;
        return;
    }
    autoConnectCountdown = 600;
    hub.a2aModel->connectSelectedUser();
    char message[100];
    formatNamed(message, sizeof message, "%sへのSKYPE STREAM接続操作を行いました", autoConnectUser.c_str());
    showMessage(message);
}

void CZorvaneForTcpDlg::trayUpkeep()
{
    if (!Shell_NotifyIconA(NIM_MODIFY, &trayIconData))
        addTrayIcon();
}
