// The stream: sending paced by SENDING and the 20 ms tick, keep-alive,
// sequence numbers, flow-control words, decoding READ replies, control
// packets, FTP rewriting, full from-peer queues, and failed sends.
#include "tunnelharness.h"

#include "foundation/que.h"
#include "tunnel/ftprewrite.h"
#include "tunnel/skypestream.h"

#include <atomic>
#include <chrono>
#include <cstring>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

namespace {

using Strings = std::vector<std::string>;

class StreamTest : public TunnelTest {
protected:
    void open(int onChannel = 1)
    {
        channel = onChannel;
        setContacts("alice");
        stream = openStream(channel, "alice", 5);
        ASSERT_NE(stream, nullptr);
        manager = fakeManager(stream);
        takeCommands();
        hub.logLines.clear();
    }
    void tick(int count = 1)
    {
        for (int i = 0; i < count; ++i)
            QK_A2AMODEL::streamTimerProc(nullptr, WM_TIMER, 0, 0);
    }
    void sendingDone() { appNotify(channel, "SENDING"); }
    void read(const std::vector<unsigned char>& packet) { readReply(channel, "alice", 5, packet); }
    void readText(const std::string& hex)
    {
        notify("ALTER APPLICATION " + std::string(kApps[channel]) + " READ alice:5 " + hex);
    }
    // Packet taken from a queue as a relay thread would.
    static bool dequeue(QK_QUE* queue, A2aPacketHeader* header, std::string* payload = nullptr)
    {
        thread_local QueEntry entry;
        if (queue->deqEntry(entry.data) != 1)
            return false;
        *header = readA2aHeader(entry.data);
        if (payload != nullptr)
            payload->assign(reinterpret_cast<const char*>(entry.data) + 40, header->payloadSize);
        return true;
    }
    static void fill(QK_QUE* queue, int packets)
    {
        for (int i = 0; i < packets; ++i)
            queuePacket(queue, makePacket(KIND_DATA, 0, 1, 0, "x"));
    }
    std::string disconnectCommand() const
    {
        return "ALTER APPLICATION " + std::string(kApps[channel]) + " DISCONNECT alice:5";
    }

