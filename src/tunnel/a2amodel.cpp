#include "tunnel/a2amodel.h"

#include "foundation/eventlog.h"
#include "foundation/propaty.h"
#include "foundation/textutil.h"
#include "platform/trace.h"
#include "platform/winuser.h"
#include "relay/tcpmanager.h"
#include "skypelink/skypemodel.h"

#include <cstdio>
#include <cstring>

namespace {

constexpr size_t kTokenSize = 256;
constexpr size_t kCommandSize = 1024;

int sendCommand(const char* command)
{
    return QK_SKYPECOM::getInstance()->sendCommand(command);
}

} // namespace

QK_A2AMODEL* QK_A2AMODEL::instance = nullptr;

QK_A2AMODEL* QK_A2AMODEL::getInstance()
{
    if (instance == nullptr)
        instance = new QK_A2AMODEL();
    return instance;
}

QK_A2AMODEL::QK_A2AMODEL() : tag{}, streamTimerId(0), trafficTimerId(0)
{
    std::memcpy(tag, "QK_A2AMODEL", sizeof "QK_A2AMODEL");
    initModel();
}

QK_A2AMODEL::~QK_A2AMODEL()
{
    if (streamTimerId != 0)
        KillTimer(nullptr, streamTimerId);
    if (trafficTimerId != 0)
        KillTimer(nullptr, trafficTimerId);
    streamTimerId = 0;
    trafficTimerId = 0;
    listeners.clear();
    if (instance == this)
        instance = nullptr;
    // The applications (members) delete their streams and TCP managers.
}

void QK_A2AMODEL::initModel()
{
    QK_SKYPECOM::getInstance()->addUser(this);
    for (QK_SKYPEAPPLICATION& application : applications)
        application.addListener(this);
    streamTimerId = SetTimer(nullptr, 0, A2A_STREAM_TIMER_MS, &QK_A2AMODEL::streamTimerProc);
    trafficTimerId = SetTimer(nullptr, 0, A2A_TRAFFIC_TIMER_MS, &QK_A2AMODEL::trafficTimerProc);
}

void QK_A2AMODEL::addListener(QK_A2AMODELLISTENER* listener)
{
    listeners.push_back(listener);
}

void QK_A2AMODEL::notifyConnectStatsuChange(int status)
{
    trace("QK_A2AMODEL::notifyConnectStatsuChange(%d)\n", status);
    if (status == LINK_ATTACHED)
        createA2AApplication();
}

void QK_A2AMODEL::createA2AApplication()
{
    trace("QK_A2AMODEL::createA2AApplication()\n");
    for (QK_SKYPEAPPLICATION& application : applications) {
        trace("QK_A2AMODEL::createApplication() appname=%s\n", application.name);
        if (application.name[0] == '\0')
            continue;
        std::snprintf(application.createCommand, sizeof application.createCommand, "CREATE APPLICATION %s",
                      application.name);
        // A failed send has lost the link; the next attach creates them all again.
        if (sendCommand(application.createCommand) == 0)
            return;
    }
}

void QK_A2AMODEL::notifyA2Adata(const char* text)
{
    char first[kTokenSize] = {};
    char second[kTokenSize] = {};
    char third[kTokenSize] = {};
    const char* rest = nextToken(text, first, sizeof first, nullptr);
    const char* afterSecond = rest != nullptr ? nextToken(rest, second, sizeof second, nullptr) : nullptr;

    if (std::strcmp(first, "CREATE") == 0) {
        for (QK_SKYPEAPPLICATION& application : applications) {
            trace("QK_SKYPEAPPLICATION::replyCreateApplication(%s)\n", text);
            if (std::strncmp(application.createCommand, text, APPLICATION_COMMAND_SIZE) == 0) {
                trace("CREATE REPLY OK \n");
                application.state = APPLICATION_CREATED;
                char command[kCommandSize];
                std::snprintf(command, sizeof command, "GET APPLICATION %s CONNECTABLE", application.name);
                sendCommand(command);
                return;
            }
        }
        return;
    }
    if (std::strcmp(first, "DELETE") == 0)
        return;
    if (std::strcmp(first, "ALTER") == 0 && std::strcmp(second, "APPLICATION") == 0) {
        const char* afterThird = afterSecond != nullptr ? nextToken(afterSecond, third, sizeof third, nullptr) : nullptr;
        for (QK_SKYPEAPPLICATION& application : applications) {
            if (std::strncmp(application.name, third, APPLICATION_NAME_SIZE) == 0) {
                application.replyAlterApplication(afterThird != nullptr ? afterThird : "");
                return;
            }
        }
        return;
    }
    if (std::strcmp(first, "APPLICATION") == 0) {
        for (QK_SKYPEAPPLICATION& application : applications) {
            if (std::strncmp(application.name, second, APPLICATION_NAME_SIZE) == 0) {
                application.application(afterSecond != nullptr ? afterSecond : "");
                return;
            }
        }
        return;
    }
    trace("QK_A2AMODEL::notifyA2Adata():未サポート書式：%s\n", text);
}

