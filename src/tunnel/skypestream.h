#pragma once
// One Skype application-to-application stream between this computer and one
// peer on one channel. It owns the channel's TCP manager for the stream, sends
// the A2A packets that the relay threads queue (hex-encoded in WRITE commands,
// paced by Skype's SENDING notification and the 20 ms tick), sends keep-alives
// and connect replies, and decodes the packets of READ replies.
#include "relay/a2apacket.h"

#include <cstddef>
#include <cstdint>
#include <memory>

class QK_TCPMANAGER;
class QK_SOCKETTCP;

constexpr size_t STREAM_BUFFER_SIZE = 65792;   // command, hex and packet buffers
constexpr size_t STREAM_SMALL_PACKET_SIZE = 40;   // a header-only packet
constexpr size_t STREAM_SMALL_COMMAND_SIZE = 512;   // DISCONNECT, or WRITE of a header-only packet
constexpr size_t STREAM_USER_SIZE = 100;
constexpr size_t STREAM_APPNAME_SIZE = 100;
constexpr size_t STREAM_HOST_SIZE = 260;
constexpr size_t STREAM_TICK_BUFFER_SIZE = 32768;   // one dequeued queue slot
constexpr int STREAM_KEEPALIVE_TICKS = 600;
constexpr int STREAM_MAX_WRITE_COMMAND = 65534;
constexpr int STREAM_DLINK_GATE_FREE = 20;   // data link held back at or below this peer figure
// Flow credit with a peer that reports what it takes: a link's data waits
// while the peer may have no more than this much room left in its queue ...
constexpr int STREAM_CREDIT_RESERVE = 2;
// ... and a receiver whose peer may think it has this little room, while it
// has this much more, says so at once with a keep-alive.
constexpr int STREAM_CREDIT_LOW = 10;
constexpr int STREAM_CREDIT_STEP = 8;
constexpr int STREAM_ANNOUNCED_PORTS = 4;    // own FTP data ports remembered per FTP session

class QK_SKYPESTREAM {
public:
    QK_SKYPESTREAM();
    // Deletes a TCP manager that is still there (without closeAll).
    ~QK_SKYPESTREAM();
    QK_SKYPESTREAM(const QK_SKYPESTREAM&) = delete;
    QK_SKYPESTREAM& operator=(const QK_SKYPESTREAM&) = delete;

    // Creates the TCP manager (the FTP variant on the FTP channel) and starts it.
    void ensureTcpManager();
    // 1 when appName is the FTP channel's application name.
    int isFtpApplication();
    // Asks Skype to end the stream. Returns 0 when the command failed or the
    // stream no longer exists afterwards: the caller then leaves the object alone.
    int requestDisconnect();

    // Completes the packet (flow-control words, sequence number), hex-encodes
    // its first `length` bytes and sends it. 1 sent (or dropped as too long);
    // 0: the send failed or the stream was destroyed meanwhile, and the caller
    // must not touch the stream any more.
    int sendPacket(unsigned char* packet, int length);
    int sendWriteCommand(const char* hexText);
    int sendKeepAlive();
    // `connection`: the id of the request answered (0: none named).
    int replyConnect(int port, int reply, int error, uint32_t connection = 0);
    int replyDataLinkConnect(int port, int reply, int error, uint32_t connection = 0);

    // The 20 ms tick.
    void intervalTimer();
    // A packet waits in the stream for room in its from-peer queue (or a
    // connect request for the end of the connection before it): the stream
    // takes no more packets from Skype meanwhile.
    bool holdsPacket() const;
    // The application passed over a RECEIVED of this stream while it held a
    // packet; the stream reads itself once the packet has gone on.
    void deferRead();
    // A READ reply (the text behind "READ "): the stream acts only on its own.
    void repRead(const char* text);

    char tag[16];
    int32_t seen;
    char forwardHost[STREAM_HOST_SIZE];
    int32_t forwardPort;
    // The packet being decoded: smallPacket for a header-only one, else the
    // large packet buffer. Valid from the decode to the end of repRead.
    unsigned char* packetBuffer;
    size_t packetBufferSize;
    uint32_t sendSeq;
    uint32_t recvSeq;
    int32_t localPort;
    char user[STREAM_USER_SIZE];
    int32_t streamId;
    char appName[STREAM_APPNAME_SIZE];
    int32_t sendReady;
    uint16_t peerMainState;
    uint16_t peerMainFree;
    uint16_t peerDataLinkState;
    uint16_t peerDataLinkFree;
    QK_TCPMANAGER* tcpManager;
    int32_t idleTicks;
    uint32_t bytesSent;
    uint32_t bytesReceived;
    // Flow credit, per link (main, data): the peer's packets carry
    // A2A_FLOW_CREDIT; data packets sent and taken, 16-bit counters that wrap;
    // what the peer last told of its taking; what this side last told.
    int32_t peerFlow;
    uint16_t dataSent[2];
    uint16_t dataTaken[2];
    uint16_t peerTaken[2];
    uint16_t reportedFree[2];
    uint16_t reportedTaken[2];

