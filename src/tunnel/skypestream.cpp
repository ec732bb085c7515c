#include "tunnel/skypestream.h"

#include "foundation/eventlog.h"
#include "foundation/propaty.h"
#include "foundation/que.h"
#include "foundation/textutil.h"
#include "platform/trace.h"
#include "platform/winsock.h"
#include "platform/winuser.h"
#include "relay/a2apacket.h"
#include "relay/sockettcp.h"
#include "relay/tcpmanager.h"
#include "relay/tcpmanagerforftp.h"
#include "skypelink/skypecom.h"
#include "tunnel/ftprewrite.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace {

constexpr size_t kHeaderSize = sizeof(A2aPacketHeader);
static_assert(kHeaderSize == 40, "an A2A header is 40 bytes");
constexpr int kQueueCapacity = QUE_SLOT_COUNT;

// The dequeued packet of a tick; only the user-interface thread ticks, and a
// tick never runs inside another one.
alignas(8) unsigned char tickBuffer[STREAM_TICK_BUFFER_SIZE];

// A header-only packet as the stream builds its own: cleared, 40, the marker.
void buildHeader(unsigned char* packet, int kind, int code, int port, int reply, int error)
{
    A2aPacketHeader header = makeA2aHeader();
    header.port = static_cast<uint16_t>(port);
    header.kind = static_cast<uint16_t>(kind);
    header.code = static_cast<uint16_t>(code);
    header.repCode = static_cast<uint16_t>(reply);
    header.errorCode = static_cast<uint16_t>(error);
    writeA2aHeader(packet, header);
}

const char kHexDigits[] = "0123456789abcdef";

void logLine(int kind, const char* format, const char* a, const char* b, int number)
{
    char line[512];
    std::snprintf(line, sizeof line, format, a, b, number);
    QK_EVENTLOG::getInstance()->writeLog(kind, line);
}

// A from-peer queue that its relay thread can still drain: the socket is
// connected, or its thread runs and is not back in accept (a forward thread
// that is still connecting). Packets for a connection that has ended are not
// waited for.
bool drains(QK_SOCKETTCP* socket)
{
    int socketState = socket->state;
    return socketState == 2 || (socket->running == 1 && socketState != 1);
}

} // namespace

QK_SKYPESTREAM::AliveGuard::AliveGuard(QK_SKYPESTREAM* owner) : stream(owner), next(owner->guards), alive(true)
{
    owner->guards = this;
}

QK_SKYPESTREAM::AliveGuard::~AliveGuard()
{
    if (alive)
        stream->guards = next;
}

QK_SKYPESTREAM::QK_SKYPESTREAM()
    : tag{}, seen(0), forwardHost{}, forwardPort(0), commandBuffer{}, packetBuffer{}, hexBuffer{}, sendSeq(0),
      recvSeq(0), localPort(0), user{}, streamId(0), appName{}, sendReady(1), peerMainState(0), peerMainFree(0),
      peerDataLinkState(0), peerDataLinkFree(0), tcpManager(nullptr), idleTicks(0), bytesSent(0),
      bytesReceived(0), guards(nullptr)
{
    std::memcpy(tag, "QK_SKYPESTREAM", sizeof "QK_SKYPESTREAM");
}

QK_SKYPESTREAM::~QK_SKYPESTREAM()
{
    for (AliveGuard* guard = guards; guard != nullptr; guard = guard->next)
        guard->alive = false;
    guards = nullptr;
    delete tcpManager;
    tcpManager = nullptr;
}

void QK_SKYPESTREAM::ensureTcpManager()
{
    if (tcpManager == nullptr) {
        if (isFtpApplication() == 1)
            tcpManager = new QK_TCPMANAGERFORFTP();
        else
            tcpManager = new QK_TCPMANAGER(localPort);
    }
    tcpManager->startServer();
}

int QK_SKYPESTREAM::isFtpApplication()
{
    const char* ftpName = thePropaty->getFtpApplicationName();
    return ftpName != nullptr && std::strcmp(appName, ftpName) == 0 ? 1 : 0;
}

int QK_SKYPESTREAM::sendStreamCommand(const char* command)
{
    AliveGuard guard(this);
    int result = QK_SKYPECOM::getInstance()->sendCommand(command);
    if (!guard.alive)
        return 0;
    return result != 0 ? 1 : 0;
}

int QK_SKYPESTREAM::requestDisconnect()
{
    std::snprintf(commandBuffer, sizeof commandBuffer, "ALTER APPLICATION %s DISCONNECT %s:%d", appName, user,
                  streamId);
    return sendStreamCommand(commandBuffer);
}

