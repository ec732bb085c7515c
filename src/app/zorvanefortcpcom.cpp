#include "app/zorvanefortcpcom.h"

#include "foundation/propaty.h"
#include "foundation/textutil.h"
#include "relay/sockettcp.h"

#include <cstdio>
#include <cstring>

namespace {
// Skype application names of channels 1-4; channel 0's comes from the settings.
const char* const fixedApplicationNames[A2A_CHANNEL_COUNT] = {
    nullptr, "ZorvaneForHttp000", "ZorvaneForCvs0000", "ZorvaneForVnc0000", "ZorvaneForTcp2000"};

// Deletes a singleton through its process-wide pointer and clears the
// pointer; nothing happens when there is none.
template <class T>
void deleteSingleton(T*& instance)
{
    if (instance) {
        delete instance;
        instance = nullptr;
    }
}
} // namespace

CZorvaneForTcpCom::CZorvaneForTcpCom()
    : ownerWindow(nullptr), skypeCom(nullptr), skypeModel(nullptr), a2aModel(nullptr)
{
    QK_EVENTLOG::getInstance()->addListener(this);
}

CZorvaneForTcpCom::~CZorvaneForTcpCom()
{
    listeners.clear();
    deleteSingleton(QK_A2AMODEL::instance);
    a2aModel = nullptr;
    deleteSingleton(QK_SKYPEMODEL::instance);
    skypeModel = nullptr;
    deleteSingleton(QK_SKYPECOM::instance);
    skypeCom = nullptr;
    deleteSingleton(QK_EVENTLOG::instance);
    listeners.shrink_to_fit();
}

void CZorvaneForTcpCom::addListener(CZorvaneForTcpComListener* listener)
{
    listeners.push_back(listener);
}

void CZorvaneForTcpCom::start(HWND window)
{
    ownerWindow = window;

    skypeCom = QK_SKYPECOM::getInstance();
    skypeCom->addUser(this);

    skypeModel = QK_SKYPEMODEL::getInstance();
    skypeModel->addListener(this);

    a2aModel = QK_A2AMODEL::getInstance();
    a2aModel->addListener(this);

    for (int channel = 0; channel < A2A_CHANNEL_COUNT; ++channel) {
        QK_SKYPEAPPLICATION& application = a2aModel->applications[channel];
        const char* name = channel == 0 ? thePropaty->getFtpApplicationName()
                                        : fixedApplicationNames[channel];
        application.index = channel;
        copyText(application.name, sizeof application.name, name);
    }

    skypeCom->startDiscovery(window);

    // The first socket of the process starts the socket layer.
    QK_SOCKETTCP probe;
    probe.initSocket();
    probe.createServerAnyPort(100);
    probe.teardown();
}

bool CZorvaneForTcpCom::isSelectedUserConnectable()
{
    if (!skypeModel || skypeModel->userList.empty())
        return false;
    if (skypeModel->selectedIndex < 0 ||
        static_cast<size_t>(skypeModel->selectedIndex) >= skypeModel->userList.size())
        return false;
    const UserEntry& user = skypeModel->userList[static_cast<size_t>(skypeModel->selectedIndex)];
    for (int channel = 0; channel < USERENTRY_CHANNELS; ++channel) {
        if (user.connectable[channel] == 1)
            return true;
    }
    return false;
}

void CZorvaneForTcpCom::notifyConnectStatsuChange(int status)
{
    for (size_t i = 0; i < listeners.size(); ++i)
        listeners[i]->notifyLinkStatus();
    if (status != LINK_NOT_ATTACHED)
        return;
    if (a2aModel)
        a2aModel->cancelAllStreams();
    if (skypeModel)
        skypeModel->resetModel();
}

void CZorvaneForTcpCom::notifyModelChange()
{
    for (size_t i = 0; i < listeners.size(); ++i)
        listeners[i]->notifyModelChange();
}

void CZorvaneForTcpCom::notifyStreamChange()
{
    for (size_t i = 0; i < listeners.size(); ++i)
        listeners[i]->notifyStreamChange();
}

void CZorvaneForTcpCom::notifyTraffic(int channel, double sent, double received)
{
    for (size_t i = 0; i < listeners.size(); ++i)
        listeners[i]->notifyTraffic(channel, sent, received);
}

void CZorvaneForTcpCom::notifyLogLine(const char* line)
{
    for (size_t i = 0; i < listeners.size(); ++i)
        listeners[i]->notifyLogLine(line);
}