    int channel = 1;
    QK_SKYPESTREAM* stream = nullptr;
    FakeTcpManager* manager = nullptr;
};

// ------------------------------------------------------------------ sending

TEST_F(StreamTest, PacketsLeaveWithSequenceFlowWordsAndLowerCaseHex)
{
    open();
    QK_SOCKETTCP* main = manager->addMainSocket(80, SOCKET_STATE_CONNECTED);
    fill(main->fromPeer.get(), 3);
    queuePacket(main->toPeer.get(), makePacket(KIND_DATA, 0, 80, 0, "hello"));
    queuePacket(main->toPeer.get(), makePacket(KIND_CONTROL, DISCONNECT_REQUEST, 80, 0));
    tick();
    std::vector<SentPacket> writes = takeWrites();
    ASSERT_EQ(writes.size(), 1u);
    const SentPacket& first = writes[0];
    EXPECT_EQ(first.app, kApps[1]);
    EXPECT_EQ(first.user, "alice");
    EXPECT_EQ(first.id, 5);
    EXPECT_EQ(first.hexLength, 90u);
    EXPECT_EQ(first.header.headerSize, 40);
    EXPECT_EQ(first.header.marker[0], 2);
    EXPECT_EQ(first.header.marker[1], 1);
    EXPECT_EQ(first.header.sequence, 0u);
    EXPECT_EQ(first.header.mainLinkState, SOCKET_STATE_CONNECTED);
    EXPECT_EQ(first.header.mainLinkFree, 27);
    EXPECT_EQ(first.header.dataLinkState, 0);
    EXPECT_EQ(first.header.dataLinkFree, 0);
    EXPECT_EQ(std::string(first.payload.begin(), first.payload.end()), "hello");
    EXPECT_EQ(stream->sendReady, 0);
    EXPECT_EQ(stream->bytesSent, 5u);

    // Nothing more until Skype reports the write done with an empty SENDING.
    tick(3);
    appNotify(1, "SENDING alice:5=90");
    tick();
    EXPECT_TRUE(takeWrites().empty());
    sendingDone();
    fill(main->fromPeer.get(), 27);
    tick();
    writes = takeWrites();
    ASSERT_EQ(writes.size(), 1u);
    EXPECT_EQ(writes[0].header.sequence, 1u);
    EXPECT_EQ(writes[0].header.code, DISCONNECT_REQUEST);
    EXPECT_EQ(writes[0].header.mainLinkFree, 0);
    EXPECT_EQ(writes[0].hexLength, 80u);
    EXPECT_EQ(stream->bytesSent, 5u);   // control packets carry no payload bytes
}

TEST_F(StreamTest, KeepAliveOnTick601OfAnIdleStream)
{
    open();
    tick(600);
    EXPECT_TRUE(takeWrites().empty());
    EXPECT_EQ(stream->idleTicks, 600);
    tick();
    std::vector<SentPacket> writes = takeWrites();
    ASSERT_EQ(writes.size(), 1u);
    const A2aPacketHeader& h = writes[0].header;
    EXPECT_EQ(writes[0].hexLength, 80u);
    EXPECT_EQ(h.headerSize, 40);
    EXPECT_EQ(h.payloadSize, 0);
    EXPECT_EQ(h.marker[0], 2);
    EXPECT_EQ(h.marker[1], 1);
    EXPECT_EQ(h.port, 0);
    EXPECT_EQ(h.kind, KIND_NULL);
    EXPECT_EQ(h.code, 0);
    EXPECT_EQ(h.repCode, 0);
    EXPECT_EQ(h.sequence, 0u);
    EXPECT_EQ(stream->idleTicks, 0);
    EXPECT_EQ(stream->bytesSent, 0u);
    // While waiting for SENDING the ticks are not counted.
    tick(700);
    EXPECT_EQ(stream->idleTicks, 0);
    EXPECT_TRUE(takeWrites().empty());
}

TEST_F(StreamTest, DataTicksNeitherCountNorResetTheIdleCount)
{
    open();
    QK_SOCKETTCP* main = manager->addMainSocket(80, SOCKET_STATE_CONNECTED);
    tick(10);
    queuePacket(main->toPeer.get(), makePacket(KIND_DATA, 0, 80, 0, "abc"));
    tick();
    EXPECT_EQ(takeWrites().size(), 1u);
    EXPECT_EQ(stream->idleTicks, 10);
    sendingDone();
    tick();
    EXPECT_EQ(stream->idleTicks, 11);
}

TEST_F(StreamTest, BothLinksSendInOneTickMainFirst)
{
    open(0);
    QK_SOCKETTCP* main = manager->addMainSocket(21, SOCKET_STATE_CONNECTED);
    QK_SOCKETTCP* data = manager->addDataLinkSocket(3000, SOCKET_STATE_CONNECTED);
    fill(data->fromPeer.get(), 4);
    queuePacket(main->toPeer.get(), makePacket(KIND_DATA, 0, 21, 0, "LIST\r\n"));
    queuePacket(data->toPeer.get(), makePacket(KIND_DLINK_DATA, 0, 3000, 0, "file"));
    queuePacket(data->toPeer.get(), makePacket(KIND_DLINK_DATA, 0, 3000, 0, "more"));
    tick();
    std::vector<SentPacket> writes = takeWrites();
    ASSERT_EQ(writes.size(), 2u);
    EXPECT_EQ(writes[0].header.kind, KIND_DATA);
    EXPECT_EQ(writes[0].header.sequence, 0u);
    EXPECT_EQ(writes[1].header.kind, KIND_DLINK_DATA);
    EXPECT_EQ(writes[1].header.sequence, 1u);
    EXPECT_EQ(writes[1].header.dataLinkState, SOCKET_STATE_CONNECTED);
    EXPECT_EQ(writes[1].header.dataLinkFree, 26);
    tick();
    EXPECT_TRUE(takeWrites().empty());
    sendingDone();
    // A data-link packet alone ends the tick without counting it.
    int idle = stream->idleTicks;
    tick();
    writes = takeWrites();
    ASSERT_EQ(writes.size(), 1u);
    EXPECT_EQ(std::string(writes[0].payload.begin(), writes[0].payload.end()), "more");
    EXPECT_EQ(stream->idleTicks, idle);
    EXPECT_EQ(stream->bytesSent, 14u);
}

struct GateCase {
    uint16_t peerMainState;
    uint16_t peerMainFree;
    bool sent;
};

void PrintTo(const GateCase& c, std::ostream* out)
{
    *out << "state" << c.peerMainState << "_free" << c.peerMainFree;
}

class DataLinkGate : public StreamTest, public testing::WithParamInterface<GateCase> {};

TEST_P(DataLinkGate, HoldsDataLinkPacketsWhileThePeersMainLinkIsShort)
{
    const GateCase& c = GetParam();
    open(0);
    QK_SOCKETTCP* data = manager->addDataLinkSocket(3000, SOCKET_STATE_CONNECTED);
    queuePacket(data->toPeer.get(), makePacket(KIND_DLINK_DATA, 0, 3000, 0, "block"));
    stream->peerMainState = c.peerMainState;
    stream->peerMainFree = c.peerMainFree;
    stream->peerDataLinkFree = 0;   // the gate reads the main link's words only
    tick();
    std::vector<SentPacket> writes = takeWrites();
    if (c.sent) {
        ASSERT_EQ(writes.size(), 1u);
        EXPECT_EQ(writes[0].header.kind, KIND_DLINK_DATA);
        EXPECT_EQ(data->toPeer->count, 0);
    } else {
        EXPECT_TRUE(writes.empty());
        EXPECT_EQ(data->toPeer->count, 1);
        EXPECT_EQ(stream->idleTicks, 1);   // a held tick still counts as idle
    }
}

INSTANTIATE_TEST_SUITE_P(Words, DataLinkGate,
                         testing::Values(GateCase{2, 20, false}, GateCase{2, 0, false}, GateCase{2, 21, true},
                                         GateCase{1, 20, true}, GateCase{0, 0, true}));

TEST_F(StreamTest, ConnectReplyLeavesWhileAWriteWaits)
{
    settings->forwardPort[1] = 8080;
    open();
    QK_SOCKETTCP* main = manager->addMainSocket(8080, SOCKET_STATE_CONNECTED);
    fill(main->fromPeer.get(), 1);
    stream->sendReady = 0;
    read(makePacket(KIND_CONTROL, CONNECT_REQUEST, 80, 0));
    EXPECT_EQ(manager->calls.back(), "connect 127.0.0.1:8080");
    std::vector<SentPacket> writes = takeWrites();
    ASSERT_EQ(writes.size(), 1u);
    EXPECT_EQ(writes[0].header.kind, KIND_CONTROL);
    EXPECT_EQ(writes[0].header.code, CONNECT_REPLY);
    EXPECT_EQ(writes[0].header.port, 80);
    EXPECT_EQ(writes[0].header.repCode, CONNECT_OK);
    EXPECT_EQ(writes[0].header.errorCode, 0);
    EXPECT_EQ(writes[0].header.mainLinkFree, 29);
    EXPECT_EQ(stream->sendReady, 0);
    EXPECT_EQ(hub.logLines, Strings{"EV:alice:TCP接続要求: 127.0.0.1 Port=8080 接続"});

    // A reply sent while ready clears sendReady again.
    sendingDone();
    manager->connectResult = 0;
    manager->connectError = 10061;
    hub.logLines.clear();
    read(makePacket(KIND_CONTROL, CONNECT_REQUEST, 80, 1));
    writes = takeWrites();
    ASSERT_EQ(writes.size(), 1u);
    EXPECT_EQ(writes[0].header.repCode, CONNECT_NG);
    EXPECT_EQ(writes[0].header.errorCode, 10061);
    EXPECT_EQ(writes[0].header.sequence, 1u);
    EXPECT_EQ(stream->sendReady, 0);
    EXPECT_EQ(hub.logLines, Strings{"EV:alice:TCP接続要求: 127.0.0.1 Port=8080 接続に失敗"});
}

TEST_F(StreamTest, WriteAboveTheCommandLimitIsNotSent)
{
    open();
    std::string hex(65534 - 37 - std::strlen(kApps[1]) - 5 + 1, '0');
    std::string output = captureTrace([&] { EXPECT_EQ(stream->sendWriteCommand(hex.c_str()), 1); });
    EXPECT_EQ(output, "");   // dropped without a trace
    EXPECT_TRUE(takeCommands().empty());
    EXPECT_EQ(stream->sendReady, 1);
    hex.pop_back();
    EXPECT_EQ(stream->sendWriteCommand(hex.c_str()), 1);
    EXPECT_EQ(takeCommands().size(), 1u);
    EXPECT_EQ(stream->sendReady, 0);
}

// ---------------------------------------------------------------- receiving

struct SequenceCase {
    std::vector<uint32_t> sequences;
    size_t disconnects;
};

void PrintTo(const SequenceCase& c, std::ostream* out)
{
    *out << "seq";
    for (uint32_t n : c.sequences)
        *out << "_" << n;
}

class ReceiveSequence : public StreamTest, public testing::WithParamInterface<SequenceCase> {};

TEST_P(ReceiveSequence, GapsAskToEndTheStreamAndEveryPacketIsStillDelivered)
{
    const SequenceCase& c = GetParam();
    open();
    QK_SOCKETTCP* main = manager->addMainSocket(80, SOCKET_STATE_CONNECTED);
    for (size_t i = 0; i < c.sequences.size(); ++i)
        read(makePacket(KIND_DATA, 0, 80, c.sequences[i], "p" + std::to_string(i)));
    EXPECT_EQ(takeCommands(), Strings(c.disconnects, disconnectCommand()));
    EXPECT_EQ(stream->recvSeq, c.sequences.size());
    EXPECT_EQ(stream->bytesReceived, 2 * c.sequences.size());
    for (size_t i = 0; i < c.sequences.size(); ++i) {
        A2aPacketHeader header;
        std::string payload;
        ASSERT_TRUE(dequeue(main->fromPeer.get(), &header, &payload));
        EXPECT_EQ(payload, "p" + std::to_string(i));
        EXPECT_EQ(header.sequence, c.sequences[i]);
    }
    EXPECT_EQ(main->fromPeer->count, 0);
}

INSTANTIATE_TEST_SUITE_P(Numbers, ReceiveSequence,
                         testing::Values(SequenceCase{{0, 1, 2}, 0}, SequenceCase{{0, 2, 3}, 2},
                                         SequenceCase{{1, 2, 3}, 3}, SequenceCase{{0, 0}, 1}));

TEST_F(StreamTest, TextsThatCarryNoPacketChangeNothing)
{
    open();
    QK_SOCKETTCP* main = manager->addMainSocket(80, SOCKET_STATE_CONNECTED);
    stream->peerMainState = 7;
    std::string valid = toHex(makePacket(KIND_DATA, 0, 80, 0, "data"));
    std::vector<unsigned char> claimsMore = makePacket(KIND_DATA, 0, 80, 0, "0123456789");
    claimsMore[2] = 100;   // payloadSize 100 with 10 bytes behind the header
    const std::string texts[] = {
        valid.substr(0, valid.size() - 1),                   // odd length
        "",                                                  // empty
        std::string(80, '0'),                                // headerSize 0
        valid + std::string(2 * STREAM_BUFFER_SIZE, '0'),    // more than the packet buffer holds
        toHex(claimsMore),                                   // shorter than its header says
    };
    for (const std::string& text : texts) {
        readText(text);
        EXPECT_EQ(stream->recvSeq, 0u) << text.size();
    }
    EXPECT_EQ(stream->peerMainState, 7);
    EXPECT_EQ(stream->bytesReceived, 0u);
    EXPECT_EQ(main->fromPeer->count, 0);
    EXPECT_TRUE(takeCommands().empty());
    // The largest text that fits is a packet.
    std::string largest = valid + std::string(2 * STREAM_BUFFER_SIZE - valid.size(), '0');
    readText(largest);
    EXPECT_EQ(stream->recvSeq, 1u);
}

TEST_F(StreamTest, HeaderOnlyPacketsAndDataPacketsAlternate)
{
    open();
    QK_SOCKETTCP* main = manager->addMainSocket(80, SOCKET_STATE_CONNECTED);
    read(makePacket(KIND_NULL, 0, 0, 0));
    read(makePacket(KIND_DATA, 0, 80, 1, "abc"));
    read(makePacket(KIND_NULL, 0, 0, 2));
    read(makePacket(KIND_DATA, 0, 80, 3, "de"));
    read(makePacket(KIND_CONTROL, DISCONNECT_REQUEST, 80, 4));
    // A 40-byte packet whose header claims a payload within those 40 bytes:
    // the payload lies behind offset 40, so the text holds no packet.
    std::vector<unsigned char> shortHeader = makePacket(KIND_DATA, 0, 80, 5);
    shortHeader[0] = 30;   // headerSize 30
    shortHeader[2] = 10;   // payloadSize 10
    read(shortHeader);
    EXPECT_EQ(stream->recvSeq, 5u);
    EXPECT_TRUE(takeCommands().empty());
    A2aPacketHeader header;
    std::string payload;
    ASSERT_TRUE(dequeue(main->fromPeer.get(), &header, &payload));
    EXPECT_EQ(payload, "abc");
    ASSERT_TRUE(dequeue(main->fromPeer.get(), &header, &payload));
    EXPECT_EQ(payload, "de");
    ASSERT_TRUE(dequeue(main->fromPeer.get(), &header, &payload));
    EXPECT_EQ(header.code, DISCONNECT_REQUEST);
    EXPECT_EQ(header.sequence, 4u);
    EXPECT_FALSE(dequeue(main->fromPeer.get(), &header, &payload));
}

TEST_F(StreamTest, PayloadIsTakenBehindTheFortyByteHeaderWhateverHeaderSizeSays)
{
    open();
    QK_SOCKETTCP* main = manager->addMainSocket(80, SOCKET_STATE_CONNECTED);
    A2aPacketHeader header;
    std::string delivered;
    // An earlier packet leaves its bytes in the slot the next one takes.
    queuePacket(main->fromPeer.get(), makePacket(KIND_DATA, 0, 80, 0, "STALE-BYTES"));
    ASSERT_TRUE(dequeue(main->fromPeer.get(), &header, &delivered));

    // headerSize 36: the relay still reads the payload from offset 40, so the
    // whole payload travels, not 4 bytes short and made up with what the
    // queue slot held.
    std::vector<unsigned char> shortHeader = makePacket(KIND_DATA, 0, 80, 0, "payload");
    shortHeader[0] = 36;
    read(shortHeader);
    ASSERT_TRUE(dequeue(main->fromPeer.get(), &header, &delivered));
    EXPECT_EQ(delivered, "payload");
    EXPECT_EQ(stream->recvSeq, 1u);

    // headerSize 30 with a payloadSize that reaches past the text behind offset 40.
    std::vector<unsigned char> reachesPast = makePacket(KIND_DATA, 0, 80, 1, "0123456789");
    reachesPast[0] = 30;
    reachesPast[2] = 14;
    read(reachesPast);
    EXPECT_EQ(stream->recvSeq, 1u) << "no packet";
    EXPECT_EQ(main->fromPeer->count, 0);
}

TEST_F(StreamTest, RewrittenFtpTextBehindAShortHeaderTravelsWhole)
{
    open(0);
    QK_SOCKETTCP* main = manager->addMainSocket(21, SOCKET_STATE_CONNECTED);
    manager->createDataLinkResult = 50000;
    std::vector<unsigned char> passive =
        makePacket(KIND_DATA, 0, 21, 0, "227 Entering Passive Mode (192,168,0,10,4,1).\r\n");
    passive[0] = 36;   // headerSize
    read(passive);
    A2aPacketHeader header;
    std::string delivered;
    ASSERT_TRUE(dequeue(main->fromPeer.get(), &header, &delivered));
    EXPECT_TRUE(delivered.ends_with(",195,80).\r\n")) << delivered;
}

TEST_F(StreamTest, UpperCaseHexDecodesToTheSamePacket)
{
    open();
    QK_SOCKETTCP* main = manager->addMainSocket(80, SOCKET_STATE_CONNECTED);
    std::string payload = "\x01\xab\xcd\xef\xff";
    readText(toHex(makePacket(KIND_DATA, 0, 80, 0, payload), true));
    A2aPacketHeader header;
    std::string delivered;
    ASSERT_TRUE(dequeue(main->fromPeer.get(), &header, &delivered));
    EXPECT_EQ(delivered, payload);
}

TEST_F(StreamTest, KeepAliveAndUnknownKindsMoveOnlyTheCounterAndWords)
{
    open();
    QK_SOCKETTCP* main = manager->addMainSocket(80, SOCKET_STATE_CONNECTED);
    std::vector<unsigned char> keepAlive = makePacket(KIND_NULL, 0, 0, 0);
    A2aPacketHeader h = readA2aHeader(keepAlive.data());
    h.mainLinkState = 2;
    h.mainLinkFree = 17;
    h.dataLinkState = 1;
    h.dataLinkFree = 30;
    writeA2aHeader(keepAlive.data(), h);
    read(keepAlive);
    EXPECT_EQ(stream->peerMainState, 2);
    EXPECT_EQ(stream->peerMainFree, 17);
    EXPECT_EQ(stream->peerDataLinkState, 1);
    EXPECT_EQ(stream->peerDataLinkFree, 30);
    EXPECT_EQ(stream->recvSeq, 1u);
    read(makePacket(9, 1, 80, 1, "zz"));
    read(makePacket(KIND_CONTROL, 7, 80, 2));
    EXPECT_EQ(stream->recvSeq, 3u);
    EXPECT_EQ(stream->bytesReceived, 2u);
    EXPECT_EQ(stream->peerMainState, 0);   // taken from every packet
    EXPECT_TRUE(manager->calls.empty());
    EXPECT_EQ(main->fromPeer->count, 0);
    EXPECT_TRUE(takeCommands().empty());
    EXPECT_TRUE(hub.logLines.empty());
}

TEST_F(StreamTest, MainLinkDisconnectRequestGoesToTheQueueAfterTheDataOrTheManager)
{
    open();
    read(makePacket(KIND_CONTROL, DISCONNECT_REQUEST, 80, 0));   // no main socket
    EXPECT_EQ(manager->calls, Strings{"disconnect 80"});
    QK_SOCKETTCP* main = manager->addMainSocket(80, SOCKET_STATE_CONNECTED);
    read(makePacket(KIND_CONTROL, DISCONNECT_REQUEST, 2121, 1));   // any port off the FTP channel
    A2aPacketHeader header;
    ASSERT_TRUE(dequeue(main->fromPeer.get(), &header));
    EXPECT_EQ(header.code, DISCONNECT_REQUEST);
    EXPECT_EQ(header.port, 2121);
    // A full queue: the request waits in the stream behind what waits there;
    // the manager stops nothing.
    fill(main->fromPeer.get(), 30);
    read(makePacket(KIND_CONTROL, DISCONNECT_REQUEST, 80, 2));
    EXPECT_EQ(manager->calls, Strings{"disconnect 80"});
    EXPECT_TRUE(stream->holdsPacket());
    EXPECT_EQ(main->fromPeer->count, 30);
    EXPECT_EQ(hub.logLines, (Strings{"EV:alice:TCP切断要求: 127.0.0.1 Port=80 切断",
                                     "EV:alice:TCP切断要求: 127.0.0.1 Port=2121 切断",
                                     "EV:alice:TCP切断要求: 127.0.0.1 Port=80 切断"}));
    read(makePacket(KIND_CONTROL, CONNECT_REPLY, 80, 3));
    EXPECT_EQ(manager->calls.back(), "reply 80 0");
}

TEST_F(StreamTest, FtpChannelPassesADisconnectForItsOwnPortOrItsConnection)
{
    open(0);
    EXPECT_EQ(stream->localPort, 21);
    QK_SOCKETTCP* main = manager->addMainSocket(21, SOCKET_STATE_CONNECTED);
    main->connectionId = 7;
    auto disconnect = [](int port, uint32_t sequence, uint32_t connection) {
        std::vector<unsigned char> packet = makePacket(KIND_CONTROL, DISCONNECT_REQUEST, port, sequence);
        A2aPacketHeader header = readA2aHeader(packet.data());
        header.connectionId = connection;
        writeA2aHeader(packet.data(), header);
        return packet;
    };
    // Another port (a server forwarding to 2121) without a connection, or of another connection.
    read(disconnect(2121, 0, 0));
    read(disconnect(2121, 1, 8));
    EXPECT_EQ(main->fromPeer->count, 0);
    EXPECT_TRUE(hub.logLines.empty());
    EXPECT_EQ(stream->recvSeq, 2u);
    read(disconnect(21, 2, 0));
    EXPECT_EQ(main->fromPeer->count, 1);
    read(disconnect(2121, 3, 7));   // this side's connection, whatever the port
    EXPECT_EQ(main->fromPeer->count, 2);
    EXPECT_EQ(hub.logLines.size(), 2u);
}

TEST_F(StreamTest, DataLinkControlPackets)
{
    open(0);
    // The FTP server behind this server application announces 3000 and 3001.
    QK_SOCKETTCP* main = manager->addMainSocket(21, SOCKET_STATE_CONNECTED);
    queuePacket(main->toPeer.get(), makePacket(KIND_DATA, 0, 21, 0, "227 Entering Passive Mode (10,0,0,1,11,184)\r\n"));
    queuePacket(main->toPeer.get(), makePacket(KIND_DATA, 0, 21, 0, "227 Entering Passive Mode (10,0,0,1,11,185)\r\n"));
    tick();
    sendingDone();
    tick();
    sendingDone();
    ASSERT_EQ(takeWrites().size(), 2u);
    read(makePacket(KIND_DLINK_CONTROL, CONNECT_REQUEST, 3000, 0));
    EXPECT_EQ(manager->calls.back(), "dlinkConnect 127.0.0.1:3000");
    std::vector<SentPacket> writes = takeWrites();
    ASSERT_EQ(writes.size(), 1u);
    EXPECT_EQ(writes[0].header.kind, KIND_DLINK_CONTROL);
    EXPECT_EQ(writes[0].header.code, CONNECT_REPLY);
    EXPECT_EQ(writes[0].header.port, 3000);
    EXPECT_EQ(writes[0].header.repCode, CONNECT_OK);

    manager->dataLinkResult = 0;
    manager->connectError = 10060;
    read(makePacket(KIND_DLINK_CONTROL, CONNECT_REQUEST, 3001, 1));
    writes = takeWrites();
    ASSERT_EQ(writes.size(), 1u);
    EXPECT_EQ(writes[0].header.repCode, CONNECT_NG);
    EXPECT_EQ(writes[0].header.errorCode, 10060);

    read(makePacket(KIND_DLINK_CONTROL, CONNECT_REPLY, 3002, 2));
    EXPECT_EQ(manager->calls.back(), "dlinkReply 3002 0");
    // A data-link DISCONNECT_REQUEST prints no trace of its own, queued or passed on.
    std::string output = captureTrace([&] {
        read(makePacket(KIND_DLINK_CONTROL, DISCONNECT_REQUEST, 3003, 3));   // no data-link socket
    });
    EXPECT_EQ(manager->calls.back(), "dlinkDisconnect 3003");
    QK_SOCKETTCP* data = manager->addDataLinkSocket(3004, SOCKET_STATE_CONNECTED);
    output += captureTrace([&] { read(makePacket(KIND_DLINK_CONTROL, DISCONNECT_REQUEST, 3004, 4)); });
    EXPECT_EQ(data->fromPeer->count, 1);
    EXPECT_EQ(output.find("PEERからのDISCONNECT"), std::string::npos) << output;
    EXPECT_EQ(output.find("A2A RECIEV"), std::string::npos) << output;
    EXPECT_EQ(hub.logLines, (Strings{"EV:alice:TCP接続要求(d-link): 127.0.0.1 Port=3000 接続",
                                     "EV:alice:TCP接続要求(d-link): 127.0.0.1 Port=3001 接続に失敗",
                                     "EV:alice:TCP切断要求(d-link): 127.0.0.1 Port=3003 切断",
                                     "EV:alice:TCP切断要求(d-link): 127.0.0.1 Port=3004 切断"}));
    // Data without a socket of its link is ignored.
    manager->closeAll();
    read(makePacket(KIND_DATA, 0, 21, 5, "x"));
    EXPECT_EQ(stream->recvSeq, 6u);
}

// ------------------------------------------------------------ FTP rewriting

struct RewriteCase {
    const char* name;
    std::string text;
    int createResult;        // what createDataLink answers (-2: the port given)
    Strings createCalls;     // expected calls
    std::string expected;    // payload delivered; "@" stands for the own address ("a,b,c,d")
    const char* logPart;     // expected log line part, or null for none
};

void PrintTo(const RewriteCase& c, std::ostream* out)
{
    *out << c.name;
}

std::string ownAddressText()
{
    uint32_t a = getLocalAddress();
    return std::to_string(a & 0xff) + "," + std::to_string((a >> 8) & 0xff) + "," +
           std::to_string((a >> 16) & 0xff) + "," + std::to_string(a >> 24);
}

std::string withOwnAddress(const std::string& text)
{
    std::string out;
    for (char c : text) {
        if (c == '@')
            out += ownAddressText();
        else
            out.push_back(c);
    }
    return out;
}

// A payload of 10,240 bytes: a line of filler, then the FTP text.
std::string fullFiller(const std::string& text)
{
    return std::string(10240 - text.size() - 2, 'x') + "\r\n";
}

std::string fullPayload(const std::string& text)
{
    return fullFiller(text) + text;
}

class FtpRewriting : public StreamTest, public testing::WithParamInterface<RewriteCase> {};

TEST_P(FtpRewriting, ReplacesTheAnnouncedAddressWhereItStands)
{
    const RewriteCase& c = GetParam();
    open(0);
    QK_SOCKETTCP* main = manager->addMainSocket(21, SOCKET_STATE_CONNECTED);
    manager->createDataLinkResult = c.createResult;
    read(makePacket(KIND_DATA, 0, 21, 0, c.text));
    // Every byte arrives, in packets of at most 10,240 payload bytes.
    std::string delivered;
    A2aPacketHeader header;
    std::string payload;
    int packets = 0;
    while (dequeue(main->fromPeer.get(), &header, &payload)) {
        ++packets;
        EXPECT_EQ(header.kind, KIND_DATA);
        EXPECT_EQ(header.port, 21);
        EXPECT_LE(header.payloadSize, 10240);
        delivered += payload;
    }
    const std::string expected = withOwnAddress(c.expected);
    EXPECT_EQ(packets, expected.size() <= 10240 ? 1 : 2);
    EXPECT_EQ(delivered.size(), expected.size());
    EXPECT_TRUE(delivered == expected) << delivered.substr(0, 200);
    EXPECT_EQ(manager->calls, c.createCalls);
    if (c.logPart != nullptr) {
        ASSERT_EQ(hub.logLines.size(), 1u);
        EXPECT_NE(hub.logLines[0].find(c.logPart), std::string::npos) << hub.logLines[0];
    } else {
        EXPECT_TRUE(hub.logLines.empty());
    }
}

const std::string kPortLine = "PORT 10,0,0,2,7,208\r\n";
const std::string kPassiveLine = "227 Entering Passive Mode (192,168,0,10,4,1).\r\n";
const std::string kThousandZeros(1000, '0');

INSTANTIATE_TEST_SUITE_P(
    Texts, FtpRewriting,
    testing::Values(
        RewriteCase{"Passive", kPassiveLine, 50000, {"createDataLink 1025"},
                    "227 Entering Passive Mode (@,195,80).\r\n",
                    "EV:aliceとのFTP接続:127.0.0.1とのd-port=50000/1025 作成"},
        RewriteCase{"Port", kPortLine, 40001, {"createDataLink 2000"}, "PORT @,156,65\r\n",
                    "EV:aliceとのFTP接続:127.0.0.1とのd-port=40001/2000 作成"},
        // The lines behind the text are kept.
        RewriteCase{"PortThenMoreCommands", kPortLine + "NOOP\r\nLIST\r\n", 40001, {"createDataLink 2000"},
                    "PORT @,156,65\r\nNOOP\r\nLIST\r\n", "d-port=40001/2000 作成"},
        RewriteCase{"PassiveThenALine", kPassiveLine + "150 Here comes the listing.\r\n", 50000,
                    {"createDataLink 1025"}, "227 Entering Passive Mode (@,195,80).\r\n150 Here comes the listing.\r\n",
                    "d-port=50000/1025 作成"},
        // A text on a later line is found; the lines before it are kept.
        RewriteCase{"PassiveOnTheSecondLine", "200 ok\r\n" + kPassiveLine, 50000, {"createDataLink 1025"},
                    "200 ok\r\n227 Entering Passive Mode (@,195,80).\r\n", "d-port=50000/1025 作成"},
        RewriteCase{"PortAfterABareLineFeed", "NOOP\nport 10,0,0,2,7,208\n", 40001, {"createDataLink 2000"},
                    "NOOP\nport @,156,65\n", "d-port=40001/2000 作成"},
        // Not at the start of a line: no text.
        RewriteCase{"PortInsideALine", "200 PORT 10,0,0,2,7,208 ok\r\n", 40001, {},
                    "200 PORT 10,0,0,2,7,208 ok\r\n", nullptr},
        RewriteCase{"CreateFails", kPassiveLine, -1, {"createDataLink 1025"}, kPassiveLine,
                    "EV:aliceとのFTP接続:127.0.0.1とのd-port=1025 作成失敗."},
        RewriteCase{"SamePort", kPortLine, -2, {"createDataLink 2000"}, kPortLine, nullptr},
        // Numbers outside 0 to 255 leave the text alone, whatever port their pieces would give.
        RewriteCase{"PortAbove65535", "227 Entering Passive Mode (1,2,3,4,256,0)\r\n", 50000, {},
                    "227 Entering Passive Mode (1,2,3,4,256,0)\r\n", nullptr},
        RewriteCase{"LowByteAbove255", "PORT 1,2,3,4,3,300\r\n", 50000, {}, "PORT 1,2,3,4,3,300\r\n", nullptr},
        RewriteCase{"LowByteMinusOne", "PORT 1,2,3,4,4,-1\r\n", 50000, {}, "PORT 1,2,3,4,4,-1\r\n", nullptr},
        RewriteCase{"HighByteMinusOne", "PORT 1,2,3,4,-1,0\r\n", 50000, {}, "PORT 1,2,3,4,-1,0\r\n", nullptr},
        RewriteCase{"AddressAbove255", "PORT 1,2,999,4,7,208\r\n", 50000, {}, "PORT 1,2,999,4,7,208\r\n", nullptr},
        RewriteCase{"ThousandLeadingZeros", "PORT 1,2,3,4," + kThousandZeros + "4,1\r\n", 50000, {},
                    "PORT 1,2,3,4," + kThousandZeros + "4,1\r\n", nullptr},
        RewriteCase{"NotANumber", "PORT 1,2,3,4,x,9\r\n", 50000, {}, "PORT 1,2,3,4,x,9\r\n", nullptr},
        // A text cut by the end of the packet: its last number may go on in the next one.
        RewriteCase{"PortCutInTheLastNumber", "PORT 10,0,0,2,7,20", 50000, {}, "PORT 10,0,0,2,7,20", nullptr},
        RewriteCase{"SplitFirstHalf", "227 Entering Passive", 50000, {}, "227 Entering Passive", nullptr},
        RewriteCase{"SplitSecondHalf", " Mode (192,168,0,10,4,1).\r\n", 50000, {}, " Mode (192,168,0,10,4,1).\r\n",
                    nullptr},
        RewriteCase{"FewerThanSixNumbers", "PORT 10,0,0,2\r\n", 50000, {}, "PORT 10,0,0,2\r\n", nullptr},
        RewriteCase{"OtherText", "150 Opening data connection.\r\n", 50000, {}, "150 Opening data connection.\r\n",
                    nullptr},
        // A full packet that grows: the rest goes on in a second packet.
        RewriteCase{"FullPacketGrows", fullPayload("PORT 1,2,3,4,7,208\r\n"), 40001, {"createDataLink 2000"},
                    fullFiller("PORT 1,2,3,4,7,208\r\n") + "PORT @,156,65\r\n", "d-port=40001/2000 作成"}),
    [](const testing::TestParamInfo<RewriteCase>& param) { return std::string(param.param.name); });

// ------------------------------------------ what the peer may ask of a data link

struct AnnounceCase {
    const char* name;
    int appMode;
    const char* sent;   // what this side's FTP program sends on the main link
    bool obeyed;        // whether a data-link request for port 3000 is then obeyed
};

void PrintTo(const AnnounceCase& c, std::ostream* out)
{
    *out << c.name;
}

class DataLinkAnnouncement : public StreamTest, public testing::WithParamInterface<AnnounceCase> {};

TEST_P(DataLinkAnnouncement, ObeysARequestOnlyForAPortThisSideAnnounced)
{
    const AnnounceCase& c = GetParam();
    settings->appMode = c.appMode;
    open(0);
    QK_SOCKETTCP* main = manager->addMainSocket(21, SOCKET_STATE_CONNECTED);
    queuePacket(main->toPeer.get(), makePacket(KIND_DATA, 0, 21, 0, c.sent));
    tick();
    sendingDone();
    ASSERT_EQ(takeWrites().size(), 1u);
    read(makePacket(KIND_DLINK_CONTROL, CONNECT_REQUEST, 3000, 0));
    std::vector<SentPacket> writes = takeWrites();
    ASSERT_EQ(writes.size(), 1u);
    EXPECT_EQ(writes[0].header.kind, KIND_DLINK_CONTROL);
    EXPECT_EQ(writes[0].header.code, CONNECT_REPLY);
    if (c.obeyed) {
        EXPECT_EQ(manager->calls, Strings{"dlinkConnect 127.0.0.1:3000"});
        EXPECT_EQ(writes[0].header.repCode, CONNECT_OK);
    } else {
        EXPECT_TRUE(manager->calls.empty());
        EXPECT_EQ(writes[0].header.repCode, CONNECT_NG);
        EXPECT_EQ(hub.logLines, Strings{"EV:alice:TCP接続要求(d-link): 127.0.0.1 Port=3000 通知のないポートのため拒否"});
    }
}

INSTANTIATE_TEST_SUITE_P(
    Texts, DataLinkAnnouncement,
    testing::Values(
        AnnounceCase{"ClientPort", 1, "PORT 127,0,0,1,11,184\r\n", true},
        AnnounceCase{"ClientPortAfterAnotherLine", 1, "NOOP\r\nPORT 127,0,0,1,11,184\r\n", true},
        AnnounceCase{"ClientPassiveReplyIsNotItsOwn", 1, "227 Entering Passive Mode (127,0,0,1,11,184)\r\n", false},
        AnnounceCase{"ServerPassive", 0, "227 Entering Passive Mode (127,0,0,1,11,184)\r\n", true},
        AnnounceCase{"ServerPortCommandIsNotItsOwn", 0, "PORT 127,0,0,1,11,184\r\n", false},
        AnnounceCase{"AnotherPort", 0, "227 Entering Passive Mode (127,0,0,1,11,185)\r\n", false},
        AnnounceCase{"NoText", 0, "150 Opening data connection.\r\n", false}),
    [](const testing::TestParamInfo<AnnounceCase>& param) { return std::string(param.param.name); });

TEST_F(StreamTest, AnnouncementsOfAnEndedFtpSessionAreForgotten)
{
    open(0);
    QK_SOCKETTCP* main = manager->addMainSocket(21, SOCKET_STATE_CONNECTED);
    main->connectionId = 7;
    queuePacket(main->toPeer.get(), makePacket(KIND_DATA, 0, 21, 0, "227 Entering Passive Mode (127,0,0,1,11,184)\r\n"));
    tick();
    sendingDone();
    main->connectionId = 8;   // the next FTP session
    read(makePacket(KIND_DLINK_CONTROL, CONNECT_REQUEST, 3000, 0));
    EXPECT_TRUE(manager->calls.empty());
}

// ------------------------------------------------------ connection ids

TEST_F(StreamTest, PacketsOfAnotherConnectionPassOverAndZeroMeansAsBefore)
{
    open();
    QK_SOCKETTCP* main = manager->addMainSocket(80, SOCKET_STATE_CONNECTED);
    main->connectionId = 41;
    uint32_t sequence = 0;
    auto packet = [&](int kind, int code, uint32_t connection, const std::string& payload = std::string()) {
        std::vector<unsigned char> bytes = makePacket(kind, code, 80, sequence++, payload);
        A2aPacketHeader header = readA2aHeader(bytes.data());
        header.connectionId = connection;
        writeA2aHeader(bytes.data(), header);
        read(bytes);
    };
    packet(KIND_DATA, 0, 40, "old");
    packet(KIND_CONTROL, DISCONNECT_REQUEST, 40);
    packet(KIND_CONTROL, CONNECT_REPLY, 40);
    EXPECT_EQ(main->fromPeer->count, 0);
    EXPECT_TRUE(manager->calls.empty());
    EXPECT_TRUE(hub.logLines.empty());
    packet(KIND_DATA, 0, 41, "own");
    packet(KIND_DATA, 0, 0, "unnamed");
    packet(KIND_CONTROL, CONNECT_REPLY, 0);
    packet(KIND_CONTROL, DISCONNECT_REQUEST, 0);
    EXPECT_EQ(main->fromPeer->count, 3);
    EXPECT_EQ(manager->calls, Strings{"reply 80 0"});
    // A socket whose peer named no connection takes every packet.
    main->connectionId = 0;
    packet(KIND_DATA, 0, 40, "any");
    EXPECT_EQ(main->fromPeer->count, 4);
}

TEST_F(StreamTest, ConnectRequestsHandTheirIdToTheManagerAndTheReply)
{
    open(0);
    std::vector<unsigned char> request = makePacket(KIND_CONTROL, CONNECT_REQUEST, 21, 0);
    A2aPacketHeader header = readA2aHeader(request.data());
    header.connectionId = 12345;
    writeA2aHeader(request.data(), header);
    read(request);
    EXPECT_EQ(manager->calls, Strings{"connect 127.0.0.1:21 #12345"});
    std::vector<SentPacket> writes = takeWrites();
    ASSERT_EQ(writes.size(), 1u);
    EXPECT_EQ(writes[0].header.code, CONNECT_REPLY);
    EXPECT_EQ(writes[0].header.connectionId, 12345u);
}

TEST_F(StreamTest, DataLinkDisconnectBehindAFullQueueWaitsForTheData)
{
    open(0);
    QK_SOCKETTCP* data = manager->addDataLinkSocket(3000, SOCKET_STATE_CONNECTED);
    fill(data->fromPeer.get(), 30);
    read(makePacket(KIND_DLINK_CONTROL, DISCONNECT_REQUEST, 3000, 0));
    EXPECT_TRUE(manager->calls.empty());
    EXPECT_TRUE(stream->holdsPacket());
    EXPECT_EQ(data->fromPeer->count, 30);
    A2aPacketHeader first;
    ASSERT_TRUE(dequeue(data->fromPeer.get(), &first));
    tick();
    EXPECT_FALSE(stream->holdsPacket());
    EXPECT_EQ(data->fromPeer->count, 30);
    EXPECT_EQ(hub.logLines, Strings{"EV:alice:TCP切断要求(d-link): 127.0.0.1 Port=3000 切断"});
}

TEST_F(StreamTest, OtherChannelsDoNotRewrite)
{
    open(1);
    QK_SOCKETTCP* main = manager->addMainSocket(80, SOCKET_STATE_CONNECTED);
    const std::string text = "PORT 10,0,0,2,7,208\r\n";
    read(makePacket(KIND_DATA, 0, 80, 0, text));
    A2aPacketHeader header;
    std::string payload;
    ASSERT_TRUE(dequeue(main->fromPeer.get(), &header, &payload));
    EXPECT_EQ(payload, text);
    EXPECT_TRUE(manager->calls.empty());
}

// ------------------------------------------------------- full from-peer queue

TEST_F(StreamTest, DataForAnEndedConnectionIsDroppedWithoutWaiting)
{
    open();
    QK_SOCKETTCP* main = manager->addMainSocket(80, SOCKET_STATE_ACCEPTING);
    fill(main->fromPeer.get(), 30);
    auto start = std::chrono::steady_clock::now();
    read(makePacket(KIND_DATA, 0, 80, 0, "late"));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(4));   // no 5 s wait
    EXPECT_EQ(main->fromPeer->count, 30);
    EXPECT_TRUE(takeWrites().empty());
    EXPECT_TRUE(hub.logLines.empty());
}

