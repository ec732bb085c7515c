#include "tunnel/skypeapplication.h"

#include "foundation/eventlog.h"
#include "foundation/propaty.h"
#include "foundation/textutil.h"
#include "platform/trace.h"
#include "relay/sockettcp.h"
#include "relay/tcpmanager.h"
#include "skypelink/skypecom.h"
#include "skypelink/skypemodel.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

const char* const kLabels[] = {"ＦＴＰ", "設定１", "設定２", "設定３", "設定４"};

constexpr char kLineConnected[] = "%s用 Skype STREAM は %s と　ID=%d で接続";
constexpr char kLineRefused[] = "%s用 Skype STREAM は %s と　ID=%d を切断(拒否）";
constexpr char kLineClosed[] = "%s用 Skype STREAM は %s と　ID=%d を切断";
constexpr char kLineBound[] = "%s用 Skype STREAM は上限の%d本に達したため %s と　ID=%d を含む%d本を切断(拒否）";

bool beginsWith(const char* text, const char* keyword)
{
    return std::strncmp(text, keyword, std::strlen(keyword)) == 0;
}

int32_t decimal(const char* token)
{
    long value = std::strtol(token, nullptr, 10);
    if (value > INT32_MAX)
        value = INT32_MAX;
    if (value < INT32_MIN)
        value = INT32_MIN;
    return static_cast<int32_t>(value);
}

// Reads an entry's user, the token up to ":", into entry. Returns where the
// entry goes on, or null (with the trace `noUser` of the whole text) when the
// token runs to the end of the text.
const char* readEntryUser(const char* p, StreamEntry& entry, const char* noUser, const char* text)
{
    char token[APPLICATION_TOKEN_SIZE];
    p = nextToken(p, token, sizeof token, ":");
    if (p == nullptr) {
        trace(noUser, text);
        return nullptr;
    }
    copyText(entry.user, sizeof entry.user, token);
    return p;
}

constexpr char kTraceNoUser[] = "QK_SKYPEAPPLICATION::application(%s)書式エラーユーザ名なし\n";

// The list behind a keyword is empty when nextToken without a delimiter runs
// to its end.
bool isEmptyList(const char* list)
{
    char token[APPLICATION_TOKEN_SIZE];
    return nextToken(list, token, sizeof token, nullptr) == nullptr;
}

} // namespace

const char* channelLabel(int channel)
{
    if (channel < 0 || channel >= static_cast<int>(sizeof kLabels / sizeof kLabels[0]))
        return "";
    return kLabels[channel];
}

QK_SKYPEAPPLICATION::QK_SKYPEAPPLICATION()
    : tag{}, index(0), name{}, createCommand{}, connectTarget{}, commandText{},
      state(APPLICATION_NOT_CREATED), pollTicks(0)
{
    std::memcpy(tag, "QK_SKYPEAPPLICATION", sizeof "QK_SKYPEAPPLICATION");
}

QK_SKYPEAPPLICATION::~QK_SKYPEAPPLICATION()
{
    for (QK_SKYPESTREAM* stream : streams) {
        if (stream == nullptr)
            continue;
        delete stream->tcpManager;
        stream->tcpManager = nullptr;
        delete stream;
    }
    streams.clear();
    listeners.clear();
}

void QK_SKYPEAPPLICATION::addListener(QK_SKYPEAPPLICATIONLISTENER* listener)
{
    listeners.push_back(listener);
}

void QK_SKYPEAPPLICATION::notifyStreamChange()
{
    for (size_t i = 0; i < listeners.size(); ++i)
        listeners[i]->notifyStreamChange();
}

int QK_SKYPEAPPLICATION::sendApplicationCommand(const char* command)
{
    return QK_SKYPECOM::getInstance()->sendCommand(command);
}

void QK_SKYPEAPPLICATION::logStream(int kind, const char* format, const char* peer, int id)
{
    char line[512];
    std::snprintf(line, sizeof line, format, channelLabel(index), peer, id);
    QK_EVENTLOG::getInstance()->writeLog(kind, line);
}