int QK_SKYPESTREAM::sendPacket(unsigned char* packet, int length)
{
    if (length < static_cast<int>(kHeaderSize) || static_cast<uint32_t>(length) > QUE_ENTRY_SIZE) {
        trace("QK_SKYPESTREAM::sendPacket() bad length=%d, not sent\n", length);
        return 1;
    }
    A2aPacketHeader header = readA2aHeader(packet);
    if (tcpManager != nullptr) {
        QK_SOCKETTCP* mainSocket = tcpManager->mainSocket;
        if (mainSocket != nullptr && mainSocket->fromPeer != nullptr) {
            header.mainLinkState = static_cast<uint16_t>(mainSocket->state);
            header.mainLinkFree = static_cast<uint16_t>(kQueueCapacity - mainSocket->fromPeer->count);
        }
        QK_SOCKETTCP* dataSocket = tcpManager->dataLinkSocket;
        if (dataSocket != nullptr && dataSocket->fromPeer != nullptr) {
            header.dataLinkState = static_cast<uint16_t>(dataSocket->state);
            header.dataLinkFree = static_cast<uint16_t>(kQueueCapacity - dataSocket->fromPeer->count);
        }
    }
    header.sequence = sendSeq;
    ++sendSeq;
    bytesSent += header.payloadSize;
    writeA2aHeader(packet, header);

    char* out = hexBuffer;
    for (int i = 0; i < length; ++i) {
        *out++ = kHexDigits[packet[i] >> 4];
        *out++ = kHexDigits[packet[i] & 0x0f];
    }
    *out = '\0';
    return sendWriteCommand(hexBuffer);
}

int QK_SKYPESTREAM::sendWriteCommand(const char* hexText)
{
    size_t length = std::strlen(hexText) + std::strlen(appName) + std::strlen(user) + 37;
    if (length > STREAM_MAX_WRITE_COMMAND)
        return 1;   // dropped without a trace; its sequence number is used up
    std::snprintf(commandBuffer, sizeof commandBuffer, "ALTER APPLICATION %s WRITE %s:%d %s", appName, user,
                  streamId, hexText);
    if (sendStreamCommand(commandBuffer) == 0)
        return 0;
    sendReady = 0;
    return 1;
}

int QK_SKYPESTREAM::sendControl(int kind, int code, int port, int reply, int error)
{
    alignas(8) unsigned char packet[kHeaderSize];
    buildHeader(packet, kind, code, port, reply, error);
    return sendPacket(packet, static_cast<int>(kHeaderSize));
}

int QK_SKYPESTREAM::sendKeepAlive()
{
    return sendControl(KIND_NULL, 0, 0, 0, 0);
}

int QK_SKYPESTREAM::replyConnect(int port, int reply, int error)
{
    return sendControl(KIND_CONTROL, CONNECT_REPLY, port, reply, error);
}

int QK_SKYPESTREAM::replyDataLinkConnect(int port, int reply, int error)
{
    return sendControl(KIND_DLINK_CONTROL, CONNECT_REPLY, port, reply, error);
}

void QK_SKYPESTREAM::intervalTimer()
{
    if (tcpManager == nullptr || sendReady == 0)
        return;

    bool mainSent = false;
    QK_SOCKETTCP* mainSocket = tcpManager->mainSocket;
    if (mainSocket != nullptr && mainSocket->toPeer != nullptr && mainSocket->toPeer->deqEntry(tickBuffer) == 1) {
        A2aPacketHeader header = readA2aHeader(tickBuffer);
        if (sendPacket(tickBuffer, header.headerSize + header.payloadSize) != 1)
            return;   // the link is lost and this stream with it
        trace("QK_SKYPESTREAM::intervalTimer():Send A2A packet deque port=%d,kind=%d\n", header.port, header.kind);
        mainSent = true;
    }

    QK_SOCKETTCP* dataSocket = tcpManager != nullptr ? tcpManager->dataLinkSocket : nullptr;
    if (dataSocket != nullptr) {
        if (peerMainState == 2 && peerMainFree <= STREAM_DLINK_GATE_FREE) {
            trace("SKIP SEND A2A data-link data\n");
        } else if (dataSocket->toPeer != nullptr && dataSocket->toPeer->deqEntry(tickBuffer) == 1) {
            A2aPacketHeader header = readA2aHeader(tickBuffer);
            if (sendPacket(tickBuffer, header.headerSize + header.payloadSize) != 1)
                return;
            trace("QK_SKYPESTREAM::intervalTimer():Send A2A packet deque port=%d,kind=%d\n", header.port,
                  header.kind);
            return;
        }
    }

    if (mainSent)
        return;
    if (idleTicks < STREAM_KEEPALIVE_TICKS) {
        ++idleTicks;
    } else if (sendKeepAlive() != 0) {
        idleTicks = 0;
    }
}

