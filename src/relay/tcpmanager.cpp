#include "relay/tcpmanager.h"

#include "foundation/eventlog.h"
#include "foundation/propaty.h"
#include "platform/trace.h"
#include "relay/a2apacket.h"
#include "relay/socketerror.h"

#include <cstdio>
#include <cstring>
#include <string>

namespace {

constexpr size_t kLogBufferSize = 100;

void writeEvent(const char* text) { QK_EVENTLOG::getInstance()->writeLog(LOG_EV, text); }

// The longest start of text of at most limit bytes that ends on a whole
// UTF-8 character.
size_t wholeCharacters(const char* text, size_t limit)
{
    size_t n = limit;
    while (n > 0 && (static_cast<unsigned char>(text[n]) & 0xC0) == 0x80)
        --n;
    return n;
}

// Fits text into the room left by the format, shortening it with "...".
std::string fitted(const char* format, const char* text, int number)
{
    char probe[kLogBufferSize];
    int fixed = std::snprintf(probe, sizeof probe, format, "", number);
    size_t room = fixed < 0 || static_cast<size_t>(fixed) >= kLogBufferSize - 1
                      ? 0
                      : kLogBufferSize - 1 - static_cast<size_t>(fixed);
    size_t length = std::strlen(text);
    if (length <= room)
        return text;
    constexpr size_t kEllipsis = 3;
    if (room < kEllipsis)
        return std::string();
    return std::string(text, wholeCharacters(text, room - kEllipsis)) + "...";
}

} // namespace

void tcpLog(const char* format, int number)
{
    char buffer[kLogBufferSize];
    std::snprintf(buffer, sizeof buffer, format, number);
    writeEvent(buffer);
}

void tcpLogHost(const char* format, const char* host, int number)
{
    char buffer[kLogBufferSize];
    std::string shortHost = fitted(format, host ? host : "", number);
    std::snprintf(buffer, sizeof buffer, format, shortHost.c_str(), number);
    writeEvent(buffer);
}

void tcpLogWord(const char* format, const char* word, int number)
{
    tcpLogHost(format, word, number);
}

QK_TCPMANAGER::QK_TCPMANAGER(int portNumber) : port(portNumber), listenError(0)
{
    std::memcpy(tag, "QK_TCPMANAGER", sizeof tag);
    QK_TCPMANAGER::resetSockets();
}

QK_TCPMANAGER::~QK_TCPMANAGER()
{
    if (mainSocket) {
        mainSocket->teardown();
        delete mainSocket;
        mainSocket = nullptr;
    }
    if (dataLinkSocket) {
        dataLinkSocket->teardown();
        delete dataLinkSocket;
        dataLinkSocket = nullptr;
    }
}

void QK_TCPMANAGER::resetSockets()
{
    mainSocket = nullptr;
    dataLinkSocket = nullptr;
    role = thePropaty && thePropaty->getAppMode() != 0 ? SOCKET_ROLE_SERVER : SOCKET_ROLE_CLIENT;
}

QK_SOCKETTCP* QK_TCPMANAGER::getMainSocket()
{
    if (!mainSocket) {
        mainSocket = new QK_SOCKETTCP();
        mainSocket->initSocket();
        mainSocket->peerHalfClose = peerHalfClose;
    }
    return mainSocket;
}

QK_SOCKETTCP* QK_TCPMANAGER::getDataLinkSocket()
{
    if (!dataLinkSocket) {
        dataLinkSocket = new QK_SOCKETTCP();
        dataLinkSocket->initSocket();
        dataLinkSocket->isMainLink = 0;
        dataLinkSocket->peerHalfClose = peerHalfClose;
    }
    return dataLinkSocket;
}

void QK_TCPMANAGER::setPeerHalfClose(int32_t on)
{
    peerHalfClose = on;
    if (mainSocket)
        mainSocket->peerHalfClose = on;
    if (dataLinkSocket)
        dataLinkSocket->peerHalfClose = on;
}

void QK_TCPMANAGER::closeSocket(QK_SOCKETTCP*& socketObject)
{
    if (!socketObject)
        return;
    bool listened = socketObject->role == SOCKET_ROLE_SERVER;
    bool connected = socketObject->state == SOCKET_STATE_CONNECTED;
    int logPort = listened ? socketObject->boundPort : socketObject->port;
    socketObject->stopThread();
    if (listened || connected)
        tcpLog("TCP切断: ポート番号=%d", logPort);
    socketObject->teardown();
    delete socketObject;
    socketObject = nullptr;
}