void QK_SKYPEAPPLICATION::application(const char* text)
{
    if (beginsWith(text, "CONNECTABLE")) {
        // The list follows the keyword and its one separating blank.
        const char* list = text[11] != '\0' ? text + 12 : text + 11;
        QK_SKYPEMODEL::getInstance()->setConnectable(index, const_cast<char*>(list));
    } else if (beginsWith(text, "CONNECTING")) {
        trace("QK_SKYPEAPPLICATION::application() CONNECTING %s\n", text);
    } else if (beginsWith(text, "STREAMS")) {
        handleStreams(text, text + 7);
    } else if (beginsWith(text, "SENDING")) {
        handleSending(text, text + 7);
    } else if (beginsWith(text, "RECEIVED")) {
        handleReceived(text, text + 8);
    } else if (beginsWith(text, "DATAGRAM")) {
        // no datagrams are exchanged
    } else {
        trace("書式エラー：ここにはこないはず\n");
    }
}

void QK_SKYPEAPPLICATION::closeStream(size_t slot)
{
    QK_SKYPESTREAM* stream = streams[slot];
    if (stream->tcpManager != nullptr) {
        stream->tcpManager->closeAll();
        delete stream->tcpManager;
        stream->tcpManager = nullptr;
    }
    logStream(LOG_EV, kLineClosed, stream->user, stream->streamId);
    delete stream;
    streams[slot] = nullptr;
}

void QK_SKYPEAPPLICATION::closeAllStreams()
{
    for (size_t i = 0; i < streams.size(); ++i) {
        if (streams[i] != nullptr)
            closeStream(i);
    }
    streams.clear();
    state = APPLICATION_CREATED;
    notifyStreamChange();
    trace("!!STREAM ALL DISCONNECT DETECT!\n");
}

QK_SKYPESTREAM* QK_SKYPEAPPLICATION::findStream(const StreamEntry& entry)
{
    for (QK_SKYPESTREAM* stream : streams) {
        if (stream != nullptr && stream->streamId == entry.id &&
            std::strncmp(stream->user, entry.user, STREAM_USER_SIZE) == 0)
            return stream;
    }
    return nullptr;
}

bool QK_SKYPEAPPLICATION::acceptsContact(const char* peer)
{
    QK_SKYPEMODEL* model = QK_SKYPEMODEL::getInstance();
    if (thePropaty->getAcceptMode() != 0)
        return model->containsUser(peer) != 0;
    if (model->userList.empty())
        return false;
    size_t selected = static_cast<size_t>(model->selectedIndex);
    if (model->selectedIndex < 0 || selected >= model->userList.size())
        return false;
    return model->userList[selected].name == peer;
}

void QK_SKYPEAPPLICATION::handleStreams(const char* text, const char* list)
{
    if (isEmptyList(list)) {
        closeAllStreams();
        return;
    }

    // The whole list is parsed first; a malformed one is dropped whole.
    std::vector<StreamEntry> entries;
    char token[APPLICATION_TOKEN_SIZE];
    const char* p = list;
    for (;;) {
        StreamEntry entry{};
        p = readEntryUser(p, entry, kTraceNoUser, text);
        if (p == nullptr)
            return;
        p = nextToken(p, token, sizeof token, ",");
        entry.id = decimal(token);
        entries.push_back(entry);
        if (p == nullptr)
            break;
    }

    for (QK_SKYPESTREAM* stream : streams) {
        if (stream != nullptr)
            stream->seen = 0;
    }
    // The streams this list still names count against the bound; the others
    // are removed below.
    size_t held = 0;
    for (const StreamEntry& entry : entries) {
        QK_SKYPESTREAM* stream = findStream(entry);
        if (stream != nullptr && stream->seen == 0) {
            stream->seen = 1;
            ++held;
        }
    }

    const StreamEntry* firstBeyond = nullptr;
    int beyond = 0;
    for (const StreamEntry& entry : entries) {
        if (findStream(entry) != nullptr)
            continue;

        bool allowed = acceptsContact(entry.user);
        bool enabled = thePropaty->isPortEnabled(index) == 1;
        bool create = false;
        if (allowed && enabled) {
            bool manyAllowed = thePropaty->allowsMultipleStreams() == 1 && thePropaty->getAppMode() == 0;
            create = manyAllowed || streams.empty();
        }
        if (create && held >= APPLICATION_MAX_STREAMS) {
            trace("QK_SKYPEAPPLICATION: %zu streams held, %s:%d refused\n", held, entry.user, entry.id);
            if (disconnectStream(entry.user, entry.id) == 0)
                return;
            if (firstBeyond == nullptr)
                firstBeyond = &entry;
            ++beyond;
            continue;
        }
        if (create) {
            ++held;
            QK_SKYPESTREAM* stream = createStream(entry.user, entry.id);
            bool placed = false;
            for (QK_SKYPESTREAM*& slot : streams) {
                if (slot == nullptr) {
                    slot = stream;
                    placed = true;
                    break;
                }
            }
            if (!placed)
                streams.push_back(stream);
            notifyStreamChange();
        } else {
            // A failed send has lost the link and cancelled every stream:
            // nothing more is decided on this list.
            if (disconnectStream(entry.user, entry.id) == 0)
                return;
            logStream(LOG_EV, kLineRefused, entry.user, entry.id);
        }
    }
    if (firstBeyond != nullptr) {
        char line[512];
        std::snprintf(line, sizeof line, kLineBound, channelLabel(index), static_cast<int>(APPLICATION_MAX_STREAMS),
                      firstBeyond->user, firstBeyond->id, beyond);
        QK_EVENTLOG::getInstance()->writeLog(LOG_EV, line);
    }

    bool removed = false;
    for (size_t i = 0; i < streams.size(); ++i) {
        if (streams[i] != nullptr && streams[i]->seen == 0) {
            closeStream(i);
            removed = true;
        }
    }
    if (removed)
        notifyStreamChange();
}