// A packet for a full queue waits in the stream, not on the user-interface
// thread: the stream reads no more of Skype meanwhile (its RECEIVED is passed
// over), another stream goes on, and a later tick lets the packet go on and
// reads what Skype kept. Nothing is lost, nothing is cut.
TEST_F(StreamTest, FullQueueHoldsThePacketForALaterTickWhileAnotherStreamFlows)
{
    open();
    QK_SOCKETTCP* main = manager->addMainSocket(80, SOCKET_STATE_CONNECTED);
    for (int i = 0; i < 30; ++i)
        queuePacket(main->fromPeer.get(), makePacket(KIND_DATA, 0, 80, 0, "p" + std::to_string(i)));
    QK_SKYPESTREAM* other = openStream(2, "alice", 6);
    ASSERT_NE(other, nullptr);
    QK_SOCKETTCP* otherMain = fakeManager(other)->addMainSocket(2401, SOCKET_STATE_CONNECTED);
    takeCommands();
    hub.logLines.clear();

    read(makePacket(KIND_DATA, 0, 80, 0, "kept"));
    EXPECT_TRUE(stream->holdsPacket());
    EXPECT_EQ(main->fromPeer->count, 30);
    EXPECT_TRUE(takeCommands().empty());
    EXPECT_TRUE(hub.logLines.empty());
    appNotify(channel, "RECEIVED alice:5=90");
    EXPECT_TRUE(takeCommands().empty()); // no READ while the packet waits

    // The other stream reads and sends as ever.
    readReply(2, "alice", 6, makePacket(KIND_DATA, 0, 2401, 0, "down"));
    A2aPacketHeader header;
    std::string payload;
    ASSERT_TRUE(dequeue(otherMain->fromPeer.get(), &header, &payload));
    EXPECT_EQ(payload, "down");
    queuePacket(otherMain->toPeer.get(), makePacket(KIND_DATA, 0, 2401, 0, "up"));
    tick();
    std::vector<SentPacket> writes = takeWrites();
    ASSERT_EQ(writes.size(), 1u);
    EXPECT_EQ(writes[0].app, kApps[2]);
    EXPECT_TRUE(stream->holdsPacket());

    // The relay takes one: the next tick queues the packet and reads on.
    ASSERT_TRUE(dequeue(main->fromPeer.get(), &header, &payload));
    EXPECT_EQ(payload, "p0");
    tick();
    EXPECT_FALSE(stream->holdsPacket());
    EXPECT_EQ(takeCommands(), Strings{"ALTER APPLICATION " + std::string(kApps[1]) + " READ alice:5"});
    for (int i = 1; i < 30; ++i) {
        ASSERT_TRUE(dequeue(main->fromPeer.get(), &header, &payload));
        EXPECT_EQ(payload, "p" + std::to_string(i));
    }
    ASSERT_TRUE(dequeue(main->fromPeer.get(), &header, &payload));
    EXPECT_EQ(payload, "kept");
    EXPECT_TRUE(hub.logLines.empty());
}

