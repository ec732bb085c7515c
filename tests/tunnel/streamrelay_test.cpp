// The stream with its real TCP manager, socket objects and relay threads on
// loopback: the test plays the local program and, through READ replies and
// WRITE commands, the peer.
#include "tunnelharness.h"

#include "foundation/que.h"
#include "platform/winsock.h"
#include "tunnel/skypestream.h"

#include <atomic>
#include <chrono>
#include <cstring>
#include <ostream>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;

int freePort()
{
    SOCKET s = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = inet_addr("127.0.0.1");
    bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a);
    int len = sizeof a;
    getsockname(s, reinterpret_cast<sockaddr*>(&a), &len);
    closesocket(s);
    return ntohs(a.sin_port);
}

// A client socket with a small receive buffer, connected to 127.0.0.1:port.
SOCKET connectSmall(int port, int receiveBuffer = 4096)
{
    SOCKET s = socket(AF_INET, SOCK_STREAM, 0);
    setsockopt(s, SOL_SOCKET, SO_RCVBUF, reinterpret_cast<const char*>(&receiveBuffer), sizeof receiveBuffer);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<u_short>(port));
    a.sin_addr.s_addr = inet_addr("127.0.0.1");
    if (connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == SOCKET_ERROR) {
        closesocket(s);
        return INVALID_SOCKET;
    }
    return s;
}

std::vector<unsigned char> randomBytes(size_t n, unsigned seed)
{
    std::mt19937 gen(seed);
    std::vector<unsigned char> v(n);
    for (auto& b : v)
        b = static_cast<unsigned char>(gen());
    return v;
}

// Reads until the other end closes, about `bytesPerSecond` fast (a fixture,
// not a measurement).
struct SlowReader {
    SlowReader(SOCKET socket, int bytesPerSecond) : s(socket)
    {
        worker = std::thread([this, bytesPerSecond] {
            char buffer[4096];
            auto pause = std::chrono::microseconds(1000000LL * static_cast<long long>(sizeof buffer) / bytesPerSecond);
            for (;;) {
                int n = recv(s, buffer, sizeof buffer, 0);
                if (n <= 0)
                    break;
                arrived.insert(arrived.end(), buffer, buffer + n);
                std::this_thread::sleep_for(pause);
            }
            closed = true;
        });
    }
    ~SlowReader()
    {
        if (worker.joinable()) {
            shutdown(s, SD_BOTH);   // a connection that never closed
            worker.join();
        }
    }
    SOCKET s;
    std::vector<unsigned char> arrived;
    std::atomic<bool> closed{false};
    std::thread worker;
};

class StreamRelayTest : public TunnelTest {
protected:
    void SetUp() override
    {
        WSADATA wsa;
        ASSERT_EQ(WSAStartup(MAKEWORD(2, 0), &wsa), 0);
        TunnelTest::SetUp();
    }
    void TearDown() override
    {
        for (SOCKET s : sockets)
            closesocket(s);
        TunnelTest::TearDown();
        WSACleanup();
    }

    // A stream of channel `ch` with the manager it makes itself.
    QK_SKYPESTREAM* openReal(int ch)
    {
        channel = ch;
        setContacts("alice");
        appNotify(channel, "STREAMS alice:5");
        for (QK_SKYPESTREAM* s : app(channel).streams) {
            if (s != nullptr && s->streamId == 5)
                stream = s;
        }
        EXPECT_NE(stream, nullptr);
        takeCommands();
        hub.logLines.clear();
        return stream;
    }

    SOCKET keep(SOCKET s)
    {
        if (s != INVALID_SOCKET)
            sockets.push_back(s);
        return s;
    }

    // Ticks (and reports every WRITE done) until the stream sends a packet of
    // this kind and code; false after `limit`.
    bool awaitSent(int kind, int code, SentPacket* out, std::chrono::milliseconds limit = 10s)
    {
        auto end = std::chrono::steady_clock::now() + limit;
        while (std::chrono::steady_clock::now() < end) {
            QK_A2AMODEL::streamTimerProc(nullptr, WM_TIMER, 0, 0);
            for (const SentPacket& p : takeWrites()) {
                sent.push_back(p);
                if (p.header.kind == kind && p.header.code == code) {
                    *out = p;
                    appNotify(channel, "SENDING");
                    return true;
                }
            }
            appNotify(channel, "SENDING");
            std::this_thread::sleep_for(5ms);
        }
        return false;
    }