void QK_SKYPEAPPLICATION::handleSending(const char* text, const char* list)
{
    if (isEmptyList(list)) {
        for (QK_SKYPESTREAM* stream : streams) {
            if (stream != nullptr)
                stream->sendReady = 1;
        }
        trace("!!STREAM SENDING ALL CLEAR DETECT!\n");
        return;
    }
    char token[APPLICATION_TOKEN_SIZE];
    const char* p = list;
    while (p != nullptr) {
        StreamEntry entry{};
        p = readEntryUser(p, entry, kTraceNoUser, text);
        if (p == nullptr)
            return;
        p = nextToken(p, token, sizeof token, "=");
        if (p == nullptr) {
            trace("QK_SKYPEAPPLICATION::application(%s)書式エラー IDなし\n", text);
            return;
        }
        entry.id = decimal(token);
        p = nextToken(p, token, sizeof token, " ");
        entry.count = decimal(token);
        for (QK_SKYPESTREAM* stream : streams) {
            if (stream != nullptr && stream->streamId == entry.id &&
                std::strncmp(stream->user, entry.user, STREAM_USER_SIZE) == 0)
                trace("QK_SKYPESTREAM::repSending(%d)\n", entry.count);
        }
    }
}

void QK_SKYPEAPPLICATION::handleReceived(const char* text, const char* list)
{
    if (isEmptyList(list)) {
        trace("QK_SKYPEAPPLICATION::application() RECEIVE SEQ COMLETE!\n");
        return;
    }
    // The whole list is parsed; a malformed entry anywhere sends no READ.
    // Only the first entry is read on this notification: Skype repeats
    // RECEIVED while texts wait. A stream that holds a packet for a full
    // queue is passed over; it reads by itself once the packet has gone on.
    char token[APPLICATION_TOKEN_SIZE];
    StreamEntry first{};
    bool found = false;
    const char* p = list;
    while (p != nullptr) {
        StreamEntry entry{};
        p = readEntryUser(p, entry, "書式エラー:APPLICATION RECEIVED %s\n", text);
        if (p == nullptr)
            return;
        p = nextToken(p, token, sizeof token, "=");
        if (p == nullptr) {
            trace("書式エラー\n");
            return;
        }
        entry.id = decimal(token);
        p = nextToken(p, token, sizeof token, nullptr);
        entry.count = decimal(token);
        QK_SKYPESTREAM* stream = findStream(entry);
        if (stream != nullptr && stream->holdsPacket()) {
            stream->deferRead();
        } else if (!found) {
            first = entry;
            found = true;
        }
    }
    if (!found)
        return;

    char command[APPLICATION_COMMAND_SIZE];
    std::snprintf(command, sizeof command, "ALTER APPLICATION %s READ %s:%d", name, first.user, first.id);
    sendApplicationCommand(command);
}