// A relay that has ended but still hands its last bytes to the reader takes
// nothing more from its queue: what comes for it is dropped at once, with no
// wait, no error line and no DISCONNECT_REQUEST of its own.
TEST_F(StreamTest, PacketsForARelayThatTakesNoMoreAreDroppedAtOnce)
{
    open();
    QK_SOCKETTCP* main = manager->addMainSocket(80, SOCKET_STATE_IDLE);
    main->running = 1;
    main->takesFromPeer = 0;
    fill(main->fromPeer.get(), 30);
    read(makePacket(KIND_DATA, 0, 80, 0, "late"));
    read(makePacket(KIND_CONTROL, DISCONNECT_REQUEST, 80, 1));
    EXPECT_FALSE(stream->holdsPacket());
    EXPECT_EQ(main->fromPeer->count, 30);
    EXPECT_TRUE(takeWrites().empty());
    EXPECT_TRUE(logLinesContaining("QUEFULL").empty());
    main->running = 0;
}

// A server application's next connection waits while the one before still
// hands its last bytes to a slow reader: the request is held (and the
// stream reads nothing more), then served once that relay has ended.
TEST_F(StreamTest, ConnectRequestWaitsForTheEndOfTheConnectionBefore)
{
    open();
    QK_SOCKETTCP* main = manager->addMainSocket(80, SOCKET_STATE_IDLE);
    main->running = 1; // its relay still writes to the reader
    std::vector<unsigned char> request = makePacket(KIND_CONTROL, CONNECT_REQUEST, 80, 0);
    A2aPacketHeader header = readA2aHeader(request.data());
    header.connectionId = 7;
    writeA2aHeader(request.data(), header);
    read(request);
    EXPECT_TRUE(manager->calls.empty());
    EXPECT_TRUE(stream->holdsPacket());
    appNotify(channel, "RECEIVED alice:5=80");
    tick(5);
    EXPECT_TRUE(manager->calls.empty());
    EXPECT_TRUE(takeCommands().empty());

    main->running = 0;
    tick();
    EXPECT_EQ(manager->calls, Strings{"connect 127.0.0.1:80 #7"});
    EXPECT_FALSE(stream->holdsPacket());
    std::vector<std::string> commands = takeCommands();
    ASSERT_EQ(commands.size(), 2u);
    SentPacket reply;
    ASSERT_TRUE(parseWrite(commands[0], &reply));
    EXPECT_EQ(reply.header.code, CONNECT_REPLY);
    EXPECT_EQ(reply.header.connectionId, 7u);
    EXPECT_EQ(commands[1], "ALTER APPLICATION " + std::string(kApps[1]) + " READ alice:5");
}