    // A READ reply with the next sequence number. While the stream holds a
    // packet for a full queue it reads nothing: Skype keeps the text until
    // the ticks have let the packet go on.
    void peer(A2aPacketHeader header, const std::vector<unsigned char>& payload = {})
    {
        auto end = std::chrono::steady_clock::now() + 120s;
        while (stream->holdsPacket() && std::chrono::steady_clock::now() < end) {
            QK_A2AMODEL::streamTimerProc(nullptr, WM_TIMER, 0, 0);
            appNotify(channel, "SENDING");
            std::this_thread::sleep_for(5ms);
        }
        ASSERT_FALSE(stream->holdsPacket());
        header.headerSize = 40;
        header.marker[0] = 2;
        header.marker[1] = 1;
        header.payloadSize = static_cast<uint16_t>(payload.size());
        header.sequence = nextSequence++;
        std::vector<unsigned char> bytes(40 + payload.size());
        writeA2aHeader(bytes.data(), header);
        if (!payload.empty())
            std::memcpy(bytes.data() + 40, payload.data(), payload.size());
        readReply(channel, "alice", 5, bytes);
    }
    static A2aPacketHeader control(int kind, int code, int port, int reply = 0)
    {
        A2aPacketHeader h = makeA2aHeader();
        h.kind = static_cast<uint16_t>(kind);
        h.code = static_cast<uint16_t>(code);
        h.port = static_cast<uint16_t>(port);
        h.repCode = static_cast<uint16_t>(reply);
        return h;
    }
    static A2aPacketHeader data(int kind, int port)
    {
        A2aPacketHeader h = makeA2aHeader();
        h.kind = static_cast<uint16_t>(kind);
        h.port = static_cast<uint16_t>(port);
        return h;
    }

    int channel = 1;
    QK_SKYPESTREAM* stream = nullptr;
    uint32_t nextSequence = 0;
    std::vector<SOCKET> sockets;
    std::vector<SentPacket> sent;
};

// ------------------------------------------------ a slow local reader

struct SlowReaderCase {
    const char* name;
    bool disconnectNamesTheLocalPort;   // the peer's forward port equals our local port
};

void PrintTo(const SlowReaderCase& c, std::ostream* out)
{
    *out << c.name;
}

class SlowLocalReader : public StreamRelayTest, public testing::WithParamInterface<SlowReaderCase> {};

TEST_P(SlowLocalReader, GetsEveryByteThenTheCloseAndTheListenerStays)
{
    settings->appMode = 1;   // client application: the channel listens
    const int port = freePort();
    settings->localPort[1] = port;
    ASSERT_NE(openReal(1), nullptr);
    QK_SOCKETTCP* main = stream->tcpManager->mainSocket;
    ASSERT_NE(main, nullptr);

    SOCKET local = keep(connectSmall(port));
    ASSERT_NE(local, INVALID_SOCKET);
    SentPacket request;
    ASSERT_TRUE(awaitSent(KIND_CONTROL, CONNECT_REQUEST, &request));
    // The relay's end of the connection gets a small send buffer too.
    int small = 4096;
    setsockopt(main->sock.load(), SOL_SOCKET, SO_SNDBUF, reinterpret_cast<const char*>(&small), sizeof small);
    A2aPacketHeader reply = control(KIND_CONTROL, CONNECT_REPLY, port, CONNECT_OK);
    reply.connectionId = request.header.connectionId;
    peer(reply);

    SlowReader reader(local, 200 * 1024);
    const int peerPort = GetParam().disconnectNamesTheLocalPort ? port : port + 1;
    std::vector<unsigned char> expected;
    for (int i = 0; i < 80; ++i) {
        std::vector<unsigned char> chunk = randomBytes(10240, static_cast<unsigned>(i));
        expected.insert(expected.end(), chunk.begin(), chunk.end());
        A2aPacketHeader h = data(KIND_DATA, peerPort);
        h.connectionId = request.header.connectionId;
        peer(h, chunk);
    }
    A2aPacketHeader bye = control(KIND_CONTROL, DISCONNECT_REQUEST, peerPort);
    bye.connectionId = request.header.connectionId;
    peer(bye);

    // Every byte, then the close.
    auto fed = std::chrono::steady_clock::now();
    auto end = fed + 60s;
    while (!reader.closed && std::chrono::steady_clock::now() < end) {
        QK_A2AMODEL::streamTimerProc(nullptr, WM_TIMER, 0, 0);
        appNotify(channel, "SENDING");
        std::this_thread::sleep_for(20ms);
    }
    RecordProperty("bytes_arrived", static_cast<int>(reader.arrived.size()));
    RecordProperty("ms_from_disconnect_to_close",
                   static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                        std::chrono::steady_clock::now() - fed)
                                        .count()));
    ASSERT_TRUE(reader.closed) << "connection not closed; " << reader.arrived.size() << " bytes arrived";
    reader.worker.join();
    EXPECT_EQ(reader.arrived.size(), expected.size());
    EXPECT_TRUE(reader.arrived == expected) << "bytes differ";

    // The channel takes the next connection and asks the peer again.
    SOCKET second = keep(connectSmall(port));
    ASSERT_NE(second, INVALID_SOCKET) << "the channel no longer listens";
    SentPacket again;
    EXPECT_TRUE(awaitSent(KIND_CONTROL, CONNECT_REQUEST, &again));
}