int QK_SKYPESTREAM::deliverData(QK_SOCKETTCP* socket, bool mainLink, int port, uint32_t size)
{
    QK_QUE* queue = socket->fromPeer.get();
    for (int waits = 0; waits < STREAM_QUEUE_WAITS && queue->count >= kQueueCapacity && drains(socket); ++waits) {
        trace("#WAIT\n");
        Sleep(STREAM_QUEUE_WAIT_MS);
    }
    if (queue->enqEntry(size, packetBuffer) == 1)
        return 1;

    if (!drains(socket)) {
        // The connection this packet belonged to has already ended.
        trace("QK_SKYPESTREAM::repRead() packet for an ended connection dropped port=%d\n", port);
        return 1;
    }

    // The connection cannot take the packet: rather than leave a hole in the
    // byte stream, end it at both ends.
    if (mainLink) {
        logLine(LOG_ER, "%s:TCP接続: %s Port=%d QUEFULLを検出、切断", user, forwardHost, port);
    } else {
        trace("ERROR ");
        for (int i = 1; i < 500; ++i)
            trace("ERROR ");
        trace("\n");
        logLine(LOG_ER, "%sとのFTP接続:%sとのd-port=%d QUEFULLを検出", user, forwardHost, port);
    }
    int kind = mainLink ? KIND_CONTROL : KIND_DLINK_CONTROL;
    alignas(8) unsigned char disconnect[kHeaderSize];
    buildHeader(disconnect, kind, DISCONNECT_REQUEST, socket->port, 0, 0);
    if (queue->enqEntry(kHeaderSize, disconnect) != 1) {
        queue->reset();
        queue->enqEntry(kHeaderSize, disconnect);
    }
    return sendControl(kind, DISCONNECT_REQUEST, socket->port, 0, 0);
}

void QK_SKYPESTREAM::rewriteFtpText()
{
    A2aPacketHeader header = readA2aHeader(packetBuffer);
    unsigned char* payload = packetBuffer + kHeaderSize;
    FtpDataPort found = findFtpDataPort(payload, header.payloadSize);
    if (found.kind == FTP_TEXT_NONE || !ftpPortInRange(found.port))
        return;
    int port = static_cast<int>(found.port);
    int newPort = tcpManager->createDataLink(port);
    if (newPort == -1) {
        logLine(LOG_EV, "%sとのFTP接続:%sとのd-port=%d 作成失敗.", user, forwardHost, port);
        return;
    }
    if (newPort == port)
        return;
    uint32_t address = getLocalAddress();
    char text[128];
    size_t length = buildFtpText(found.kind, address, newPort, text, sizeof text);
    if (length == 0)
        return;
    std::memcpy(payload, text, length);
    header.payloadSize = static_cast<uint16_t>(length);
    writeA2aHeader(packetBuffer, header);
    char line[512];
    std::snprintf(line, sizeof line, "%sとのFTP接続:%sとのd-port=%d/%d 作成", user, forwardHost, newPort, port);
    QK_EVENTLOG::getInstance()->writeLog(LOG_EV, line);
}