// ------------------------------------------------------------- flow credit

namespace {

// A keep-alive of a peer that counts what it takes.
std::vector<unsigned char> creditReport(uint32_t sequence, int mainFree, int mainTaken, int dataFree = 30,
                                        int dataTaken = 0)
{
    std::vector<unsigned char> packet = makePacket(KIND_NULL, 0, 0, sequence);
    A2aPacketHeader h = readA2aHeader(packet.data());
    h.flowFlags = A2A_FLOW_CREDIT;
    h.mainLinkState = SOCKET_STATE_CONNECTED;
    h.mainLinkFree = static_cast<uint16_t>(mainFree);
    h.mainLinkTaken = static_cast<uint16_t>(mainTaken);
    h.dataLinkState = SOCKET_STATE_CONNECTED;
    h.dataLinkFree = static_cast<uint16_t>(dataFree);
    h.dataLinkTaken = static_cast<uint16_t>(dataTaken);
    writeA2aHeader(packet.data(), h);
    return packet;
}

} // namespace

// A link's data goes only while the peer has room for it beyond the
// reserve, counting what is on its way; control packets need none. Every
// packet tells the peer what this side has taken.
TEST_F(StreamTest, DataWaitsForRoomAtThePeerAndControlPacketsDoNot)
{
    open();
    QK_SOCKETTCP* main = manager->addMainSocket(80, SOCKET_STATE_CONNECTED);
    read(makePacket(KIND_DATA, 0, 80, 0, "in"));
    read(creditReport(1, 4, 0));
    EXPECT_EQ(main->peerHalfClose.load(), 1);
    for (const char* text : {"a", "b", "c"})
        queuePacket(main->toPeer.get(), makePacket(KIND_DATA, 0, 80, 0, text));
    queuePacket(main->toPeer.get(), makePacket(KIND_CONTROL, DISCONNECT_REQUEST, 80, 0));
    std::string sent;
    for (int i = 0; i < 5; ++i) {
        tick();
        for (const SentPacket& p : takeWrites()) {
            sent += std::string(p.payload.begin(), p.payload.end());
            EXPECT_EQ(p.header.flowFlags & A2A_FLOW_CREDIT, A2A_FLOW_CREDIT);
            EXPECT_EQ(p.header.mainLinkTaken, 1);
        }
        sendingDone();
    }
    EXPECT_EQ(sent, "ab"); // 4 free, 2 kept in reserve
    EXPECT_EQ(main->toPeer->count, 2);
    // The peer has taken both and has room again: the rest follows, the
    // control packet right behind the data.
    read(creditReport(2, 10, 2));
    std::vector<SentPacket> writes;
    for (int i = 0; i < 5; ++i) {
        tick();
        for (const SentPacket& p : takeWrites())
            writes.push_back(p);
        sendingDone();
    }
    ASSERT_EQ(writes.size(), 2u);
    EXPECT_EQ(std::string(writes[0].payload.begin(), writes[0].payload.end()), "c");
    EXPECT_EQ(writes[1].header.code, DISCONNECT_REQUEST);
    // With no room at all a control packet still goes.
    read(creditReport(3, 0, 2));
    queuePacket(main->toPeer.get(), makePacket(KIND_CONTROL, DISCONNECT_REQUEST, 80, 0));
    tick();
    writes = takeWrites();
    ASSERT_EQ(writes.size(), 1u);
    EXPECT_EQ(writes[0].header.code, DISCONNECT_REQUEST);
}

