// Socket objects and their relay threads on real loopback TCP; the test plays
// the stream's side of the two queues.
#include "relay_fixture.h"

#include <atomic>
#include <future>

namespace relaytest {
namespace {

class SocketTcp : public RelayTest {
protected:
    void SetUp() override
    {
        RelayTest::SetUp();
        s_ = std::make_unique<QK_SOCKETTCP>();
        s_->initSocket();
    }
    void TearDown() override
    {
        for (SOCKET c : clients_)
            closesocket(c);
        if (s_)
            s_->teardown();
        s_.reset();
        RelayTest::TearDown();
    }

    SOCKET client(int port, const char* address = "127.0.0.1")
    {
        SOCKET c = connectLocal(port, address);
        if (c != INVALID_SOCKET)
            clients_.push_back(c);
        return c;
    }
    void drop(SOCKET c)
    {
        closesocket(c);
        std::erase(clients_, c);
    }

    // A main-link listener with its server thread.
    int startServer()
    {
        int port = freePort();
        EXPECT_EQ(s_->createServer(port), 1);
        s_->startThread();
        EXPECT_EQ(s_->running.load(), 1);
        return port;
    }

    // Connects a local client and takes its CONNECT_REQUEST.
    SOCKET connectAndExpectRequest(int port, uint16_t kind = KIND_CONTROL)
    {
        SOCKET c = client(port);
        EXPECT_NE(c, INVALID_SOCKET);
        Taken t;
        EXPECT_TRUE(takePacket(*s_->toPeer, &t));
        EXPECT_EQ(t.header.headerSize, A2A_HEADER_SIZE);
        EXPECT_EQ(t.header.kind, kind) << packetText(t.header);
        EXPECT_EQ(t.header.code, CONNECT_REQUEST) << packetText(t.header);
        EXPECT_EQ(t.header.port, s_->port);
        EXPECT_EQ(t.header.payloadSize, 0);
        EXPECT_TRUE(waitUntil([&] { return s_->state.load() == SOCKET_STATE_CONNECTED; }));
        return c;
    }

    // Connects `s` as a client to a test listener and returns the test's end
    // of the connection; small buffers (bytes, 0: the system's) make a reader
    // that does not read show at once.
    SOCKET connectOutward(QK_SOCKETTCP* s, int readerBuffer = 0, int relayBuffer = 0)
    {
        int port = 0;
        SOCKET l = listenLocal(&port);
        if (readerBuffer > 0)
            setsockopt(l, SOL_SOCKET, SO_RCVBUF, reinterpret_cast<char*>(&readerBuffer), sizeof readerBuffer);
        s->prepareClient(port, "127.0.0.1");
        if (relayBuffer > 0)
            setsockopt(s->sock.load(), SOL_SOCKET, SO_SNDBUF, reinterpret_cast<char*>(&relayBuffer), sizeof relayBuffer);
        EXPECT_EQ(s->connectClient(), 1);
        SOCKET server = accept(l, nullptr, nullptr);
        closesocket(l);
        if (server != INVALID_SOCKET)
            clients_.push_back(server);
        return server;
    }