void QK_A2AMODEL::connectSelectedUser()
{
    QK_SKYPEMODEL* model = QK_SKYPEMODEL::getInstance();
    if (model->userList.empty() || model->selectedIndex < 0 ||
        static_cast<size_t>(model->selectedIndex) >= model->userList.size())
        return;
    // A copy: a failed send resets the contact model under us.
    const std::string contact = model->userList[static_cast<size_t>(model->selectedIndex)].name;
    for (int i = 0; i < A2A_CHANNEL_COUNT; ++i) {
        QK_SKYPEAPPLICATION& application = applications[i];
        if (thePropaty->isPortEnabled(i) != 0 && application.isConnected(contact.c_str()) == 0) {
            if (application.connectPeer(contact.c_str()) == 0)
                return;
        }
    }
}

void QK_A2AMODEL::disconnectAll()
{
    for (QK_SKYPEAPPLICATION& application : applications) {
        for (size_t i = 0; i < application.streams.size(); ++i) {
            QK_SKYPESTREAM* stream = application.streams[i];
            if (stream == nullptr)
                continue;
            char command[kCommandSize];
            std::snprintf(command, sizeof command, "ALTER APPLICATION %s DISCONNECT %s:%d", application.name,
                          stream->user, stream->streamId);
            if (sendCommand(command) == 0)
                return;   // the link is lost and every stream cancelled
        }
    }
}

int QK_A2AMODEL::hasStream()
{
    for (const QK_SKYPEAPPLICATION& application : applications) {
        if (!application.streams.empty())
            return 1;
    }
    return 0;
}

void QK_A2AMODEL::cancelAllStreams()
{
    for (QK_SKYPEAPPLICATION& application : applications) {
        application.state = APPLICATION_NOT_CREATED;
        application.pollTicks = 0;
        for (size_t i = 0; i < application.streams.size(); ++i) {
            QK_SKYPESTREAM* stream = application.streams[i];
            if (stream == nullptr)
                continue;
            if (stream->tcpManager != nullptr) {
                stream->tcpManager->closeAll();
                delete stream->tcpManager;
                stream->tcpManager = nullptr;
            }
            char line[512];
            std::snprintf(line, sizeof line, "%s用 Skype STREAM は %s と　ID=%d をキャンセル",
                          channelLabel(application.index), stream->user, stream->streamId);
            QK_EVENTLOG::getInstance()->writeLog(LOG_EV, line);
            delete stream;
            application.streams[i] = nullptr;
        }
        application.streams.clear();
        for (size_t i = 0; i < application.listeners.size(); ++i)
            application.listeners[i]->notifyStreamChange();
    }
}

void QK_A2AMODEL::notifyStreamChange()
{
    for (size_t i = 0; i < listeners.size(); ++i)
        listeners[i]->notifyStreamChange();
}

void QK_A2AMODEL::notifyTraffic(int channel, double sent, double received)
{
    for (size_t i = 0; i < listeners.size(); ++i)
        listeners[i]->notifyTraffic(channel, sent, received);
}

void QK_A2AMODEL::streamTimerProc(HWND, UINT, UINT_PTR, DWORD)
{
    if (instance != nullptr)
        instance->onStreamTick();
}

void QK_A2AMODEL::trafficTimerProc(HWND, UINT, UINT_PTR, DWORD)
{
    if (instance != nullptr)
        instance->onTrafficTick();
}

void QK_A2AMODEL::onStreamTick()
{
    for (QK_SKYPEAPPLICATION& application : applications) {
        // A failed send inside a tick empties every list: the length is read afresh.
        for (size_t i = 0; i < application.streams.size(); ++i) {
            QK_SKYPESTREAM* stream = application.streams[i];
            if (stream != nullptr)
                stream->intervalTimer();
        }
        if (application.pollTicks < A2A_POLL_TICKS) {
            ++application.pollTicks;
        } else {
            application.pollTicks = 0;
            if (application.state != APPLICATION_NOT_CREATED) {
                char command[kCommandSize];
                std::snprintf(command, sizeof command, "GET APPLICATION %s CONNECTABLE", application.name);
                sendCommand(command);
            }
        }
    }
}

void QK_A2AMODEL::onTrafficTick()
{
    for (QK_SKYPEAPPLICATION& application : applications) {
        if (application.name[0] == '\0')
            continue;
        double sent = 0.0;
        double received = 0.0;
        for (QK_SKYPESTREAM* stream : application.streams) {
            if (stream == nullptr)
                continue;
            sent += static_cast<double>(stream->bytesSent);
            stream->bytesSent = 0;
            received += static_cast<double>(stream->bytesReceived);
            stream->bytesReceived = 0;
        }
        for (size_t i = 0; i < application.listeners.size(); ++i)
            application.listeners[i]->notifyTraffic(application.index, sent, received);
    }
}