// The FTP data link has room of its own: a full main-link queue at the peer
// holds back only the main link's data.
TEST_F(StreamTest, EachLinkWaitsForItsOwnRoom)
{
    open(0);
    QK_SOCKETTCP* main = manager->addMainSocket(21, SOCKET_STATE_CONNECTED);
    QK_SOCKETTCP* data = manager->addDataLinkSocket(3000, SOCKET_STATE_CONNECTED);
    read(creditReport(0, 0, 0, 30, 0));
    queuePacket(main->toPeer.get(), makePacket(KIND_DATA, 0, 21, 0, "NOOP\r\n"));
    for (int i = 0; i < 3; ++i)
        queuePacket(data->toPeer.get(), makePacket(KIND_DLINK_DATA, 0, 3000, 0, "d" + std::to_string(i)));
    std::string sent;
    for (int i = 0; i < 4; ++i) {
        tick();
        for (const SentPacket& p : takeWrites())
            sent += std::string(p.payload.begin(), p.payload.end());
        sendingDone();
    }
    EXPECT_EQ(sent, "d0d1d2");
    EXPECT_EQ(main->toPeer->count, 1);
}

// A receiver whose peer may believe it has little room, while it has more,
// says so at once with a keep-alive; a peer that does not count gets none.
TEST_F(StreamTest, FreedRoomIsToldAtOnceToAPeerThatCounts)
{
    for (bool counts : {true, false}) {
        SCOPED_TRACE(counts ? "peer counts" : "peer does not count");
        open();
        QK_SOCKETTCP* main = manager->addMainSocket(80, SOCKET_STATE_CONNECTED);
        for (int i = 0; i < 25; ++i)
            read(makePacket(KIND_DATA, 0, 80, stream->recvSeq, "x"));
        std::vector<unsigned char> report = creditReport(stream->recvSeq, 30, 0);
        if (!counts)
            report = makePacket(KIND_NULL, 0, 0, stream->recvSeq);
        read(report);
        queuePacket(main->toPeer.get(), makePacket(KIND_DATA, 0, 80, 0, "up"));
        tick();
        std::vector<SentPacket> writes = takeWrites();
        ASSERT_EQ(writes.size(), 1u);
        EXPECT_EQ(writes[0].header.mainLinkFree, 5);
        sendingDone();
        tick();
        EXPECT_TRUE(takeWrites().empty()); // nothing more is free yet
        A2aPacketHeader header;
        for (int i = 0; i < 10; ++i)
            ASSERT_TRUE(dequeue(main->fromPeer.get(), &header));
        tick();
        writes = takeWrites();
        if (counts) {
            ASSERT_EQ(writes.size(), 1u);
            EXPECT_EQ(writes[0].header.kind, KIND_NULL);
            EXPECT_EQ(writes[0].header.mainLinkFree, 15);
            EXPECT_EQ(writes[0].header.mainLinkTaken, 25);
            sendingDone();
            tick();
            EXPECT_TRUE(takeWrites().empty()); // told once
        } else {
            EXPECT_TRUE(writes.empty());
        }
        appNotify(channel, "STREAMS");
        takeCommands();
    }
}