    // Set to false by the destructor for every command in flight on this
    // stream, so that a caller can tell after sendCommand whether the stream
    // still exists (a failed send cancels every stream before it returns).
    struct AliveGuard {
        explicit AliveGuard(QK_SKYPESTREAM* stream);
        ~AliveGuard();
        AliveGuard(const AliveGuard&) = delete;
        AliveGuard& operator=(const AliveGuard&) = delete;
        QK_SKYPESTREAM* stream;
        AliveGuard* next;
        bool alive;
    };

private:
    enum class Link { Main, Data };
    static int index(Link link) { return link == Link::Main ? 0 : 1; }

    // What waits in the stream: packet bytes for a from-peer queue, or a
    // connect request for a link whose earlier connection is still carried.
    struct Held {
        enum class What { None, Packet, ConnectRequest };
        What what = What::None;
        Link link = Link::Main;
        uint32_t connection = 0;   // the socket's connection when the packet was held
        A2aPacketHeader header{};
        size_t offset = 0;         // where the header of the next piece goes
        size_t payloadLeft = 0;
        bool split = false;        // goes on in pieces of at most A2A_MAX_PAYLOAD
    };

    // Sends one command of this stream; 0 when it failed or the stream is gone.
    int sendStreamCommand(const char* command);
    int sendControl(int kind, int code, int port, int reply, int error, uint32_t connection);
    // The link's socket with its queues, or null.
    QK_SOCKETTCP* linkSocket(Link link) const;
    // True (with a trace) when the packet names a connection other than the
    // one the socket carries; a packet or socket without an id names none.
    static bool namesOtherConnection(const QK_SOCKETTCP* socket, const A2aPacketHeader& header, const char* what);
    // Handlers of the decoded packet in packetBuffer, `size` bytes.
    void onControl(Link link, const A2aPacketHeader& header, uint32_t size);
    void onConnectRequest(Link link, const A2aPacketHeader& header);
    void onConnectReply(Link link, const A2aPacketHeader& header);
    void onDisconnectRequest(Link link, const A2aPacketHeader& header, uint32_t size);
    void onData(Link link, const A2aPacketHeader& header, uint32_t size);
    // Hands the packet in packetBuffer (`size` bytes) to a socket's from-peer
    // queue; a full queue leaves it held for a later tick, never waited for.
    // Packets for a connection the relay no longer takes are dropped, and one
    // that no queue slot can hold ends the connection at both ends. 0 when
    // the stream is gone.
    int deliverData(QK_SOCKETTCP* socket, Link link, int port, uint32_t size);
    // Keeps header and payload for the socket's queue (in pieces of at most
    // A2A_MAX_PAYLOAD when split).
    void hold(QK_SOCKETTCP* socket, Link link, const unsigned char* header, const unsigned char* payload,
              size_t payloadSize, bool split);
    // On each tick: what is held goes on where it now can. 0 when the stream is gone.
    int releaseHeld();
    // Takes the link's next packet into the tick's buffer, unless it is data
    // the peer has no room for.
    bool takeSendable(Link link);
    // Data of the link may be sent: the peer has room beyond the reserve, or
    // it does not report its room.
    bool hasCredit(Link link) const;
    // This side's room has grown past what the peer may believe of it.
    bool owesRoomReport() const;
    // 30 minus what the link's from-peer queue holds (and the stream for it).
    int freeSlots(Link link) const;
    // Rewrites the FTP texts of the packet in packetBuffer; returns its new payload size.
    size_t rewriteFtpText();
    // Delivers the rewritten packet, in pieces of at most A2A_MAX_PAYLOAD bytes
    // when the rewriting made it larger than that. 0 when the stream is gone.
    int deliverFtpText(QK_SOCKETTCP* socket, int port, size_t payloadSize);
    // Decodes the hexadecimal text of a READ reply into packetBuffer, cleared
    // first; the number of bytes decoded.
    int decodePacket(const char* hex);
    // The buffers for packets with a payload: made when first needed, kept.
    struct LargeBuffers {
        char command[STREAM_BUFFER_SIZE];
        alignas(8) unsigned char packet[STREAM_BUFFER_SIZE];
        char hex[STREAM_BUFFER_SIZE];
        alignas(8) unsigned char held[STREAM_BUFFER_SIZE];
    };
    LargeBuffers& large();
    // The data ports this side's own FTP program announces in the packets it
    // sends on the FTP channel; a data-link request is obeyed only for one.
    void noteAnnouncedPort(const unsigned char* packet);
    bool takeAnnouncedPort(int port);

    int32_t announcedPorts[STREAM_ANNOUNCED_PORTS];   // -1: free
    int announcedNext;
    uint32_t announcedSession;   // the main-link connection they were announced in
    AliveGuard* guards;
    Held held;
    int32_t readDeferred;
    std::unique_ptr<LargeBuffers> largeBuffers;
    char smallCommand[STREAM_SMALL_COMMAND_SIZE];
    char smallHex[2 * STREAM_SMALL_PACKET_SIZE + 1];
    alignas(8) unsigned char smallPacket[STREAM_SMALL_PACKET_SIZE];
};