INSTANTIATE_TEST_SUITE_P(Ports, SlowLocalReader,
                         testing::Values(SlowReaderCase{"EqualPorts", true}, SlowReaderCase{"UnequalPorts", false}),
                         [](const testing::TestParamInfo<SlowReaderCase>& p) { return std::string(p.param.name); });

// ------------------------------------- connections back to back, late requests

// Reads what arrives until `n` bytes or the close.
std::string readSome(SOCKET s, size_t n)
{
    std::string out;
    char buffer[256];
    while (out.size() < n) {
        int got = recv(s, buffer, sizeof buffer, 0);
        if (got <= 0)
            break;
        out.append(buffer, static_cast<size_t>(got));
    }
    return out;
}

TEST_F(StreamRelayTest, FiftyConnectionsBackToBackSurviveThePeersLateDisconnects)
{
    settings->appMode = 1;
    const int port = freePort();
    settings->localPort[1] = port;
    ASSERT_NE(openReal(1), nullptr);
    uint32_t previous = 0;
    int succeeded = 0;
    for (int i = 0; i < 50; ++i) {
        SCOPED_TRACE("connection " + std::to_string(i));
        SOCKET c = connectSmall(port, 65536);
        ASSERT_NE(c, INVALID_SOCKET);
        SentPacket request;
        ASSERT_TRUE(awaitSent(KIND_CONTROL, CONNECT_REQUEST, &request));
        EXPECT_NE(request.header.connectionId, previous);
        if (i > 0) {
            // The peer's answer to the end of the previous connection comes
            // only now, after this one was accepted.
            A2aPacketHeader late = control(KIND_CONTROL, DISCONNECT_REQUEST, port);
            late.connectionId = previous;
            peer(late);
        }
        A2aPacketHeader ok = control(KIND_CONTROL, CONNECT_REPLY, port, CONNECT_OK);
        ok.connectionId = request.header.connectionId;
        peer(ok);
        const std::string greeting = "hello " + std::to_string(i);
        A2aPacketHeader h = data(KIND_DATA, port);
        h.connectionId = request.header.connectionId;
        peer(h, std::vector<unsigned char>(greeting.begin(), greeting.end()));
        std::string got = readSome(c, greeting.size());
        if (got == greeting)
            ++succeeded;
        EXPECT_EQ(got, greeting);
        closesocket(c);
        SentPacket bye;
        ASSERT_TRUE(awaitSent(KIND_CONTROL, DISCONNECT_REQUEST, &bye));
        EXPECT_EQ(bye.header.connectionId, request.header.connectionId);
        previous = request.header.connectionId;
    }
    RecordProperty("connections_succeeded", succeeded);
}

TEST_F(StreamRelayTest, PeerWithoutConnectionIdsEndsTheConnectionAsBefore)
{
    settings->appMode = 1;
    const int port = freePort();
    settings->localPort[1] = port;
    ASSERT_NE(openReal(1), nullptr);
    SOCKET c = keep(connectSmall(port, 65536));
    ASSERT_NE(c, INVALID_SOCKET);
    SentPacket request;
    ASSERT_TRUE(awaitSent(KIND_CONTROL, CONNECT_REQUEST, &request));
    EXPECT_NE(request.header.connectionId, 0u);
    peer(control(KIND_CONTROL, CONNECT_REPLY, port, CONNECT_OK));   // id 0
    peer(data(KIND_DATA, port), {'o', 'k'});
    peer(control(KIND_CONTROL, DISCONNECT_REQUEST, port));
    EXPECT_EQ(readSome(c, 100), "ok");   // then the close
}

// ------------------------------------------------ what the peer may ask

TEST_F(StreamRelayTest, ClientApplicationPassesOverAMainLinkConnectRequestAndKeepsListening)
{
    settings->appMode = 1;
    const int port = freePort();
    settings->localPort[1] = port;
    settings->forwardPort[1] = freePort();
    ASSERT_NE(openReal(1), nullptr);
    std::string output = captureTrace([&] { peer(control(KIND_CONTROL, CONNECT_REQUEST, 80)); });
    EXPECT_NE(output.find("CONNECT-REQUEST passed over"), std::string::npos) << output;
    EXPECT_TRUE(takeWrites().empty());   // no answer
    EXPECT_TRUE(hub.logLines.empty());
    SOCKET c = keep(connectSmall(port));
    ASSERT_NE(c, INVALID_SOCKET) << "the channel no longer listens";
    SentPacket request;
    EXPECT_TRUE(awaitSent(KIND_CONTROL, CONNECT_REQUEST, &request));
}