void QK_SKYPESTREAM::repRead(const char* text)
{
    char own[STREAM_USER_SIZE + 16];
    int ownLength = std::snprintf(own, sizeof own, "%s:%d", user, streamId);
    if (ownLength < 0 || std::strncmp(text, own, static_cast<size_t>(ownLength)) != 0 || text[ownLength] != ' ') {
        trace("QK_SKYPESTREAM::repRead() SKIP NOT user=%s, id=%d\n", user, streamId);
        return;
    }
    trace("READ REPLY OK\n");
    std::memset(packetBuffer, 0, sizeof packetBuffer);
    int decoded = hexToBytes(text + ownLength + 1, packetBuffer, sizeof packetBuffer);
    A2aPacketHeader header = readA2aHeader(packetBuffer);
    if (header.headerSize == 0) {
        trace("●●●●DATA NASHI headerSize=%d\n", header.headerSize);
        return;
    }
    // The relay takes the payload from behind the 40-byte header, whatever
    // headerSize says: the packet reaches at least that far.
    uint32_t size = std::max<uint32_t>(header.headerSize, kHeaderSize) + header.payloadSize;
    if (size > static_cast<uint32_t>(decoded)) {
        trace("QK_SKYPESTREAM::repRead() packet of %u bytes in %d decoded bytes: no packet\n", size, decoded);
        return;
    }

    peerMainState = header.mainLinkState;
    peerMainFree = header.mainLinkFree;
    peerDataLinkState = header.dataLinkState;
    peerDataLinkFree = header.dataLinkFree;
    if (header.sequence != recvSeq) {
        trace("SEQ NO Error headerSEQ=%d, thisSEQ=%d\n", static_cast<int>(header.sequence),
              static_cast<int>(recvSeq));
        if (requestDisconnect() == 0)
            return;   // the link is lost and this stream with it
    }
    ++recvSeq;
    int ftp = isFtpApplication();
    bytesReceived += header.payloadSize;
    if (tcpManager == nullptr)
        return;

    const int port = header.port;
    switch (header.kind) {
    case KIND_NULL:
        trace("receive NULL packet !\n");
        break;

    case KIND_CONTROL:
        if (header.code == CONNECT_REQUEST) {
            trace("A2A RECIEV CONNECT-REQUEST:port:%d\n", port);
            if (tcpManager->notifyTcpConnectRequest(forwardPort, forwardHost) == 1) {
                if (replyConnect(port, CONNECT_OK, 0) == 1)
                    logLine(LOG_EV, "%s:TCP接続要求: %s Port=%d 接続", user, forwardHost, forwardPort);
            } else {
                int error = WSAGetLastError();
                if (replyConnect(port, CONNECT_NG, error) == 1)
                    logLine(LOG_EV, "%s:TCP接続要求: %s Port=%d 接続に失敗", user, forwardHost, forwardPort);
            }
        } else if (header.code == CONNECT_REPLY) {
            trace("A2A RECIEV CONNECT-REPLY:port:%d\n", port);
            tcpManager->notifyTcpConnectReply(port, header.repCode);
        } else if (header.code == DISCONNECT_REQUEST) {
            if (ftp == 1 && port != localPort)
                break;
            trace("A2A RECIEV DISCONNECT-REQUEST:port:%d\n", port);
            QK_SOCKETTCP* mainSocket = tcpManager->mainSocket;
            if (mainSocket != nullptr && mainSocket->fromPeer != nullptr) {
                if (mainSocket->fromPeer->count < kQueueCapacity &&
                    mainSocket->fromPeer->enqEntry(size, packetBuffer) == 1) {
                    trace("PEERからのDISCONNECTをQUEしました\n");
                } else {
                    tcpManager->notifyTcpDisconnect(port);
                    trace("PEERからのDISCONNECTをTCPMANAGERに通知しました\n");
                }
            } else {
                tcpManager->notifyTcpDisconnect(port);
                trace("PEERからのDISCONNECTをオブジェクト設定がないのでTCPMANAGERに通知しました\n");
            }
            logLine(LOG_EV, "%s:TCP切断要求: %s Port=%d 切断", user, forwardHost, port);
        }
        break;

    case KIND_DLINK_CONTROL:
        if (header.code == CONNECT_REQUEST) {
            if (tcpManager->notifyDataLinkConnectRequest(port, forwardHost) == 1) {
                if (replyDataLinkConnect(port, CONNECT_OK, 0) == 1)
                    logLine(LOG_EV, "%s:TCP接続要求(d-link): %s Port=%d 接続", user, forwardHost, port);
            } else {
                int error = WSAGetLastError();
                if (replyDataLinkConnect(port, CONNECT_NG, error) == 1)
                    logLine(LOG_EV, "%s:TCP接続要求(d-link): %s Port=%d 接続に失敗", user, forwardHost, port);
            }
        } else if (header.code == CONNECT_REPLY) {
            trace("A2A RECIEV CONNECT-REPLY:port:%d\n", port);
            tcpManager->notifyDataLinkConnectReply(port, header.repCode);
        } else if (header.code == DISCONNECT_REQUEST) {
            QK_SOCKETTCP* dataSocket = tcpManager->dataLinkSocket;
            // No trace on the data link.
            if (dataSocket == nullptr || dataSocket->fromPeer == nullptr ||
                dataSocket->fromPeer->count >= kQueueCapacity || dataSocket->fromPeer->enqEntry(size, packetBuffer) != 1)
                tcpManager->notifyDataLinkDisconnect(port);
            logLine(LOG_EV, "%s:TCP切断要求(d-link): %s Port=%d 切断", user, forwardHost, port);
        }
        break;

    case KIND_DATA: {
        QK_SOCKETTCP* mainSocket = tcpManager->mainSocket;
        if (mainSocket == nullptr || mainSocket->fromPeer == nullptr)
            break;
        if (ftp == 1) {
            rewriteFtpText();
            A2aPacketHeader rewritten = readA2aHeader(packetBuffer);
            size = std::max<uint32_t>(rewritten.headerSize, kHeaderSize) + rewritten.payloadSize;
            mainSocket = tcpManager->mainSocket;
            if (mainSocket == nullptr || mainSocket->fromPeer == nullptr)
                break;
        }
        deliverData(mainSocket, true, port, size);
        break;
    }

    case KIND_DLINK_DATA: {
        QK_SOCKETTCP* dataSocket = tcpManager->dataLinkSocket;
        if (dataSocket == nullptr || dataSocket->fromPeer == nullptr)
            break;
        deliverData(dataSocket, false, port, size);
        break;
    }

    default:
        break;
    }
}
