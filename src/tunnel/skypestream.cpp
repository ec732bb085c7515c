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
#include <iterator>

namespace {

constexpr size_t kHeaderSize = sizeof(A2aPacketHeader);
static_assert(kHeaderSize == 40, "an A2A header is 40 bytes");
constexpr int kQueueCapacity = QUE_SLOT_COUNT;

// The dequeued packet of a tick; only the user-interface thread ticks, and a
// tick never runs inside another one.
alignas(8) unsigned char tickBuffer[STREAM_TICK_BUFFER_SIZE];

// A header-only packet as the stream builds its own: cleared, 40, the marker.
void buildHeader(unsigned char* packet, int kind, int code, int port, int reply, int error, uint32_t connection)
{
    A2aPacketHeader header = makeA2aHeader();
    header.connectionId = connection;
    header.port = static_cast<uint16_t>(port);
    header.kind = static_cast<uint16_t>(kind);
    header.code = static_cast<uint16_t>(code);
    header.repCode = static_cast<uint16_t>(reply);
    header.errorCode = static_cast<uint16_t>(error);
    writeA2aHeader(packet, header);
}

// The two lower-case hexadecimal digits of every byte value.
struct HexPairs {
    char pair[256][2] = {};
    constexpr HexPairs()
    {
        constexpr char digits[] = "0123456789abcdef";
        for (int b = 0; b < 256; ++b) {
            pair[b][0] = digits[b >> 4];
            pair[b][1] = digits[b & 0x0f];
        }
    }
};
constexpr HexPairs kHexPairs;

void logLine(int kind, const char* format, const char* a, const char* b, int number)
{
    char line[512];
    std::snprintf(line, sizeof line, format, a, b, number);
    QK_EVENTLOG::getInstance()->writeLog(kind, line);
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
    : tag{}, seen(0), forwardHost{}, forwardPort(0), packetBuffer(nullptr), packetBufferSize(0), sendSeq(0),
      recvSeq(0), localPort(0), user{}, streamId(0), appName{}, sendReady(1), peerMainState(0), peerMainFree(0),
      peerDataLinkState(0), peerDataLinkFree(0), tcpManager(nullptr), idleTicks(0), bytesSent(0),
      bytesReceived(0), peerFlow(0), dataSent{}, dataTaken{}, peerTaken{}, reportedFree{}, reportedTaken{},
      announcedPorts{-1, -1, -1, -1}, announcedNext(0), announcedSession(0), guards(nullptr), readDeferred(0),
      smallCommand{}, smallHex{}, smallPacket{}
{
    packetBuffer = smallPacket;
    packetBufferSize = sizeof smallPacket;
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

QK_SKYPESTREAM::LargeBuffers& QK_SKYPESTREAM::large()
{
    if (!largeBuffers)
        largeBuffers = std::make_unique_for_overwrite<LargeBuffers>();   // each is written before it is read
    return *largeBuffers;
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
    std::snprintf(smallCommand, sizeof smallCommand, "ALTER APPLICATION %s DISCONNECT %s:%d", appName, user,
                  streamId);
    return sendStreamCommand(smallCommand);
}

int QK_SKYPESTREAM::sendPacket(unsigned char* packet, int length)
{
    if (length < static_cast<int>(kHeaderSize) || static_cast<uint32_t>(length) > QUE_ENTRY_SIZE) {
        trace("QK_SKYPESTREAM::sendPacket() bad length=%d, not sent\n", length);
        return 1;
    }
    A2aPacketHeader header = readA2aHeader(packet);
    if (tcpManager != nullptr) {
        QK_SOCKETTCP* mainSocket = linkSocket(Link::Main);
        if (mainSocket != nullptr) {
            header.mainLinkState = static_cast<uint16_t>(mainSocket->state);
            header.mainLinkFree = static_cast<uint16_t>(freeSlots(Link::Main));
            reportedFree[0] = header.mainLinkFree;
            reportedTaken[0] = dataTaken[0];
        }
        QK_SOCKETTCP* dataSocket = linkSocket(Link::Data);
        if (dataSocket != nullptr) {
            header.dataLinkState = static_cast<uint16_t>(dataSocket->state);
            header.dataLinkFree = static_cast<uint16_t>(freeSlots(Link::Data));
            reportedFree[1] = header.dataLinkFree;
            reportedTaken[1] = dataTaken[1];
        }
    }
    header.flowFlags = static_cast<uint16_t>(header.flowFlags | A2A_FLOW_CREDIT);
    header.mainLinkTaken = dataTaken[0];
    header.dataLinkTaken = dataTaken[1];
    if (header.kind == KIND_DATA)
        ++dataSent[0];
    else if (header.kind == KIND_DLINK_DATA)
        ++dataSent[1];
    header.sequence = sendSeq;
    ++sendSeq;
    bytesSent += header.payloadSize;
    writeA2aHeader(packet, header);

    char* hex = static_cast<size_t>(length) <= STREAM_SMALL_PACKET_SIZE ? smallHex : large().hex;
    char* out = hex;
    for (int i = 0; i < length; ++i, out += 2)
        std::memcpy(out, kHexPairs.pair[packet[i]], 2);
    *out = '\0';
    return sendWriteCommand(hex);
}

int QK_SKYPESTREAM::sendWriteCommand(const char* hexText)
{
    size_t length = std::strlen(hexText) + std::strlen(appName) + std::strlen(user) + 37;
    if (length > STREAM_MAX_WRITE_COMMAND)
        return 1;   // dropped without a trace; its sequence number is used up
    char* command = smallCommand;
    size_t commandSize = sizeof smallCommand;
    if (length + 12 > commandSize) {   // room for the stream id and the NUL
        command = large().command;
        commandSize = STREAM_BUFFER_SIZE;
    }
    std::snprintf(command, commandSize, "ALTER APPLICATION %s WRITE %s:%d %s", appName, user, streamId, hexText);
    if (sendStreamCommand(command) == 0)
        return 0;
    sendReady = 0;
    return 1;
}

int QK_SKYPESTREAM::sendControl(int kind, int code, int port, int reply, int error, uint32_t connection)
{
    alignas(8) unsigned char packet[kHeaderSize];
    buildHeader(packet, kind, code, port, reply, error, connection);
    return sendPacket(packet, static_cast<int>(kHeaderSize));
}

int QK_SKYPESTREAM::sendKeepAlive()
{
    return sendControl(KIND_NULL, 0, 0, 0, 0, 0);
}

int QK_SKYPESTREAM::replyConnect(int port, int reply, int error, uint32_t connection)
{
    return sendControl(KIND_CONTROL, CONNECT_REPLY, port, reply, error, connection);
}

int QK_SKYPESTREAM::replyDataLinkConnect(int port, int reply, int error, uint32_t connection)
{
    return sendControl(KIND_DLINK_CONTROL, CONNECT_REPLY, port, reply, error, connection);
}

void QK_SKYPESTREAM::intervalTimer()
{
    if (tcpManager == nullptr)
        return;
    tcpManager->endUnusedDataLink();
    if (releaseHeld() == 0)
        return;   // the link is lost and this stream with it
    if (sendReady == 0)
        return;

    bool mainSent = false;
    if (takeSendable(Link::Main)) {
        noteAnnouncedPort(tickBuffer);
        A2aPacketHeader header = readA2aHeader(tickBuffer);
        if (sendPacket(tickBuffer, header.headerSize + header.payloadSize) != 1)
            return;   // the link is lost and this stream with it
        trace("QK_SKYPESTREAM::intervalTimer():Send A2A packet deque port=%d,kind=%d\n", header.port, header.kind);
        mainSent = true;
    }

    if (tcpManager->dataLinkSocket != nullptr) {
        if (peerFlow == 0 && peerMainState == SOCKET_STATE_CONNECTED && peerMainFree <= STREAM_DLINK_GATE_FREE) {
            trace("SKIP SEND A2A data-link data\n");
        } else if (takeSendable(Link::Data)) {
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
    if (owesRoomReport()) {
        if (sendKeepAlive() != 0)
            idleTicks = 0;
        return;
    }
    if (idleTicks < STREAM_KEEPALIVE_TICKS) {
        ++idleTicks;
    } else if (sendKeepAlive() != 0) {
        idleTicks = 0;
    }
}

bool QK_SKYPESTREAM::takeSendable(Link link)
{
    QK_SOCKETTCP* socket = link == Link::Main ? tcpManager->mainSocket : tcpManager->dataLinkSocket;
    if (socket == nullptr || socket->toPeer == nullptr)
        return false;
    // A link's data waits in its queue while the peer has no room for it;
    // its control packets (always 40 bytes) need none.
    if (peerFlow != 0) {
        uint32_t front = socket->toPeer->frontSize();
        if (front > kHeaderSize && !hasCredit(link)) {
            trace("SKIP SEND A2A %s data: no room at the peer\n", link == Link::Main ? "main-link" : "data-link");
            return false;
        }
    }
    return socket->toPeer->deqEntry(tickBuffer) == 1;
}

bool QK_SKYPESTREAM::holdsPacket() const { return held.what != Held::What::None; }

void QK_SKYPESTREAM::deferRead() { readDeferred = 1; }

int QK_SKYPESTREAM::freeSlots(Link link) const
{
    QK_SOCKETTCP* socket = linkSocket(link);
    if (socket == nullptr)
        return 0;
    int free = kQueueCapacity - socket->fromPeer->count;
    if (held.what == Held::What::Packet && held.link == link)
        --free;
    return std::clamp(free, 0, kQueueCapacity);
}

bool QK_SKYPESTREAM::hasCredit(Link link) const
{
    if (peerFlow == 0)
        return true;   // a peer that does not count keeps the old pacing
    int i = index(link);
    uint16_t inFlight = static_cast<uint16_t>(dataSent[i] - peerTaken[i]);
    int peerFree = link == Link::Main ? peerMainFree : peerDataLinkFree;
    return peerFree - static_cast<int>(inFlight) > STREAM_CREDIT_RESERVE;
}

bool QK_SKYPESTREAM::owesRoomReport() const
{
    if (peerFlow == 0)
        return false;
    for (Link link : {Link::Main, Link::Data}) {
        if (linkSocket(link) == nullptr)
            continue;
        int i = index(link);
        // What the peer may still count on: the room told last, less what
        // it has sent since (taken here meanwhile).
        int believed = reportedFree[i] - static_cast<uint16_t>(dataTaken[i] - reportedTaken[i]);
        if (believed <= STREAM_CREDIT_LOW && freeSlots(link) >= believed + STREAM_CREDIT_STEP)
            return true;
    }
    return false;
}

void QK_SKYPESTREAM::hold(QK_SOCKETTCP* socket, Link link, const unsigned char* header, const unsigned char* payload,
                          size_t payloadSize, bool split)
{
    LargeBuffers& buffers = large();
    size_t room = sizeof buffers.held - kHeaderSize;
    held.what = Held::What::Packet;
    held.link = link;
    held.connection = socket->connectionId;
    held.header = readA2aHeader(header);
    held.offset = 0;
    held.payloadLeft = std::min(payloadSize, room);
    held.split = split;
    std::memmove(buffers.held + kHeaderSize, payload, held.payloadLeft);
    trace("QK_SKYPESTREAM: from-peer queue full, packet held port=%d\n", socket->port);
}

int QK_SKYPESTREAM::releaseHeld()
{
    if (held.what == Held::What::None)
        return 1;
    QK_SOCKETTCP* socket = linkSocket(held.link);
    if (held.what == Held::What::ConnectRequest) {
        if (socket != nullptr && socket->carriesConnection())
            return 1;   // the earlier connection still hands its last bytes over
        Link link = held.link;
        A2aPacketHeader header = held.header;
        held.what = Held::What::None;
        AliveGuard guard(this);
        onConnectRequest(link, header);
        if (!guard.alive)
            return 0;
    } else if (socket == nullptr || socket->takesFromPeer != 1 || socket->connectionId != held.connection) {
        trace("QK_SKYPESTREAM: held packet for an ended connection dropped\n");
        held.what = Held::What::None;
    } else {
        unsigned char* bytes = large().held;
        do {
            size_t piece = held.split ? std::min<size_t>(held.payloadLeft, A2A_MAX_PAYLOAD) : held.payloadLeft;
            A2aPacketHeader header = held.header;
            header.payloadSize = static_cast<uint16_t>(piece);
            // The header goes in front of the piece, over bytes already queued.
            unsigned char* at = bytes + held.offset;
            writeA2aHeader(at, header);
            if (socket->fromPeer->enqEntry(static_cast<uint32_t>(kHeaderSize + piece), at) != 1)
                return 1;   // still full
            held.offset += piece;
            held.payloadLeft -= piece;
        } while (held.payloadLeft > 0);
        held.what = Held::What::None;
    }
    if (held.what != Held::What::None || readDeferred == 0)
        return 1;
    readDeferred = 0;
    std::snprintf(smallCommand, sizeof smallCommand, "ALTER APPLICATION %s READ %s:%d", appName, user, streamId);
    AliveGuard guard(this);
    QK_SKYPECOM::getInstance()->sendCommand(smallCommand);
    return guard.alive ? 1 : 0;
}

bool QK_SKYPESTREAM::namesOtherConnection(const QK_SOCKETTCP* socket, const A2aPacketHeader& header, const char* what)
{
    uint32_t current = socket->connectionId;
    if (header.connectionId == 0 || current == 0 || header.connectionId == current)
        return false;
    trace("QK_SKYPESTREAM::repRead() %s of connection %u passed over (now %u) port=%d\n", what,
          static_cast<unsigned>(header.connectionId), static_cast<unsigned>(current), header.port);
    return true;
}

QK_SOCKETTCP* QK_SKYPESTREAM::linkSocket(Link link) const
{
    QK_SOCKETTCP* socket = link == Link::Main ? tcpManager->mainSocket : tcpManager->dataLinkSocket;
    return socket != nullptr && socket->fromPeer != nullptr ? socket : nullptr;
}

int QK_SKYPESTREAM::deliverData(QK_SOCKETTCP* socket, Link link, int port, uint32_t size)
{
    if (socket->takesFromPeer != 1) {
        // The connection this packet belonged to has already ended.
        trace("QK_SKYPESTREAM::repRead() packet for an ended connection dropped port=%d\n", port);
        return 1;
    }
    QK_QUE* queue = socket->fromPeer.get();
    if (size <= QUE_ENTRY_SIZE) {
        if (held.what == Held::What::None) {
            if (queue->enqEntry(size, packetBuffer) != 1)
                hold(socket, link, packetBuffer, packetBuffer + kHeaderSize, size - kHeaderSize, false);
            return 1;
        }
        trace("QK_SKYPESTREAM::repRead() packet while another is held port=%d\n", port);
    }

    // The connection cannot take the packet: rather than leave a hole in the
    // byte stream, end it at both ends.
    if (link == Link::Main) {
        logLine(LOG_ER, "%s:TCP接続: %s Port=%d QUEFULLを検出、切断", user, forwardHost, port);
    } else {
        trace("ERROR ");
        for (int i = 1; i < 500; ++i)
            trace("ERROR ");
        trace("\n");
        logLine(LOG_ER, "%sとのFTP接続:%sとのd-port=%d QUEFULLを検出", user, forwardHost, port);
    }
    int kind = link == Link::Main ? KIND_CONTROL : KIND_DLINK_CONTROL;
    uint32_t connection = socket->connectionId;
    alignas(8) unsigned char disconnect[kHeaderSize];
    buildHeader(disconnect, kind, DISCONNECT_REQUEST, socket->port, 0, 0, connection);
    if (queue->enqEntry(kHeaderSize, disconnect) != 1) {
        queue->reset();
        queue->enqEntry(kHeaderSize, disconnect);
    }
    return sendControl(kind, DISCONNECT_REQUEST, socket->port, 0, 0, connection);
}

namespace {

// Opens the FTP data links that the texts of a payload ask for and logs them.
class StreamDataLinkOpener final : public FtpDataLinkOpener {
public:
    explicit StreamDataLinkOpener(QK_SKYPESTREAM* owner) : stream(owner) {}

    int openDataLink(FtpTextKind, int port) override
    {
        int newPort = stream->tcpManager->createDataLink(port);
        if (newPort == -1)
            logLine(LOG_EV, "%sとのFTP接続:%sとのd-port=%d 作成失敗.", stream->user, stream->forwardHost, port);
        return newPort;
    }
    void textRewritten(const FtpRewrittenText& text) override
    {
        char line[512];
        std::snprintf(line, sizeof line, "%sとのFTP接続:%sとのd-port=%d/%d 作成", stream->user, stream->forwardHost,
                      text.written, text.announced);
        QK_EVENTLOG::getInstance()->writeLog(LOG_EV, line);
    }

private:
    QK_SKYPESTREAM* stream;
};

} // namespace

size_t QK_SKYPESTREAM::rewriteFtpText()
{
    A2aPacketHeader header = readA2aHeader(packetBuffer);
    unsigned char* payload = packetBuffer + kHeaderSize;
    // The own address is looked up (a socket of its own) only for a payload that names a data port.
    if (findFtpDataText(payload, header.payloadSize, 0).kind == FTP_TEXT_NONE)
        return header.payloadSize;
    // The address at which this side's FTP program reaches us: this end of
    // the control connection; the outward interface's only where that is unknown.
    QK_SOCKETTCP* mainSocket = tcpManager->mainSocket;
    uint32_t address = mainSocket != nullptr ? mainSocket->localAddress.load() : 0;
    if (address == 0)
        address = getLocalAddress();
    StreamDataLinkOpener opener(this);
    return rewriteFtpTexts(payload, header.payloadSize, packetBufferSize - kHeaderSize, address, opener);
}

int QK_SKYPESTREAM::deliverFtpText(QK_SOCKETTCP* socket, int port, size_t payloadSize)
{
    A2aPacketHeader header = readA2aHeader(packetBuffer);
    if (payloadSize <= A2A_MAX_PAYLOAD || payloadSize <= header.payloadSize) {
        header.payloadSize = static_cast<uint16_t>(payloadSize);
        writeA2aHeader(packetBuffer, header);
        return deliverData(socket, Link::Main, port, static_cast<uint32_t>(kHeaderSize + payloadSize));
    }
    // Grown beyond one packet by the rewriting: the rest follows in further
    // packets; what the queue cannot take yet waits in the stream.
    if (socket->takesFromPeer != 1 || held.what != Held::What::None)
        return deliverData(socket, Link::Main, port, static_cast<uint32_t>(kHeaderSize + payloadSize));
    unsigned char* payload = packetBuffer + kHeaderSize;
    for (;;) {
        size_t piece = payloadSize < A2A_MAX_PAYLOAD ? payloadSize : A2A_MAX_PAYLOAD;
        header.payloadSize = static_cast<uint16_t>(piece);
        writeA2aHeader(packetBuffer, header);
        if (socket->fromPeer->enqEntry(static_cast<uint32_t>(kHeaderSize + piece), packetBuffer) != 1) {
            hold(socket, Link::Main, packetBuffer, payload, payloadSize, true);
            return 1;
        }
        payloadSize -= piece;
        if (payloadSize == 0)
            return 1;
        std::memmove(payload, payload + piece, payloadSize);
    }
}

int QK_SKYPESTREAM::decodePacket(const char* hex)
{
    // A header-only packet is decoded in the stream's own small buffer; one
    // with a payload, or more text, in the large one.
    if (std::strlen(hex) <= 2 * STREAM_SMALL_PACKET_SIZE) {
        std::memset(smallPacket, 0, sizeof smallPacket);
        int decoded = hexToBytes(hex, smallPacket, sizeof smallPacket);
        if (readA2aHeader(smallPacket).payloadSize == 0) {
            packetBuffer = smallPacket;
            packetBufferSize = sizeof smallPacket;
            return decoded;
        }
    }
    LargeBuffers& buffers = large();
    packetBuffer = buffers.packet;
    packetBufferSize = sizeof buffers.packet;
    int decoded = hexToBytes(hex, packetBuffer, packetBufferSize);
    // What is read of a packet lies within the decoded bytes, except its
    // header: where the text is shorter, the rest of the header is zero.
    if (decoded < static_cast<int>(kHeaderSize))
        std::memset(packetBuffer + decoded, 0, kHeaderSize - static_cast<size_t>(decoded));
    return decoded;
}

void QK_SKYPESTREAM::noteAnnouncedPort(const unsigned char* packet)
{
    A2aPacketHeader header = readA2aHeader(packet);
    if (header.kind != KIND_DATA || isFtpApplication() != 1)
        return;
    // This side's own FTP program: the FTP client of a client application
    // names its data ports in PORT and EPRT, the FTP server of a server
    // application in its passive-mode replies.
    const bool ownIsClient = thePropaty->getAppMode() != 0;
    QK_SOCKETTCP* mainSocket = tcpManager->mainSocket;
    uint32_t session = mainSocket != nullptr ? mainSocket->connectionId.load() : 0;
    const unsigned char* payload = packet + kHeaderSize;
    size_t from = 0;
    for (;;) {
        FtpDataText found = findFtpDataText(payload, header.payloadSize, from);
        if (found.kind == FTP_TEXT_NONE)
            return;
        from = found.numbersEnd;
        if (isFtpClientText(found.kind) != ownIsClient)
            continue;
        if (session != announcedSession) {
            std::fill(std::begin(announcedPorts), std::end(announcedPorts), -1);
            announcedSession = session;
        }
        announcedPorts[announcedNext] = found.port;
        announcedNext = (announcedNext + 1) % STREAM_ANNOUNCED_PORTS;
        trace("QK_SKYPESTREAM: own FTP data port %d announced\n", found.port);
    }
}

bool QK_SKYPESTREAM::takeAnnouncedPort(int port)
{
    QK_SOCKETTCP* mainSocket = tcpManager->mainSocket;
    uint32_t session = mainSocket != nullptr ? mainSocket->connectionId.load() : 0;
    if (session != announcedSession)
        return false;   // announced in an FTP session that has ended
    for (int32_t& announced : announcedPorts) {
        if (announced == port) {
            announced = -1;   // one announcement, one data connection
            return true;
        }
    }
    return false;
}

namespace {

// What differs between the main link and the FTP data link in the handling
// of a control packet.
struct LinkTexts {
    int controlKind;
    const char* connected;
    const char* connectFailed;
    const char* disconnected;
};

constexpr LinkTexts kMainLinkTexts{KIND_CONTROL, "%s:TCP接続要求: %s Port=%d 接続",
                                   "%s:TCP接続要求: %s Port=%d 接続に失敗", "%s:TCP切断要求: %s Port=%d 切断"};
constexpr LinkTexts kDataLinkTexts{KIND_DLINK_CONTROL, "%s:TCP接続要求(d-link): %s Port=%d 接続",
                                   "%s:TCP接続要求(d-link): %s Port=%d 接続に失敗",
                                   "%s:TCP切断要求(d-link): %s Port=%d 切断"};

} // namespace

void QK_SKYPESTREAM::onConnectRequest(Link link, const A2aPacketHeader& header)
{
    const LinkTexts& texts = link == Link::Main ? kMainLinkTexts : kDataLinkTexts;
    const int port = header.port;
    int connected;
    int logPort;
    if (link == Link::Main) {
        trace("A2A RECIEV CONNECT-REQUEST:port:%d\n", port);
        if (tcpManager->role == SOCKET_ROLE_SERVER) {
            // A client application only listens; its listener stays.
            trace("A2A CONNECT-REQUEST passed over: a client application connects nowhere port=%d\n", port);
            return;
        }
    }
    QK_SOCKETTCP* earlier = link == Link::Main ? tcpManager->mainSocket : tcpManager->dataLinkSocket;
    if (earlier != nullptr && earlier->carriesConnection()) {
        // The connection before still hands its last bytes to its reader:
        // the request waits for its end (and the stream with it).
        trace("A2A CONNECT-REQUEST waits for the connection before port=%d\n", port);
        held.what = Held::What::ConnectRequest;
        held.link = link;
        held.header = header;
        return;
    }
    if (link == Link::Main) {
        // The stream's own forward port and host, never the packet's port.
        connected = tcpManager->notifyTcpConnectRequest(forwardPort, forwardHost, header.connectionId);
        logPort = forwardPort;
    } else {
        if (!takeAnnouncedPort(port)) {
            // Only a data port that this side's FTP program announced.
            if (replyDataLinkConnect(port, CONNECT_NG, WSAEACCES, header.connectionId) == 1)
                logLine(LOG_EV, "%s:TCP接続要求(d-link): %s Port=%d 通知のないポートのため拒否", user, forwardHost,
                        port);
            return;
        }
        connected = tcpManager->notifyDataLinkConnectRequest(port, forwardHost, header.connectionId);
        logPort = port;
    }
    int reply = CONNECT_OK;
    int error = 0;
    if (connected != 1) {
        reply = CONNECT_NG;
        error = WSAGetLastError();
    }
    if (sendControl(texts.controlKind, CONNECT_REPLY, port, reply, error, header.connectionId) == 1)
        logLine(LOG_EV, reply == CONNECT_OK ? texts.connected : texts.connectFailed, user, forwardHost, logPort);
}

void QK_SKYPESTREAM::onConnectReply(Link link, const A2aPacketHeader& header)
{
    trace("A2A RECIEV CONNECT-REPLY:port:%d\n", header.port);
    QK_SOCKETTCP* socket = linkSocket(link);
    if (socket != nullptr && namesOtherConnection(socket, header, "CONNECT-REPLY"))
        return;
    if (link == Link::Main)
        tcpManager->notifyTcpConnectReply(header.port, header.repCode);
    else
        tcpManager->notifyDataLinkConnectReply(header.port, header.repCode);
}

void QK_SKYPESTREAM::onDisconnectRequest(Link link, const A2aPacketHeader& header, uint32_t size)
{
    const LinkTexts& texts = link == Link::Main ? kMainLinkTexts : kDataLinkTexts;
    const int port = header.port;
    const bool main = link == Link::Main;
    QK_SOCKETTCP* socket = linkSocket(link);
    // The server application names its forward port, which need not be the
    // client's: a request that names this side's connection ends it whatever its port.
    if (main && isFtpApplication() == 1 && port != localPort &&
        (socket == nullptr || header.connectionId == 0 || header.connectionId != socket->connectionId))
        return;
    if (socket != nullptr && namesOtherConnection(socket, header, "DISCONNECT-REQUEST"))
        return;   // a late request of an earlier connection
    if (main)
        trace("A2A RECIEV DISCONNECT-REQUEST:port:%d\n", port);
    if (socket == nullptr) {
        if (main) {
            tcpManager->notifyTcpDisconnect(port);
            trace("PEERからのDISCONNECTをオブジェクト設定がないのでTCPMANAGERに通知しました\n");
        } else {
            tcpManager->notifyDataLinkDisconnect(port);
        }
    } else if (socket->takesFromPeer != 1) {
        trace("QK_SKYPESTREAM::repRead() DISCONNECT-REQUEST for an ended connection dropped port=%d\n", port);
    } else if (held.what == Held::What::None && socket->fromPeer->enqEntry(size, packetBuffer) == 1) {
        if (main)
            trace("PEERからのDISCONNECTをQUEしました\n");
    } else if (held.what == Held::What::None) {
        // After the packets that fill the queue: the relay ends the connection
        // once it has written them.
        hold(socket, link, packetBuffer, packetBuffer + kHeaderSize, 0, false);
        if (main)
            trace("PEERからのDISCONNECTを待ち行列の後に置きました\n");
    } else {
        trace("QK_SKYPESTREAM::repRead() DISCONNECT-REQUEST while a packet is held port=%d\n", port);
    }
    logLine(LOG_EV, texts.disconnected, user, forwardHost, port);
}

void QK_SKYPESTREAM::onControl(Link link, const A2aPacketHeader& header, uint32_t size)
{
    switch (header.code) {
    case CONNECT_REQUEST:
        onConnectRequest(link, header);
        break;
    case CONNECT_REPLY:
        onConnectReply(link, header);
        break;
    case DISCONNECT_REQUEST:
        onDisconnectRequest(link, header, size);
        break;
    default:
        break;
    }
}

void QK_SKYPESTREAM::onData(Link link, const A2aPacketHeader& header, uint32_t size)
{
    QK_SOCKETTCP* socket = linkSocket(link);
    if (socket == nullptr || namesOtherConnection(socket, header, "data"))
        return;
    if (link == Link::Main && isFtpApplication() == 1) {
        size_t payloadSize = rewriteFtpText();
        socket = linkSocket(link);
        if (socket != nullptr)
            deliverFtpText(socket, header.port, payloadSize);
        return;
    }
    deliverData(socket, link, header.port, size);
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
    int decoded = decodePacket(text + ownLength + 1);
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
    if ((header.flowFlags & A2A_FLOW_CREDIT) != 0) {
        peerFlow = 1;
        peerTaken[0] = header.mainLinkTaken;
        peerTaken[1] = header.dataLinkTaken;
    }
    if (header.kind == KIND_DATA)
        ++dataTaken[0];
    else if (header.kind == KIND_DLINK_DATA)
        ++dataTaken[1];
    if (header.sequence != recvSeq) {
        trace("SEQ NO Error headerSEQ=%d, thisSEQ=%d\n", static_cast<int>(header.sequence),
              static_cast<int>(recvSeq));
        if (requestDisconnect() == 0)
            return;   // the link is lost and this stream with it
    }
    ++recvSeq;
    bytesReceived += header.payloadSize;
    if (tcpManager == nullptr)
        return;
    if (peerFlow != 0 && tcpManager->peerHalfClose == 0)
        tcpManager->setPeerHalfClose(1);   // sockets made later take it from the manager

    switch (header.kind) {
    case KIND_NULL:
        trace("receive NULL packet !\n");
        break;
    case KIND_CONTROL:
        onControl(Link::Main, header, size);
        break;
    case KIND_DLINK_CONTROL:
        onControl(Link::Data, header, size);
        break;
    case KIND_DATA:
        onData(Link::Main, header, size);
        break;
    case KIND_DLINK_DATA:
        onData(Link::Data, header, size);
        break;
    default:
        break;
    }
}