// A listener of the test on 127.0.0.1 and a system-chosen port.
SOCKET listenLocal(int* port)
{
    SOCKET s = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = inet_addr("127.0.0.1");
    bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a);
    listen(s, 4);
    int len = sizeof a;
    getsockname(s, reinterpret_cast<sockaddr*>(&a), &len);
    *port = ntohs(a.sin_port);
    return s;
}

// Whether a connection waits on the listener within `limit`.
bool connectionWaits(SOCKET listener, std::chrono::milliseconds limit)
{
    u_long on = 1;
    ioctlsocket(listener, FIONBIO, &on);
    auto end = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < end) {
        SOCKET s = accept(listener, nullptr, nullptr);
        if (s != INVALID_SOCKET) {
            closesocket(s);
            return true;
        }
        std::this_thread::sleep_for(10ms);
    }
    return false;
}

// How the FTP server announces its data port.
struct AnnouncementCase {
    const char* name;
    bool extended;   // 229 instead of 227
};

class FtpServerAnnouncement : public StreamRelayTest, public testing::WithParamInterface<AnnouncementCase> {};

TEST_P(FtpServerAnnouncement, ServerApplicationConnectsADataLinkOnlyToAPortItsFtpServerAnnounced)
{
    settings->appMode = 0;   // server application: the FTP server is behind us
    int ftpPort = 0;
    SOCKET ftpServer = keep(listenLocal(&ftpPort));
    settings->forwardPort[0] = ftpPort;
    int dataPort = 0;
    SOCKET dataListener = keep(listenLocal(&dataPort));
    int otherPort = 0;
    SOCKET otherService = keep(listenLocal(&otherPort));
    ASSERT_NE(openReal(0), nullptr);

    // A data-link request with no FTP session behind it.
    peer(control(KIND_DLINK_CONTROL, CONNECT_REQUEST, otherPort));
    std::vector<SentPacket> writes = takeWrites();
    ASSERT_EQ(writes.size(), 1u);
    EXPECT_EQ(writes[0].header.kind, KIND_DLINK_CONTROL);
    EXPECT_EQ(writes[0].header.code, CONNECT_REPLY);
    EXPECT_EQ(writes[0].header.repCode, CONNECT_NG);
    EXPECT_EQ(logLinesContaining("拒否").size(), 1u);
    EXPECT_FALSE(connectionWaits(otherService, 300ms));
    appNotify(channel, "SENDING");

    // The FTP session: our FTP server announces dataPort.
    peer(control(KIND_CONTROL, CONNECT_REQUEST, 21));
    takeWrites();
    appNotify(channel, "SENDING");
    SOCKET control21 = keep(accept(ftpServer, nullptr, nullptr));
    ASSERT_NE(control21, INVALID_SOCKET);
    char text[96];
    if (GetParam().extended)
        std::snprintf(text, sizeof text, "229 Entering Extended Passive Mode (|||%d|)\r\n", dataPort);
    else
        std::snprintf(text, sizeof text, "227 Entering Passive Mode (127,0,0,1,%d,%d)\r\n", dataPort >> 8,
                      dataPort & 255);
    ASSERT_EQ(send(control21, text, static_cast<int>(std::strlen(text)), 0), static_cast<int>(std::strlen(text)));
    SentPacket announced;
    ASSERT_TRUE(awaitSent(KIND_DATA, 0, &announced));

    // Another port of the same host is still refused; the announced one is
    // connected, once.
    peer(control(KIND_DLINK_CONTROL, CONNECT_REQUEST, otherPort));
    peer(control(KIND_DLINK_CONTROL, CONNECT_REQUEST, dataPort));
    writes = takeWrites();
    ASSERT_EQ(writes.size(), 2u);
    EXPECT_EQ(writes[0].header.repCode, CONNECT_NG);
    EXPECT_EQ(writes[1].header.repCode, CONNECT_OK);
    EXPECT_EQ(writes[1].header.port, dataPort);
    EXPECT_TRUE(connectionWaits(dataListener, 5s));
    EXPECT_FALSE(connectionWaits(otherService, 300ms));
    appNotify(channel, "SENDING");
    peer(control(KIND_DLINK_CONTROL, CONNECT_REQUEST, dataPort));
    writes = takeWrites();
    ASSERT_EQ(writes.size(), 1u);
    EXPECT_EQ(writes[0].header.repCode, CONNECT_NG);
    EXPECT_EQ(logLinesContaining("拒否").size(), 3u);
}

INSTANTIATE_TEST_SUITE_P(Texts, FtpServerAnnouncement,
                         testing::Values(AnnouncementCase{"Passive", false}, AnnouncementCase{"ExtendedPassive", true}),
                         [](const testing::TestParamInfo<AnnouncementCase>& p) { return std::string(p.param.name); });

} // namespace