void QK_TCPMANAGER::deliverReply(QK_SOCKETTCP* socketObject, int reply)
{
    if (!socketObject)
        return;
    char word[16];
    if (reply == CONNECT_OK) {
        socketObject->replyState = REPLY_CONNECT_OK;
        std::snprintf(word, sizeof word, "OK");
    } else if (reply == CONNECT_NG) {
        socketObject->replyState = REPLY_CONNECT_NG;
        std::snprintf(word, sizeof word, "NG");
    } else {
        // An unknown answer changes nothing; the log shows its number.
        std::snprintf(word, sizeof word, "%d", reply);
    }
    tcpLogWord("TCP接続応答(%s): ポート番号=%d", word, socketObject->boundPort);
}

int QK_TCPMANAGER::connectAndRelay(QK_SOCKETTCP* socketObject, const char* host, int logPort,
                                   const char* madeFormat)
{
    const char* h = host ? host : "";
    if (!socketObject->connectClient()) {
        int error = WSAGetLastError();
        tcpLogHost("TCP接続失敗: %s ポート番号=%d", h, logPort);
        WSASetLastError(error); // the stream answers with this one
        return 0;
    }
    socketObject->startThread();
    tcpLogHost(madeFormat, h, logPort);
    return 1;
}

void QK_TCPMANAGER::startServer()
{
    if (role != SOCKET_ROLE_SERVER)
        return;
    QK_SOCKETTCP* s = getMainSocket();
    if (s->createServer(port)) {
        listenError = 0;
        s->startThread();
        tcpLog("サーバソケット作成: ポート番号=%d ", port);
        return;
    }
    listenError = WSAGetLastError();
    if (listenError == 0)
        listenError = WSAEINVAL;
    // Nothing listens: no socket is left to close or to show.
    s->teardown();
    delete s;
    mainSocket = nullptr;
    char line[kLogBufferSize];
    std::snprintf(line, sizeof line, "サーバソケット作成失敗: ポート番号=%d %s(%d)", port,
                  socketErrorText(listenError), static_cast<int>(listenError));
    writeEvent(line);
}

void QK_TCPMANAGER::closeAll() { closeSocket(mainSocket); }

int QK_TCPMANAGER::notifyTcpConnectRequest(int portNumber, const char* host, uint32_t connection)
{
    trace("TCPMANAMGER:notifyTcpConnectRequest:port%d\n", portNumber);
    QK_SOCKETTCP* s = getMainSocket();
    s->prepareClient(portNumber, host, connection);
    const char* h = host ? host : "";
    bool local = std::strcmp(h, "localhost") == 0 || std::strcmp(h, "LOCALHOST") == 0 ||
                 std::strcmp(h, "127.0.0.1") == 0;
    // A host that did not resolve fails here and now: the forward thread
    // would have no target and the peer, told OK, would wait for ever.
    bool unresolved = s->targetAddr.sin_family != AF_INET;
    if (local || unresolved)
        return connectAndRelay(s, h, portNumber, "TCP接続: %s ポート番号=%d");
    s->executeSocketOnConnect();
    tcpLogHost("TCP接続(外部): %s ポート番号=%d", h, portNumber);
    return 1;
}

void QK_TCPMANAGER::notifyTcpConnectReply(int portNumber, int reply)
{
    trace("TCPMANAGER:notifyTcpConnectReply() port:%d, repCode:%d\n", portNumber, reply);
    deliverReply(mainSocket, reply);
}

void QK_TCPMANAGER::notifyTcpDisconnect(int portNumber)
{
    if (portNumber == port && mainSocket)
        mainSocket->stopThread();
    tcpLog("TCP切断: ポート番号=%d", portNumber);
}

int QK_TCPMANAGER::createDataLink(int portNumber) { return portNumber; }

int QK_TCPMANAGER::notifyDataLinkConnectRequest(int, const char*, uint32_t) { return 0; }

void QK_TCPMANAGER::notifyDataLinkConnectReply(int, int) {}

void QK_TCPMANAGER::notifyDataLinkDisconnect(int) {}

void QK_TCPMANAGER::endUnusedDataLink() {}