struct OversizeCase {
    bool mainLink;
    const char* logLine;
};

void PrintTo(const OversizeCase& c, std::ostream* out)
{
    *out << (c.mainLink ? "mainLink" : "dataLink");
}

class OversizePacket : public StreamTest, public testing::WithParamInterface<OversizeCase> {};

TEST_P(OversizePacket, ThatNoSlotHoldsEndsTheConnection)
{
    const OversizeCase& c = GetParam();
    open(0);
    QK_SOCKETTCP* socket = c.mainLink ? manager->addMainSocket(21, SOCKET_STATE_CONNECTED)
                                      : manager->addDataLinkSocket(3000, SOCKET_STATE_CONNECTED);
    fill(socket->fromPeer.get(), 2);
    std::string big(QUE_ENTRY_SIZE, 'b');
    read(makePacket(c.mainLink ? KIND_DATA : KIND_DLINK_DATA, 0, 4242, 0, big));
    EXPECT_EQ(hub.logLines, Strings{c.logLine});
    // What was queued before stays, then the disconnect request.
    ASSERT_EQ(socket->fromPeer->count, 3);
    A2aPacketHeader header;
    ASSERT_TRUE(dequeue(socket->fromPeer.get(), &header));
    ASSERT_TRUE(dequeue(socket->fromPeer.get(), &header));
    ASSERT_TRUE(dequeue(socket->fromPeer.get(), &header));
    uint16_t kind = c.mainLink ? KIND_CONTROL : KIND_DLINK_CONTROL;
    EXPECT_EQ(header.kind, kind);
    EXPECT_EQ(header.code, DISCONNECT_REQUEST);
    std::vector<SentPacket> writes = takeWrites();
    ASSERT_EQ(writes.size(), 1u);
    EXPECT_EQ(writes[0].header.kind, kind);
    EXPECT_EQ(writes[0].header.code, DISCONNECT_REQUEST);
    EXPECT_EQ(writes[0].header.port, socket->port);
}