void QK_SKYPEAPPLICATION::replyAlterApplication(const char* text)
{
    if (beginsWith(text, "CONNECT ") && beginsWith(text + 8, connectTarget)) {
        trace("CONNECT REPLY OK\n");
        return;
    }
    if (beginsWith(text, "READ")) {
        const char* rest = text[4] != '\0' ? text + 5 : text + 4;
        // A failed reply inside repRead cancels every stream: the length is
        // read afresh after each call.
        for (size_t i = 0; i < streams.size(); ++i) {
            if (streams[i] != nullptr)
                streams[i]->repRead(rest);
        }
    }
}

int QK_SKYPEAPPLICATION::connectPeer(const char* contact)
{
    copyText(connectTarget, sizeof connectTarget, contact);
    std::snprintf(commandText, sizeof commandText, "ALTER APPLICATION %s CONNECT %s", name, connectTarget);
    return sendApplicationCommand(commandText);
}

int QK_SKYPEAPPLICATION::isConnected(const char* contact)
{
    for (QK_SKYPESTREAM* stream : streams) {
        if (stream != nullptr && std::strncmp(stream->user, contact, STREAM_USER_SIZE) == 0)
            return 1;
    }
    return 0;
}

QK_SKYPESTREAM* QK_SKYPEAPPLICATION::createStream(const char* peer, int id)
{
    QK_SKYPESTREAM* stream = new QK_SKYPESTREAM();
    copyText(stream->user, sizeof stream->user, peer);
    stream->streamId = id;
    stream->localPort = thePropaty->getLocalPort(index);
    stream->forwardPort = thePropaty->getForwardPort(index);
    copyText(stream->forwardHost, sizeof stream->forwardHost, thePropaty->getForwardHost(index));
    copyText(stream->appName, sizeof stream->appName, name);
    stream->ensureTcpManager();
    stream->seen = 1;
    state = APPLICATION_STREAM_CREATED;
    logStream(LOG_EV, kLineConnected, stream->user, stream->streamId);
    return stream;
}

int QK_SKYPEAPPLICATION::disconnectStream(const char* peer, int id)
{
    char command[APPLICATION_COMMAND_SIZE];
    std::snprintf(command, sizeof command, "ALTER APPLICATION %s DISCONNECT %s:%d", name, peer, id);
    return sendApplicationCommand(command);
}

int QK_SKYPEAPPLICATION::socketStateQuery(bool mainLink, int socketState)
{
    for (QK_SKYPESTREAM* stream : streams) {
        if (stream == nullptr || stream->tcpManager == nullptr)
            continue;
        QK_SOCKETTCP* socket = mainLink ? stream->tcpManager->mainSocket : stream->tcpManager->dataLinkSocket;
        if (socket != nullptr && socket->state == socketState)
            return 1;
    }
    return 0;
}

int QK_SKYPEAPPLICATION::isMainLinkWaiting()
{
    return socketStateQuery(true, SOCKET_STATE_ACCEPTING);
}

int QK_SKYPEAPPLICATION::isDataLinkWaiting()
{
    return socketStateQuery(false, SOCKET_STATE_ACCEPTING);
}

int QK_SKYPEAPPLICATION::isMainLinkConnected()
{
    return socketStateQuery(true, SOCKET_STATE_CONNECTED);
}

int QK_SKYPEAPPLICATION::isDataLinkConnected()
{
    return socketStateQuery(false, SOCKET_STATE_CONNECTED);
}

int QK_SKYPEAPPLICATION::isPeerMainLinkConnected()
{
    for (QK_SKYPESTREAM* stream : streams) {
        if (stream != nullptr && stream->peerMainState == SOCKET_STATE_CONNECTED)
            return 1;
    }
    return 0;
}

int QK_SKYPEAPPLICATION::isPeerDataLinkConnected()
{
    for (QK_SKYPESTREAM* stream : streams) {
        if (stream != nullptr && stream->peerDataLinkState == SOCKET_STATE_CONNECTED)
            return 1;
    }
    return 0;
}