    std::unique_ptr<QK_SOCKETTCP> s_;
    std::vector<SOCKET> clients_;
};

TEST_F(SocketTcp, FreshObjectHasNoSocketsNoThreadAndTwoQueues)
{
    EXPECT_STREQ(s_->tag, "QK_SOCKETTCP");
    EXPECT_EQ(s_->role, SOCKET_ROLE_NONE);
    EXPECT_EQ(s_->state.load(), SOCKET_STATE_IDLE);
    EXPECT_EQ(s_->isMainLink, 1);
    EXPECT_EQ(s_->listenSock.load(), INVALID_SOCKET);
    EXPECT_EQ(s_->sock.load(), INVALID_SOCKET);
    EXPECT_FALSE(s_->hThread.joinable());
    ASSERT_TRUE(s_->fromPeer && s_->toPeer);
    EXPECT_EQ(socketLayerReady, 1);
    // teardown of an object that never listened or connected only drops the queues.
    int before = openSocketCount();
    s_->teardown();
    EXPECT_FALSE(s_->fromPeer);
    EXPECT_FALSE(s_->toPeer);
    EXPECT_EQ(openSocketCount(), before);
}

// Several MB both ways at once, byte-exact; every data packet of at most
// 10,240 bytes; the local close announced with a DISCONNECT_REQUEST; the
// listener goes back to accepting.
TEST_F(SocketTcp, ServerRelaysMegabytesBothWaysByteExact)
{
    int port = startServer();
    EXPECT_TRUE(waitUntil([&] { return s_->state.load() == SOCKET_STATE_ACCEPTING; }));
    SOCKET c = connectAndExpectRequest(port);
    s_->replyState = CONNECT_OK;

    const auto up = randomBytes(3 * 1024 * 1024 + 123, 1);   // local program -> peer
    const auto down = randomBytes(2 * 1024 * 1024 + 77, 2);  // peer -> local program

    auto writer = std::async(std::launch::async, [&] { return sendAll(c, up); });
    auto feeder = std::async(std::launch::async, [&] {
        for (size_t at = 0; at < down.size();) {
            size_t n = std::min<size_t>(A2A_MAX_PAYLOAD, down.size() - at);
            if (!putData(*s_->fromPeer, KIND_DATA, down.data() + at, n))
                return false;
            at += n;
        }
        return true;
    });
    auto reader = std::async(std::launch::async, [&] {
        std::vector<unsigned char> got;
        char buf[65536];
        while (got.size() < down.size()) {
            int n = recv(c, buf, sizeof buf, 0);
            if (n <= 0)
                break;
            got.insert(got.end(), buf, buf + n);
        }
        return got;
    });

    std::vector<unsigned char> arrived;
    size_t packets = 0, fullPackets = 0, oversize = 0, wrong = 0;
    Taken t;
    while (arrived.size() < up.size() && takePacket(*s_->toPeer, &t, 30s)) {
        const A2aPacketHeader& h = t.header;
        if (h.kind != KIND_DATA || h.code != 0 || h.port != port || h.payloadSize == 0 ||
            h.headerSize != A2A_HEADER_SIZE || h.marker[0] != 2 || h.marker[1] != 1) {
            ++wrong;
            ADD_FAILURE() << packetText(h);
            break;
        }
        ++packets;
        oversize += h.payloadSize > A2A_MAX_PAYLOAD;
        fullPackets += h.payloadSize == A2A_MAX_PAYLOAD;
        arrived.insert(arrived.end(), t.payload(), t.payload() + h.payloadSize);
    }
    ASSERT_TRUE(writer.get());
    ASSERT_TRUE(feeder.get());
    std::vector<unsigned char> got = reader.get();
    EXPECT_EQ(wrong, 0u);
    EXPECT_EQ(oversize, 0u);
    EXPECT_GT(fullPackets, 0u); // more than 10,240 waiting leaves as several packets
    EXPECT_GE(packets, up.size() / A2A_MAX_PAYLOAD);
    EXPECT_EQ(arrived.size(), up.size());
    EXPECT_EQ(hashOf(arrived), hashOf(up));
    EXPECT_EQ(got.size(), down.size());
    EXPECT_EQ(hashOf(got), hashOf(down));

    drop(c);
    ASSERT_TRUE(takePacket(*s_->toPeer, &t));
    EXPECT_EQ(t.header.kind, KIND_CONTROL);
    EXPECT_EQ(t.header.code, DISCONNECT_REQUEST);
    EXPECT_EQ(t.header.port, port);
    EXPECT_TRUE(waitUntil([&] { return s_->state.load() == SOCKET_STATE_ACCEPTING; }));
    EXPECT_EQ(s_->running.load(), 1);
}

// While toPeer holds 30 packets the connection is not read (so nothing is
// received that the queue could not take); once the stream takes packets
// again the rest follows, byte-exact.
TEST_F(SocketTcp, FullToPeerQueueStopsReadingAndLosesNothing)
{
    int port = startServer();
    SOCKET c = connectAndExpectRequest(port);
    s_->replyState = CONNECT_OK;
    const auto up = randomBytes(45 * A2A_MAX_PAYLOAD + 999, 15); // more than 30 packets hold
    auto writer = std::async(std::launch::async, [&] { return sendAll(c, up); });
    const int full = QUE_SLOT_COUNT - SOCKETTCP_CONTROL_RESERVE; // room kept for the end
    ASSERT_TRUE(waitUntil([&] { return s_->toPeer->count.load() == full; }));
    setTraceEnabled(true);
    testing::internal::CaptureStdout();
    std::this_thread::sleep_for(200ms); // several passes with a full queue
    std::string output = testing::internal::GetCapturedStdout();
    setTraceEnabled(std::getenv("ZORVANE_TRACE") != nullptr);
    EXPECT_NE(output.find("PORT" + std::to_string(port) + " A2ASEND QUE FULL\n"),
              std::string::npos)
        << output;
    EXPECT_EQ(s_->toPeer->count.load(), full);

    std::vector<unsigned char> arrived;
    Taken t;
    while (arrived.size() < up.size() && takePacket(*s_->toPeer, &t, 30s)) {
        ASSERT_EQ(t.header.kind, KIND_DATA) << packetText(t.header);
        ASSERT_LE(t.header.payloadSize, A2A_MAX_PAYLOAD);
        arrived.insert(arrived.end(), t.payload(), t.payload() + t.header.payloadSize);
    }
    ASSERT_TRUE(writer.get());
    EXPECT_EQ(arrived.size(), up.size());
    EXPECT_EQ(hashOf(arrived), hashOf(up));
}

// Local programs that connect while the channel relays another wait in the
// listener's queue: each completes its handshake at once (none is left to
// the kernel's SYN resends or dropped) and each is then relayed in its turn,
// its bytes exact.
TEST_F(SocketTcp, ConnectionsThatWaitAreServedOneAfterAnotherAndNoneIsLost)
{
    constexpr int kWaiting = 12;
    int port = startServer();
    SOCKET first = connectAndExpectRequest(port); // held: no answer yet

    std::vector<std::future<SOCKET>> connects;
    for (int i = 0; i < kWaiting; ++i)
        connects.push_back(std::async(std::launch::async, [port] { return connectLocal(port); }));
    std::vector<SOCKET> waiting;
    for (auto& f : connects) {
        // Dropped handshakes would wait for the first resend, a second away.
        ASSERT_EQ(f.wait_for(10s), std::future_status::ready)
            << "a connection could not get into the listener's queue";
        SOCKET c = f.get();
        ASSERT_NE(c, INVALID_SOCKET);
        clients_.push_back(c);
        waiting.push_back(c);
    }
    // Each waiting program says who it is and sends its bytes before it is accepted.
    std::vector<std::vector<unsigned char>> sent;
    for (int i = 0; i < kWaiting; ++i) {
        auto bytes = randomBytes(3 * A2A_MAX_PAYLOAD + 17 * i, 100 + i);
        bytes[0] = static_cast<unsigned char>(i);
        ASSERT_TRUE(sendAll(waiting[i], bytes));
        sent.push_back(bytes);
    }

    s_->replyState = CONNECT_OK;
    drop(first);
    Taken t;
    ASSERT_TRUE(takePacket(*s_->toPeer, &t));
    EXPECT_EQ(t.header.code, DISCONNECT_REQUEST) << packetText(t.header);

    std::vector<int> served(kWaiting, 0);
    for (int turn = 0; turn < kWaiting; ++turn) {
        ASSERT_TRUE(takePacket(*s_->toPeer, &t)) << "turn " << turn;
        ASSERT_EQ(t.header.code, CONNECT_REQUEST) << packetText(t.header);
        s_->replyState = CONNECT_OK;
        std::vector<unsigned char> arrived;
        while (arrived.empty() || arrived.size() < sent[arrived[0] % kWaiting].size()) {
            ASSERT_TRUE(takePacket(*s_->toPeer, &t)) << "turn " << turn;
            ASSERT_EQ(t.header.kind, KIND_DATA) << packetText(t.header);
            arrived.insert(arrived.end(), t.payload(), t.payload() + t.header.payloadSize);
        }
        int who = arrived[0];
        ASSERT_LT(who, kWaiting);
        EXPECT_EQ(hashOf(arrived), hashOf(sent[who])) << "connection " << who;
        ++served[who];
        drop(waiting[who]);
        ASSERT_TRUE(takePacket(*s_->toPeer, &t));
        EXPECT_EQ(t.header.code, DISCONNECT_REQUEST) << packetText(t.header);
    }
    EXPECT_EQ(served, std::vector<int>(kWaiting, 1));
}

// The peer ends a connection whose local reader is still behind: the last
// bytes wait in the system's send queue. The relay keeps the socket until the
// reader's side has them all and only then takes the next waiting connection
// (closed at once, the socket would be an orphan the system may drop).
TEST_F(SocketTcp, EndedConnectionIsKeptUntilItsSlowReaderHasEverything)
{
    int port = startServer();
    SOCKET slow = socket(AF_INET, SOCK_STREAM, 0);
    int small = 16384;
    setsockopt(slow, SOL_SOCKET, SO_RCVBUF, reinterpret_cast<char*>(&small), sizeof small);
    sockaddr_in a = loopbackAddress(port);
    ASSERT_EQ(connect(slow, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    clients_.push_back(slow);
    Taken t;
    ASSERT_TRUE(takePacket(*s_->toPeer, &t));
    ASSERT_EQ(t.header.code, CONNECT_REQUEST);
    s_->replyState = CONNECT_OK;
    SOCKET next = client(port); // waits its turn
    ASSERT_NE(next, INVALID_SOCKET);

    std::atomic<size_t> read{0};
    auto reader = std::async(std::launch::async, [&] {
        std::vector<unsigned char> got;
        char buf[16384];
        for (;;) {
            int n = recv(slow, buf, sizeof buf, 0);
            if (n <= 0)
                break;
            got.insert(got.end(), buf, buf + n);
            read = got.size();
            std::this_thread::sleep_for(50ms); // about 320 KB/s
        }
        return got;
    });
    struct EndsTheReader {
        SOCKET s;
        ~EndsTheReader() { shutdown(s, SD_BOTH); } // on a failed assertion
    } endsTheReader{slow};
    const auto bytes = randomBytes(100 * A2A_MAX_PAYLOAD, 50);
    for (size_t at = 0; at < bytes.size(); at += A2A_MAX_PAYLOAD)
        ASSERT_TRUE(putData(*s_->fromPeer, KIND_DATA, bytes.data() + at, A2A_MAX_PAYLOAD));
    ASSERT_TRUE(waitUntil([&] { return s_->fromPeer->count.load() < QUE_SLOT_COUNT; }));
    putControl(*s_->fromPeer, KIND_CONTROL, DISCONNECT_REQUEST, static_cast<uint16_t>(port));

    ASSERT_TRUE(takePacket(*s_->toPeer, &t, 60s));
    EXPECT_EQ(t.header.code, CONNECT_REQUEST) << packetText(t.header);
    // Everything acknowledged: at most the reader's receive buffer is still unread.
    EXPECT_GE(read.load(), bytes.size() - 2 * static_cast<size_t>(small))
        << "the next connection was taken before the reader had the last bytes";
    std::vector<unsigned char> got = reader.get();
    EXPECT_EQ(got.size(), bytes.size());
    EXPECT_EQ(hashOf(got), hashOf(bytes));
}

TEST_F(SocketTcp, ConnectNgClosesTheLocalConnectionAndTheNextIsAskedAgain)
{
    int port = startServer();
    SOCKET c = connectAndExpectRequest(port);
    s_->replyState = CONNECT_NG;
    char buf[16];
    EXPECT_EQ(recv(c, buf, sizeof buf, 0), 0); // closed by the relay
    EXPECT_TRUE(waitUntil([&] { return s_->state.load() == SOCKET_STATE_ACCEPTING; }));
    EXPECT_EQ(s_->toPeer->count.load(), 0); // NG sends nothing back

    SOCKET c2 = connectAndExpectRequest(port);
    EXPECT_EQ(s_->replyState.load(), REPLY_WAITING);
    s_->replyState = CONNECT_OK;
    ASSERT_TRUE(sendAll(c2, randomBytes(100, 3)));
    Taken t;
    ASSERT_TRUE(takePacket(*s_->toPeer, &t));
    EXPECT_EQ(t.header.kind, KIND_DATA);
    EXPECT_EQ(t.header.payloadSize, 100);
}

// A DISCONNECT_REQUEST ends the relay without an answer; one that arrives
// late, while the listener is accepting, is dropped after the next accept.
TEST_F(SocketTcp, DisconnectRequestEndsTheRelayAndAStaleOneIsDropped)
{
    int port = startServer();
    SOCKET c = connectAndExpectRequest(port);
    s_->replyState = CONNECT_OK;
    // Other control packets are taken and ignored.
    putControl(*s_->fromPeer, KIND_CONTROL, CONNECT_REPLY, static_cast<uint16_t>(port));
    putControl(*s_->fromPeer, KIND_NULL, 0, 0);
    const auto bytes = randomBytes(500, 4);
    ASSERT_TRUE(putData(*s_->fromPeer, KIND_DATA, bytes.data(), bytes.size()));
    putControl(*s_->fromPeer, KIND_CONTROL, DISCONNECT_REQUEST, static_cast<uint16_t>(port));
    EXPECT_EQ(readAll(c), bytes);
    EXPECT_TRUE(waitUntil([&] { return s_->state.load() == SOCKET_STATE_ACCEPTING; }));
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(s_->toPeer->count.load(), 0); // no DISCONNECT_REQUEST back
    drop(c);

    // The peer's own DISCONNECT_REQUEST, late.
    putControl(*s_->fromPeer, KIND_CONTROL, DISCONNECT_REQUEST, static_cast<uint16_t>(port));
    SOCKET c2 = connectAndExpectRequest(port);
    s_->replyState = CONNECT_OK;
    const auto more = randomBytes(300, 5);
    ASSERT_TRUE(putData(*s_->fromPeer, KIND_DATA, more.data(), more.size()));
    EXPECT_EQ(readExactly(c2, more.size()), more)
        << "the stale DISCONNECT_REQUEST ended the new connection";
    EXPECT_EQ(s_->state.load(), SOCKET_STATE_CONNECTED);
}

TEST_F(SocketTcp, DataPacketsOfSizeZeroAndOversizedHeadersSendNothingAndKeepTheRelay)
{
    int port = startServer();
    SOCKET c = connectAndExpectRequest(port);
    s_->replyState = CONNECT_OK;
    putData(*s_->fromPeer, KIND_DATA, nullptr, 0);
    // A slot-sized entry whose header claims more than a slot holds.
    std::vector<unsigned char> slot(QUE_ENTRY_SIZE, 0xAB);
    A2aPacketHeader h = makeA2aHeader();
    h.kind = KIND_DATA;
    h.payloadSize = 0xFFFF;
    writeA2aHeader(slot.data(), h);
    ASSERT_EQ(s_->fromPeer->enqEntry(QUE_ENTRY_SIZE, slot.data()), 1);
    const auto bytes = randomBytes(64, 6);
    ASSERT_TRUE(putData(*s_->fromPeer, KIND_DATA, bytes.data(), bytes.size()));
    EXPECT_EQ(readExactly(c, bytes.size()), bytes); // nothing of the damaged packet went out
    EXPECT_EQ(s_->state.load(), SOCKET_STATE_CONNECTED);
}

TEST_F(SocketTcp, StopWhileWaitingForTheAnswerClosesAndQueuesDisconnect)
{
    int port = startServer();
    SOCKET c = connectAndExpectRequest(port);
    s_->stopThread();
    EXPECT_FALSE(s_->hThread.joinable());
    EXPECT_EQ(s_->running.load(), 0);
    EXPECT_EQ(s_->state.load(), SOCKET_STATE_IDLE);
    char buf[8];
    EXPECT_EQ(recv(c, buf, sizeof buf, 0), 0);
    Taken t;
    ASSERT_TRUE(takePacket(*s_->toPeer, &t, 1s));
    EXPECT_EQ(t.header.kind, KIND_CONTROL);
    EXPECT_EQ(t.header.code, DISCONNECT_REQUEST);
    EXPECT_EQ(t.header.port, port);
    EXPECT_EQ(s_->toPeer->count.load(), 0);
    EXPECT_EQ(s_->listenSock.load(), INVALID_SOCKET);
    EXPECT_EQ(s_->sock.load(), INVALID_SOCKET);
    // The listener is gone.
    EXPECT_EQ(connectLocal(port), INVALID_SOCKET);
}

TEST_F(SocketTcp, StopWhileRelayingQueuesOneDisconnect)
{
    int port = startServer();
    SOCKET c = connectAndExpectRequest(port);
    s_->replyState = CONNECT_OK;
    ASSERT_TRUE(sendAll(c, randomBytes(10, 14)));
    Taken t;
    ASSERT_TRUE(takePacket(*s_->toPeer, &t));
    EXPECT_EQ(t.header.kind, KIND_DATA);
    s_->stopThread();
    char buf[8];
    EXPECT_EQ(recv(c, buf, sizeof buf, 0), 0);
    ASSERT_TRUE(takePacket(*s_->toPeer, &t, 1s));
    EXPECT_EQ(t.header.code, DISCONNECT_REQUEST);
    EXPECT_EQ(s_->toPeer->count.load(), 0) << "one DISCONNECT_REQUEST, not two";
}

TEST_F(SocketTcp, StopWhileAcceptingEndsTheThread)
{
    int port = startServer();
    ASSERT_TRUE(waitUntil([&] { return s_->state.load() == SOCKET_STATE_ACCEPTING; }));
    s_->stopThread();
    EXPECT_EQ(s_->running.load(), 0);
    EXPECT_EQ(s_->state.load(), SOCKET_STATE_IDLE);
    Taken t;
    ASSERT_TRUE(takePacket(*s_->toPeer, &t, 1s));
    EXPECT_EQ(t.header.code, DISCONNECT_REQUEST);
    EXPECT_EQ(connectLocal(port), INVALID_SOCKET);
}

TEST_F(SocketTcp, StopOnAnObjectThatNeverStartedAThread)
{
    int port = freePort();
    ASSERT_EQ(s_->createServer(port), 1);
    auto start = std::chrono::steady_clock::now();
    s_->stopThread();
    EXPECT_LT(std::chrono::steady_clock::now() - start, 1s); // no wait for a thread
    EXPECT_EQ(s_->listenSock.load(), INVALID_SOCKET);
    EXPECT_EQ(s_->state.load(), SOCKET_STATE_IDLE);
    EXPECT_EQ(s_->toPeer->count.load(), 0);
    EXPECT_EQ(connectLocal(port), INVALID_SOCKET);
}

TEST_F(SocketTcp, StartWithoutRoleWaitsAboutASecondAndRunsNothing)
{
    auto start = std::chrono::steady_clock::now();
    s_->startThread();
    auto waited = std::chrono::steady_clock::now() - start;
    EXPECT_GE(waited, 900ms); // 200 looks, 5 ms apart
    EXPECT_EQ(s_->running.load(), 0);
    EXPECT_EQ(s_->toPeer->count.load(), 0);
    s_->stopThread();
    EXPECT_FALSE(s_->hThread.joinable());

    // The forward entry refuses a socket that is not a client too.
    s_->executeSocketOnConnect();
    EXPECT_EQ(s_->running.load(), 0);
    EXPECT_EQ(s_->toPeer->count.load(), 0);
}

TEST_F(SocketTcp, ForwardConnectToAClosedPortGivesOneConnectNg10061)
{
    int port = freePort();
    s_->prepareClient(port, "127.0.0.1");
    EXPECT_EQ(s_->role, SOCKET_ROLE_CLIENT);
    s_->executeSocketOnConnect();
    ASSERT_TRUE(waitUntil([&] { return s_->running.load() == 0 && s_->toPeer->count.load() > 0; }));
    s_->stopThread(); // joins the ended thread
    Taken t;
    ASSERT_TRUE(takePacket(*s_->toPeer, &t, 1s));
    EXPECT_EQ(t.header.kind, KIND_CONTROL);
    EXPECT_EQ(t.header.code, CONNECT_REPLY);
    EXPECT_EQ(t.header.repCode, CONNECT_NG);
    EXPECT_EQ(t.header.errorCode, 10061);
    EXPECT_EQ(t.header.port, port);
    EXPECT_EQ(s_->toPeer->count.load(), 0); // nothing else, no DISCONNECT_REQUEST
    EXPECT_EQ(s_->state.load(), SOCKET_STATE_IDLE);
}

TEST_F(SocketTcp, ForwardConnectAnswersOkRelaysAndEndsWithDisconnect)
{
    int port = 0;
    SOCKET l = listenLocal(&port);
    s_->prepareClient(port, "127.0.0.1");
    s_->executeSocketOnConnect();
    SOCKET server = accept(l, nullptr, nullptr);
    ASSERT_NE(server, INVALID_SOCKET);
    clients_.push_back(server);
    closesocket(l);
    Taken t;
    ASSERT_TRUE(takePacket(*s_->toPeer, &t));
    EXPECT_EQ(t.header.code, CONNECT_REPLY);
    EXPECT_EQ(t.header.repCode, CONNECT_OK);
    EXPECT_EQ(t.header.errorCode, 0);
    EXPECT_EQ(t.header.port, port);
    EXPECT_EQ(s_->state.load(), SOCKET_STATE_CONNECTED);

    const auto bytes = randomBytes(25000, 7);
    ASSERT_TRUE(sendAll(server, bytes));
    std::vector<unsigned char> arrived;
    while (arrived.size() < bytes.size() && takePacket(*s_->toPeer, &t)) {
        ASSERT_EQ(t.header.kind, KIND_DATA);
        ASSERT_LE(t.header.payloadSize, A2A_MAX_PAYLOAD);
        arrived.insert(arrived.end(), t.payload(), t.payload() + t.header.payloadSize);
    }
    EXPECT_EQ(arrived, bytes);

    // The forward host closes: DISCONNECT_REQUEST and the thread ends.
    drop(server);
    ASSERT_TRUE(takePacket(*s_->toPeer, &t));
    EXPECT_EQ(t.header.code, DISCONNECT_REQUEST);
    EXPECT_TRUE(waitUntil([&] { return s_->running.load() == 0; }));
    EXPECT_EQ(s_->state.load(), SOCKET_STATE_IDLE);
}

TEST_F(SocketTcp, ClientThreadEndsOnThePeersDisconnectAndAnswersInKind)
{
    int port = 0;
    SOCKET l = listenLocal(&port);
    s_->prepareClient(port, "localhost");
    ASSERT_EQ(s_->connectClient(), 1);
    EXPECT_EQ(s_->state.load(), SOCKET_STATE_CONNECTED);
    SOCKET server = accept(l, nullptr, nullptr);
    clients_.push_back(server);
    closesocket(l);
    s_->startThread();
    EXPECT_EQ(s_->running.load(), 1);
    putControl(*s_->fromPeer, KIND_CONTROL, DISCONNECT_REQUEST, static_cast<uint16_t>(port));
    char buf[8];
    EXPECT_EQ(recv(server, buf, sizeof buf, 0), 0);
    Taken t;
    ASSERT_TRUE(takePacket(*s_->toPeer, &t));
    EXPECT_EQ(t.header.code, DISCONNECT_REQUEST);
    EXPECT_EQ(t.header.kind, KIND_CONTROL);
    EXPECT_TRUE(waitUntil([&] { return s_->running.load() == 0; }));
    EXPECT_EQ(s_->state.load(), SOCKET_STATE_IDLE);

    // The same object serves the next connection with a new thread.
    l = listenLocal(&port);
    s_->prepareClient(port, "127.0.0.1");
    ASSERT_EQ(s_->connectClient(), 1);
    SOCKET server2 = accept(l, nullptr, nullptr);
    clients_.push_back(server2);
    closesocket(l);
    s_->startThread();
    EXPECT_EQ(s_->running.load(), 1);
    const auto bytes = randomBytes(1000, 8);
    ASSERT_TRUE(putData(*s_->fromPeer, KIND_DATA, bytes.data(), bytes.size()));
    EXPECT_EQ(readExactly(server2, bytes.size()), bytes);
}

TEST_F(SocketTcp, ReceiveReportsNothingWaitingAndTheOtherEndsClose)
{
    int port = 0;
    SOCKET l = listenLocal(&port);
    s_->prepareClient(port, "127.0.0.1");
    ASSERT_EQ(s_->connectClient(), 1);
    SOCKET server = accept(l, nullptr, nullptr);
    closesocket(l);
    u_long on = 1;
    ASSERT_EQ(ioctlsocket(s_->sock.load(), FIONBIO, &on), 0);
    s_->recvLen = SOCKETTCP_RECV_CHUNK;
    EXPECT_EQ(s_->recvTcpData(), 1);
    EXPECT_EQ(s_->recvLen, -1);
    ASSERT_TRUE(sendAll(server, randomBytes(10, 9)));
    ASSERT_TRUE(waitUntil([&] {
        s_->recvLen = SOCKETTCP_RECV_CHUNK;
        return s_->recvTcpData() == 1 && s_->recvLen > 0;
    }));
    EXPECT_EQ(s_->recvLen, 10);
    closesocket(server);
    int result = 1;
    ASSERT_TRUE(waitUntil([&] {
        s_->recvLen = SOCKETTCP_RECV_CHUNK;
        result = s_->recvTcpData();
        return result == 0;
    }));
    EXPECT_EQ(s_->recvLen, 0);
    // sendLen 0 is nothing to do.
    s_->sendLen = 0;
    EXPECT_EQ(s_->sendTcpData(), 1);
}

TEST_F(SocketTcp, SendToAReaderThatPausesKeepsTheRestForLater)
{
    SOCKET server = connectOutward(s_.get(), 4096); // not read yet
    ASSERT_NE(server, INVALID_SOCKET);
    u_long on = 1;
    ASSERT_EQ(ioctlsocket(s_->sock.load(), FIONBIO, &on), 0);
    const auto bytes = randomBytes(SOCKETTCP_BUFFER_SIZE, 13);
    std::vector<unsigned char> written;
    // Packet after packet until the system's buffers are full: the last one
    // stays partly unwritten, and that is no failure.
    for (int packets = 0; packets < 1000; ++packets) {
        std::memcpy(s_->packetBuf, bytes.data(), bytes.size());
        s_->sendLen = SOCKETTCP_BUFFER_SIZE;
        s_->sendOffset = 0;
        ASSERT_EQ(s_->sendTcpData(), 1);
        written.insert(written.end(), bytes.begin(), bytes.begin() + s_->sendOffset);
        if (s_->sendOffset < s_->sendLen)
            break;
    }
    ASSERT_LT(s_->sendOffset, s_->sendLen);
    EXPECT_EQ(s_->sendTcpData(), 1); // still paused: nothing lost, nothing failed
    // The reader goes on: the rest follows, byte for byte.
    auto reader = std::async(std::launch::async, [&] {
        return readExactly(server, written.size() + bytes.size() - static_cast<size_t>(s_->sendOffset));
    });
    const int32_t from = s_->sendOffset;
    ASSERT_TRUE(waitUntil([&] { return s_->sendTcpData() == 1 && s_->sendOffset == s_->sendLen; }));
    written.insert(written.end(), bytes.begin() + from, bytes.end());
    EXPECT_EQ(reader.get(), written);
}

// A reader that stops reading for far longer than a relay pass, with more
// waiting for it than every buffer holds, then reads on: it gets every byte,
// and the connection stays up meanwhile.
TEST_F(SocketTcp, BlockedSendWaitsThirtySecondsThenDeliversEverything)
{
    // The relay's end gets a small send buffer too, so the queue fills.
    SOCKET server = connectOutward(s_.get(), 4096, 4096);
    ASSERT_NE(server, INVALID_SOCKET);
    s_->startThread();
    const auto bytes = randomBytes(2 * QUE_SLOT_COUNT * A2A_MAX_PAYLOAD, 10);
    auto feeder = std::async(std::launch::async, [&] {
        for (size_t at = 0; at < bytes.size(); at += A2A_MAX_PAYLOAD)
            if (!putData(*s_->fromPeer, KIND_DATA, bytes.data() + at, A2A_MAX_PAYLOAD, 120s))
                return false;
        return true;
    });
    std::this_thread::sleep_for(30s);
    EXPECT_EQ(s_->state.load(), SOCKET_STATE_CONNECTED);
    EXPECT_EQ(s_->fromPeer->count.load(), QUE_SLOT_COUNT); // held back, not dropped
    EXPECT_EQ(s_->toPeer->count.load(), 0);                // no DISCONNECT_REQUEST
    std::vector<unsigned char> got = readExactly(server, bytes.size());
    ASSERT_TRUE(feeder.get());
    EXPECT_EQ(got.size(), bytes.size());
    EXPECT_EQ(hashOf(got), hashOf(bytes));
    EXPECT_EQ(s_->state.load(), SOCKET_STATE_CONNECTED);
}

// A FIN from the local end: with a peer that passes half-closes on, it ends
// only that direction (a marked DISCONNECT_REQUEST), the bytes towards the
// local end still arrive, and the peer's half-close ends the connection
// with no request more. With any other peer it ends the connection as a
// whole, as it always did.
TEST_F(SocketTcp, LocalFinIsPassedOnAsAHalfCloseWhereThePeerKnowsOne)
{
    for (int halfClose : {1, 0}) {
        SCOPED_TRACE(halfClose ? "peer passes half-closes on" : "peer knows no half-close");
        auto s = std::make_unique<QK_SOCKETTCP>();
        s->initSocket();
        s->peerHalfClose = halfClose;
        SOCKET local = connectOutward(s.get());
        ASSERT_NE(local, INVALID_SOCKET);
        s->startThread();
        const auto request = randomBytes(3000, 14);
        ASSERT_TRUE(sendAll(local, request));
        shutdown(local, SD_SEND);
        std::vector<unsigned char> up;
        Taken t;
        while (takePacket(*s->toPeer, &t) && t.header.kind == KIND_DATA)
            up.insert(up.end(), t.payload(), t.payload() + t.header.payloadSize);
        EXPECT_EQ(up, request);
        EXPECT_EQ(t.header.kind, KIND_CONTROL);
        EXPECT_EQ(t.header.code, DISCONNECT_REQUEST);
        EXPECT_EQ(t.header.flowFlags, halfClose ? A2A_FLOW_HALF_CLOSE : 0);
        if (halfClose) {
            const auto reply = randomBytes(300 * 1024, 15);
            for (size_t at = 0; at < reply.size(); at += A2A_MAX_PAYLOAD)
                ASSERT_TRUE(putData(*s->fromPeer, KIND_DATA, reply.data() + at,
                                    std::min<size_t>(A2A_MAX_PAYLOAD, reply.size() - at)));
            A2aPacketHeader h = makeA2aHeader();
            h.kind = KIND_CONTROL;
            h.code = DISCONNECT_REQUEST;
            h.flowFlags = A2A_FLOW_HALF_CLOSE;
            ASSERT_TRUE(waitUntil([&] { return s->fromPeer->enqEntry(A2A_HEADER_SIZE, &h) == 1; }));
            EXPECT_EQ(readAll(local), reply);
            EXPECT_TRUE(waitUntil([&] { return s->running.load() == 0; }));
            EXPECT_EQ(s->toPeer->count.load(), 0);
        } else {
            EXPECT_TRUE(readAll(local).empty());
            EXPECT_TRUE(waitUntil([&] { return s->running.load() == 0; }));
        }
        s->teardown();
    }
}

// The peer's half-close ends only the direction towards the local end: the
// local end reads to its end, and what it still sends goes to the peer.
TEST_F(SocketTcp, PeersHalfCloseEndsOnlyTheDirectionTowardsTheLocalEnd)
{
    s_->peerHalfClose = 1;
    int port = startServer();
    SOCKET c = connectAndExpectRequest(port);
    s_->replyState = CONNECT_OK;
    const auto down = randomBytes(5000, 16);
    ASSERT_TRUE(putData(*s_->fromPeer, KIND_DATA, down.data(), down.size()));
    A2aPacketHeader h = makeA2aHeader();
    h.kind = KIND_CONTROL;
    h.code = DISCONNECT_REQUEST;
    h.flowFlags = A2A_FLOW_HALF_CLOSE;
    ASSERT_EQ(s_->fromPeer->enqEntry(A2A_HEADER_SIZE, &h), 1);
    EXPECT_EQ(readAll(c), down); // then the FIN
    const auto up = randomBytes(200 * 1024, 17);
    ASSERT_TRUE(sendAll(c, up));
    shutdown(c, SD_SEND);
    std::vector<unsigned char> arrived;
    Taken t;
    while (takePacket(*s_->toPeer, &t) && t.header.kind == KIND_DATA)
        arrived.insert(arrived.end(), t.payload(), t.payload() + t.header.payloadSize);
    EXPECT_EQ(hashOf(arrived), hashOf(up));
    EXPECT_EQ(t.header.code, DISCONNECT_REQUEST);
    EXPECT_EQ(t.header.flowFlags, A2A_FLOW_HALF_CLOSE);
    // Both directions ended: the listener takes the next connection.
    SOCKET next = connectAndExpectRequest(port);
    EXPECT_NE(next, INVALID_SOCKET);
}

// After the peer's half-close its unmarked DISCONNECT_REQUEST (its end
// failed) still ends the connection, though the local end still sends.
TEST_F(SocketTcp, PeersDisconnectAfterItsHalfCloseEndsTheConnection)
{
    s_->peerHalfClose = 1;
    int port = startServer();
    SOCKET c = connectAndExpectRequest(port);
    s_->replyState = CONNECT_OK;
    A2aPacketHeader h = makeA2aHeader();
    h.kind = KIND_CONTROL;
    h.code = DISCONNECT_REQUEST;
    h.flowFlags = A2A_FLOW_HALF_CLOSE;
    ASSERT_EQ(s_->fromPeer->enqEntry(A2A_HEADER_SIZE, &h), 1);
    EXPECT_TRUE(readAll(c).empty()); // the FIN
    EXPECT_EQ(s_->takesFromPeer.load(), 1);
    putControl(*s_->fromPeer, KIND_CONTROL, DISCONNECT_REQUEST, static_cast<uint16_t>(port));
    SOCKET next = client(port);
    ASSERT_NE(next, INVALID_SOCKET);
    Taken t;
    while (takePacket(*s_->toPeer, &t, 5s) && t.header.code != CONNECT_REQUEST) {
    }
    EXPECT_EQ(t.header.code, CONNECT_REQUEST); // the listener took the next one
}

// A reader that has sent its FIN, then resets while the last bytes still
// wait for it: the relay sees the reset at once (the count of unsent bytes
// stays as it was) and the listener takes the next connection.
TEST_F(SocketTcp, ResetAfterTheReadersFinEndsTheWaitForDelivery)
{
    int port = startServer();
    SOCKET c = connectAndExpectRequest(port);
    int small = 4096;
    setsockopt(c, SOL_SOCKET, SO_RCVBUF, reinterpret_cast<char*>(&small), sizeof small);
    // Everything fits into the relay's send buffer, little into the reader's.
    int large = 4 * 1024 * 1024;
    setsockopt(s_->sock.load(), SOL_SOCKET, SO_SNDBUF, reinterpret_cast<char*>(&large), sizeof large);
    s_->replyState = CONNECT_OK;
    const auto down = randomBytes(8 * A2A_MAX_PAYLOAD, 18);
    for (size_t at = 0; at < down.size(); at += A2A_MAX_PAYLOAD)
        ASSERT_TRUE(putData(*s_->fromPeer, KIND_DATA, down.data() + at, A2A_MAX_PAYLOAD));
    putControl(*s_->fromPeer, KIND_CONTROL, DISCONNECT_REQUEST, static_cast<uint16_t>(port));
    ASSERT_TRUE(waitUntil([&] { return s_->fromPeer->count.load() == 0; }, 30s));
    shutdown(c, SD_SEND);
    std::this_thread::sleep_for(200ms);
    ASSERT_EQ(s_->state.load(), SOCKET_STATE_IDLE); // the relay waits for the reader
    Taken t;
    while (s_->toPeer->count.load() > 0)
        takePacket(*s_->toPeer, &t);
    drop(c); // closed with bytes unread: the system resets the connection
    SOCKET next = client(port);
    ASSERT_NE(next, INVALID_SOCKET);
    ASSERT_TRUE(takePacket(*s_->toPeer, &t, 5s)); // not a wait of many seconds
    EXPECT_EQ(t.header.code, CONNECT_REQUEST);
}

// Urgent bytes (ftplib's ABOR sends its last byte so) stay in the stream, in
// their place.
TEST_F(SocketTcp, UrgentBytesStayInTheStreamInOrder)
{
    int port = startServer();
    SOCKET c = connectAndExpectRequest(port);
    s_->replyState = CONNECT_OK;
    ASSERT_EQ(send(c, "RETR f\r\nABOR\r", 13, 0), 13);
    ASSERT_EQ(send(c, "\n", 1, MSG_OOB), 1);
    ASSERT_EQ(send(c, "NOOP\r\n", 6, 0), 6);
    std::string arrived;
    Taken t;
    while (arrived.size() < 21 && takePacket(*s_->toPeer, &t, 3s))
        arrived.append(reinterpret_cast<const char*>(t.payload()), t.header.payloadSize);
    EXPECT_EQ(arrived, "RETR f\r\nABOR\r\nNOOP\r\n");
}

TEST_F(SocketTcp, ListenersBindAsTheLocalOnlyRuleSays)
{
    struct Case {
        int localOnlyValue;
        bool anyPort;
        const char* address;
    };
    const Case cases[] = {
        {1, false, "127.0.0.1"}, {0, false, "0.0.0.0"}, {1, true, "0.0.0.0"}, {0, true, "0.0.0.0"}};
    for (const Case& c : cases) {
        localOnly = c.localOnlyValue;
        QK_SOCKETTCP s;
        s.initSocket();
        int port = freePort();
        ASSERT_EQ(c.anyPort ? s.createServerAnyPort(2121) : s.createServer(port), 1);
        sockaddr_in a;
        int len = sizeof a;
        ASSERT_EQ(getsockname(s.listenSock.load(), reinterpret_cast<sockaddr*>(&a), &len), 0);
        EXPECT_STREQ(inet_ntoa(a.sin_addr), c.address)
            << "localOnly=" << c.localOnlyValue << " anyPort=" << c.anyPort;
        EXPECT_EQ(s.role, SOCKET_ROLE_SERVER);
        if (c.anyPort) {
            EXPECT_EQ(s.port, 2121);
            EXPECT_EQ(s.boundPort, ntohs(a.sin_port));
            EXPECT_NE(s.boundPort, 0);
        } else {
            EXPECT_EQ(s.boundPort, port);
        }
        s.teardown();
    }
    localOnly = 1;
}

TEST_F(SocketTcp, CreateServerOnAPortInUseFails)
{
    int port = 0;
    SOCKET l = listenLocal(&port);
    setTraceEnabled(true);
    testing::internal::CaptureStdout();
    EXPECT_EQ(s_->createServer(port), 0);
    std::string out = testing::internal::GetCapturedStdout();
    setTraceEnabled(false);
    EXPECT_NE(out.find("bind Error: 10048"), std::string::npos) << out;
    EXPECT_EQ(s_->role, SOCKET_ROLE_NONE);
    EXPECT_EQ(s_->port, port);
    EXPECT_EQ(s_->boundPort, port);
    closesocket(l);
}

TEST_F(SocketTcp, DataLinkServerCarriesItsPortAndEndsAfterOneConnection)
{
    s_->isMainLink = 0;
    ASSERT_EQ(s_->createServerAnyPort(2121), 1);
    int bound = s_->boundPort;
    s_->startThread();
    SOCKET c = connectAndExpectRequest(bound, KIND_DLINK_CONTROL);
    s_->replyState = CONNECT_OK;
    const auto bytes = randomBytes(20000, 11);
    ASSERT_TRUE(sendAll(c, bytes));
    std::vector<unsigned char> arrived;
    Taken t;
    while (arrived.size() < bytes.size() && takePacket(*s_->toPeer, &t)) {
        ASSERT_EQ(t.header.kind, KIND_DLINK_DATA);
        ASSERT_EQ(t.header.port, 2121);
        arrived.insert(arrived.end(), t.payload(), t.payload() + t.header.payloadSize);
    }
    EXPECT_EQ(arrived, bytes);
    const auto down = randomBytes(700, 12);
    ASSERT_TRUE(putData(*s_->fromPeer, KIND_DLINK_DATA, down.data(), down.size()));
    putControl(*s_->fromPeer, KIND_DLINK_CONTROL, DISCONNECT_REQUEST, 2121);
    EXPECT_EQ(readAll(c), down);
    ASSERT_TRUE(takePacket(*s_->toPeer, &t));
    EXPECT_EQ(t.header.kind, KIND_DLINK_CONTROL);
    EXPECT_EQ(t.header.code, DISCONNECT_REQUEST);
    EXPECT_EQ(t.header.port, 2121);
    EXPECT_TRUE(waitUntil([&] { return s_->running.load() == 0; })); // one connection only
    EXPECT_EQ(s_->state.load(), SOCKET_STATE_IDLE);
}

TEST_F(SocketTcp, ConnectionsKnowTheLocalAddressTheyWereReachedAt)
{
    // Accepted on a listener of every interface: the address the client named.
    localOnly = 0;
    int port = startServer();
    localOnly = 1;
    EXPECT_EQ(s_->localAddress.load(), 0u);
    ASSERT_NE(client(port, "127.0.0.3"), INVALID_SOCKET);
    EXPECT_TRUE(waitUntil([&] { return s_->state.load() == SOCKET_STATE_CONNECTED; }));
    EXPECT_EQ(s_->localAddress.load(), inet_addr("127.0.0.3"));

    // Made by connecting: the address the kernel chose for it.
    int serverPort = 0;
    SOCKET l = listenLocal(&serverPort);
    QK_SOCKETTCP c;
    c.initSocket();
    c.prepareClient(serverPort, "127.0.0.1");
    EXPECT_EQ(c.localAddress.load(), 0u);
    ASSERT_EQ(c.connectClient(), 1);
    EXPECT_EQ(c.localAddress.load(), inet_addr("127.0.0.1"));
    c.teardown();
    closesocket(l);
}

TEST_F(SocketTcp, DataLinkListenerListensOnlyAtItsAddressAndTakesOneConnection)
{
    s_->isMainLink = 0;
    ASSERT_EQ(s_->createServerAnyPort(2121, inet_addr("127.0.0.1")), 1);
    sockaddr_in a;
    int len = sizeof a;
    ASSERT_EQ(getsockname(s_->listenSock.load(), reinterpret_cast<sockaddr*>(&a), &len), 0);
    EXPECT_STREQ(inet_ntoa(a.sin_addr), "127.0.0.1");
    int bound = s_->boundPort;
    s_->startThread();
    EXPECT_EQ(client(bound, "127.0.0.3"), INVALID_SOCKET);
    connectAndExpectRequest(bound, KIND_DLINK_CONTROL);
    // The listener is gone once its one data connection came.
    EXPECT_TRUE(waitUntil([&] { return s_->listenSock.load() == INVALID_SOCKET; }));
    EXPECT_EQ(client(bound), INVALID_SOCKET);
}

TEST_F(SocketTcp, UnresolvableHostFailsTheConnectAndKeepsTheQueues)
{
    putControl(*s_->toPeer, KIND_CONTROL, CONNECT_REQUEST, 1);
    putControl(*s_->fromPeer, KIND_DATA, 0, 1);
    std::string name(300, 'q'); // too long to be a name: no name server is asked
    s_->prepareClient(80, name.c_str());
    EXPECT_EQ(s_->role, SOCKET_ROLE_NONE);
    EXPECT_EQ(s_->connectClient(), 0);
    EXPECT_EQ(WSAGetLastError(), WSAHOST_NOT_FOUND);
    EXPECT_EQ(s_->toPeer->count.load(), 1);
    EXPECT_EQ(s_->fromPeer->count.load(), 1);
    EXPECT_EQ(s_->sock.load(), INVALID_SOCKET);

    // A dotted address needs no lookup at all.
    s_->prepareClient(80, "192.168.0.10");
    EXPECT_EQ(s_->role, SOCKET_ROLE_CLIENT);
    EXPECT_EQ(s_->targetAddr.sin_addr.s_addr, inet_addr("192.168.0.10"));
    EXPECT_EQ(s_->toPeer->count.load(), 0);
}

TEST_F(SocketTcp, PreparingAgainEndsTheRunningThreadFirst)
{
    int port = startServer();
    ASSERT_TRUE(waitUntil([&] { return s_->state.load() == SOCKET_STATE_ACCEPTING; }));
    int before = openSocketCount();
    s_->prepareClient(port, "127.0.0.1");
    EXPECT_EQ(s_->running.load(), 0);
    EXPECT_FALSE(s_->hThread.joinable());
    EXPECT_EQ(s_->listenSock.load(), INVALID_SOCKET);
    EXPECT_EQ(openSocketCount(), before); // the listener went, the new socket came
    EXPECT_EQ(s_->connectClient(), 0);
    EXPECT_EQ(WSAGetLastError(), WSAECONNREFUSED);
}

TEST_F(SocketTcp, LocalAddressIsZeroOrAnAddressOfThisComputer)
{
    uint32_t a = getLocalAddress();
    if (a == 0)
        GTEST_SKIP() << "no route towards the public network here";
    SOCKET s = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in local;
    std::memset(&local, 0, sizeof local);
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = a;
    EXPECT_EQ(bind(s, reinterpret_cast<sockaddr*>(&local), sizeof local), 0)
        << inet_ntoa(local.sin_addr) << " " << WSAGetLastError();
    closesocket(s);
}

// The socket object outlives its thread even when the thread is slow to
// end: stopThread and the destructor wait for it.
TEST_F(SocketTcp, DestroyingARunningObjectWaitsForItsThread)
{
    for (int round = 0; round < 5; ++round) {
        auto s = std::make_unique<QK_SOCKETTCP>();
        s->initSocket();
        int port = freePort();
        ASSERT_EQ(s->createServer(port), 1);
        s->startThread();
        SOCKET c = connectLocal(port);
        ASSERT_NE(c, INVALID_SOCKET);
        Taken t;
        ASSERT_TRUE(takePacket(*s->toPeer, &t));
        s->replyState = CONNECT_OK;
        ASSERT_TRUE(sendAll(c, randomBytes(50000, 13)));
        s.reset(); // destructor: teardown, which stops and joins the thread
        closesocket(c);
    }
}

} // namespace
} // namespace relaytest