INSTANTIATE_TEST_SUITE_P(
    Links, OversizePacket,
    testing::Values(OversizeCase{true, "ER:alice:TCP接続: 127.0.0.1 Port=4242 QUEFULLを検出、切断"},
                    OversizeCase{false, "ER:aliceとのFTP接続:127.0.0.1とのd-port=4242 QUEFULLを検出"}));

// ------------------------------------------------------------ failed sends

TEST_F(StreamTest, FailedWriteInTheMiddleOfATickLeavesTheDestroyedStreamAlone)
{
    open(0);
    QK_SOCKETTCP* main = manager->addMainSocket(21, SOCKET_STATE_CONNECTED);
    QK_SOCKETTCP* data = manager->addDataLinkSocket(3000, SOCKET_STATE_CONNECTED);
    queuePacket(main->toPeer.get(), makePacket(KIND_DATA, 0, 21, 0, "RETR file\r\n"));
    queuePacket(data->toPeer.get(), makePacket(KIND_DLINK_DATA, 0, 3000, 0, "bytes"));
    skype->failNext = 1;
    tick();
    EXPECT_EQ(skype->failedCommands.size(), 1u);
    EXPECT_TRUE(takeWrites().empty());   // the data link's packet went with the stream
    EXPECT_EQ(a2a->hasStream(), 0);
    EXPECT_EQ(logLinesContaining("をキャンセル").size(), 1u);
    EXPECT_EQ(app(0).state, APPLICATION_NOT_CREATED);
}

TEST_F(StreamTest, FailedKeepAliveLeavesTheDestroyedStreamAlone)
{
    open();
    tick(600);
    skype->failNext = 1;
    tick();
    EXPECT_EQ(skype->failedCommands.size(), 1u);
    EXPECT_EQ(a2a->hasStream(), 0);
}

TEST_F(StreamTest, FailedConnectReplyWritesNoLogLine)
{
    open();
    skype->failNext = 1;
    read(makePacket(KIND_CONTROL, CONNECT_REQUEST, 80, 0));
    EXPECT_EQ(skype->failedCommands.size(), 1u);
    EXPECT_EQ(a2a->hasStream(), 0);
    EXPECT_TRUE(logLinesContaining("TCP接続要求").empty());
}

TEST_F(StreamTest, FailedDisconnectAfterASequenceGapDropsThePacket)
{
    open();
    manager->addMainSocket(80, SOCKET_STATE_CONNECTED);
    skype->failNext = 1;
    read(makePacket(KIND_DATA, 0, 80, 7, "gap"));
    EXPECT_EQ(skype->failedCommands, Strings{disconnectCommand()});
    EXPECT_EQ(a2a->hasStream(), 0);
}

TEST_F(StreamTest, FailedDisconnectToThePeerAfterAnOversizePacket)
{
    open();
    manager->addMainSocket(80, SOCKET_STATE_CONNECTED);
    skype->failNext = 1;
    read(makePacket(KIND_DATA, 0, 80, 0, std::string(QUE_ENTRY_SIZE, 'b')));
    EXPECT_EQ(skype->failedCommands.size(), 1u);
    EXPECT_EQ(a2a->hasStream(), 0);
}

TEST_F(StreamTest, StreamEndedByANotificationDuringItsOwnWrite)
{
    // Skype may deliver a notification while a command of ours is still
    // inside its SendMessage: here the STREAMS list that ends this stream.
    open(0);
    QK_SOCKETTCP* main = manager->addMainSocket(21, SOCKET_STATE_CONNECTED);
    QK_SOCKETTCP* data = manager->addDataLinkSocket(3000, SOCKET_STATE_CONNECTED);
    queuePacket(main->toPeer.get(), makePacket(KIND_DATA, 0, 21, 0, "QUIT\r\n"));
    queuePacket(data->toPeer.get(), makePacket(KIND_DLINK_DATA, 0, 3000, 0, "bytes"));
    bool sentStreams = false;
    skype->onCommand = [&](const std::string& command) {
        if (!sentStreams && command.find(" WRITE ") != std::string::npos) {
            sentStreams = true;
            appNotify(0, "STREAMS");
        }
    };
    tick();
    skype->onCommand = nullptr;
    EXPECT_TRUE(sentStreams);
    EXPECT_EQ(takeWrites().size(), 1u);
    EXPECT_EQ(a2a->hasStream(), 0);
    EXPECT_EQ(logLinesContaining("を切断").size(), 1u);
}

TEST_F(StreamTest, FailedRefusalStopsTheStreamsList)
{
    setContacts("alice");
    skype->failNext = 1;
    appNotify(1, "STREAMS mallory:1 alice:2");
    EXPECT_EQ(skype->failedCommands, Strings{"ALTER APPLICATION ZorvaneForHttp000 DISCONNECT mallory:1"});
    EXPECT_EQ(a2a->hasStream(), 0);
    EXPECT_TRUE(logLinesContaining("で接続").empty());
    EXPECT_TRUE(logLinesContaining("拒否").empty());
}

TEST_F(StreamTest, FailedReadRequestLosesTheLinkCleanly)
{
    open();
    skype->failNext = 1;
    appNotify(1, "RECEIVED alice:5=1");
    EXPECT_EQ(skype->failedCommands, Strings{"ALTER APPLICATION ZorvaneForHttp000 READ alice:5"});
    EXPECT_EQ(a2a->hasStream(), 0);
}

} // namespace
