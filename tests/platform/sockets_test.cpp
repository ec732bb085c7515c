// The sockets layer on loopback: Windows Sockets error numbers, blocking and
// non-blocking calls, and closing a socket while another thread is inside a
// call on it.
#include "platform/winsock.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <future>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;

sockaddr_in loopback(u_short port, const char* dotted = "127.0.0.1")
{
    sockaddr_in a;
    std::memset(&a, 0, sizeof a);
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = inet_addr(dotted);
    return a;
}

class Sockets : public ::testing::Test {
protected:
    void SetUp() override
    {
        WSADATA data;
        ASSERT_EQ(WSAStartup(MAKEWORD(2, 0), &data), 0);
    }
    void TearDown() override
    {
        for (SOCKET s : open_)
            closesocket(s);
        WSACleanup();
    }

    SOCKET keep(SOCKET s)
    {
        if (s != INVALID_SOCKET)
            open_.push_back(s);
        return s;
    }
    void forget(SOCKET s) { std::erase(open_, s); }

    // A listener on a system-chosen loopback port.
    SOCKET listener(u_short* port, int backlog = 5)
    {
        SOCKET s = keep(socket(AF_INET, SOCK_STREAM, 0));
        EXPECT_NE(s, INVALID_SOCKET);
        sockaddr_in a = loopback(0);
        EXPECT_EQ(bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
        EXPECT_EQ(listen(s, backlog), 0);
        int len = sizeof a;
        EXPECT_EQ(getsockname(s, reinterpret_cast<sockaddr*>(&a), &len), 0);
        *port = ntohs(a.sin_port);
        return s;
    }

    SOCKET connected(u_short port)
    {
        SOCKET s = keep(socket(AF_INET, SOCK_STREAM, 0));
        sockaddr_in a = loopback(port);
        EXPECT_EQ(connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a), 0) << WSAGetLastError();
        return s;
    }

    // A connected pair: first the connecting end, second the accepted end.
    std::pair<SOCKET, SOCKET> pair()
    {
        u_short port = 0;
        SOCKET l = listener(&port);
        SOCKET c = connected(port);
        SOCKET a = keep(accept(l, nullptr, nullptr));
        EXPECT_NE(a, INVALID_SOCKET);
        return {c, a};
    }

    std::vector<SOCKET> open_;
};

TEST(SocketsLayer, CallsBeforeStartupFailWithNotInitialised)
{
    EXPECT_EQ(socket(AF_INET, SOCK_STREAM, 0), INVALID_SOCKET);
    EXPECT_EQ(WSAGetLastError(), WSANOTINITIALISED);
    EXPECT_EQ(closesocket(0x100), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSANOTINITIALISED);
    EXPECT_EQ(WSACleanup(), SOCKET_ERROR);

    WSADATA data;
    EXPECT_EQ(WSAStartup(MAKEWORD(0, 1), &data), WSAVERNOTSUPPORTED);
    EXPECT_EQ(WSAStartup(MAKEWORD(2, 0), &data), 0);
    EXPECT_EQ(data.wVersion, MAKEWORD(2, 0));
    EXPECT_EQ(data.wHighVersion, MAKEWORD(2, 2));
    EXPECT_EQ(WSAStartup(MAKEWORD(3, 0), &data), 0);
    EXPECT_EQ(data.wVersion, MAKEWORD(2, 2));
    // Reference counted: two starts need two cleanups.
    EXPECT_EQ(WSACleanup(), 0);
    SOCKET s = socket(AF_INET, SOCK_STREAM, 0);
    EXPECT_NE(s, INVALID_SOCKET);
    EXPECT_EQ(closesocket(s), 0);
    EXPECT_EQ(WSACleanup(), 0);
    EXPECT_EQ(socket(AF_INET, SOCK_STREAM, 0), INVALID_SOCKET);
    EXPECT_EQ(WSAGetLastError(), WSANOTINITIALISED);
}

TEST_F(Sockets, RelaysBytesBothWaysAndReportsAddresses)
{
    u_short port = 0;
    SOCKET l = listener(&port);
    ASSERT_NE(port, 0);
    SOCKET c = connected(port);
    sockaddr_in peer;
    int len = sizeof peer;
    SOCKET a = keep(accept(l, reinterpret_cast<sockaddr*>(&peer), &len));
    ASSERT_NE(a, INVALID_SOCKET);
    EXPECT_EQ(len, static_cast<int>(sizeof peer));
    EXPECT_STREQ(inet_ntoa(peer.sin_addr), "127.0.0.1");
    sockaddr_in local;
    len = sizeof local;
    ASSERT_EQ(getsockname(c, reinterpret_cast<sockaddr*>(&local), &len), 0);
    EXPECT_EQ(local.sin_port, peer.sin_port);
    len = sizeof local;
    ASSERT_EQ(getpeername(c, reinterpret_cast<sockaddr*>(&local), &len), 0);
    EXPECT_EQ(ntohs(local.sin_port), port);

    EXPECT_EQ(send(c, "hello", 5, 0), 5);
    char buf[16] = {};
    EXPECT_EQ(recv(a, buf, sizeof buf, 0), 5);
    EXPECT_STREQ(buf, "hello");
    EXPECT_EQ(send(a, "back", 4, 0), 4);
    std::memset(buf, 0, sizeof buf);
    EXPECT_EQ(recv(c, buf, sizeof buf, 0), 4);
    EXPECT_STREQ(buf, "back");

    // The other end's close reads as 0.
    EXPECT_EQ(closesocket(c), 0);
    forget(c);
    EXPECT_EQ(recv(a, buf, sizeof buf, 0), 0);
}

TEST_F(Sockets, BlockingSendOfMegabytesArrivesWhole)
{
    auto [c, a] = pair();
    std::vector<char> out(3 * 1024 * 1024);
    for (size_t i = 0; i < out.size(); ++i)
        out[i] = static_cast<char>(i * 7 + (i >> 12));
    auto sender = std::async(std::launch::async, [&, c = c] {
        return send(c, out.data(), static_cast<int>(out.size()), 0);
    });
    std::vector<char> in;
    char buf[65536];
    while (in.size() < out.size()) {
        int n = recv(a, buf, sizeof buf, 0);
        ASSERT_GT(n, 0) << WSAGetLastError();
        in.insert(in.end(), buf, buf + n);
    }
    EXPECT_EQ(sender.get(), static_cast<int>(out.size()));
    EXPECT_EQ(in, out);
}

// FIONWRITE: what was written and the peer has not acknowledged; it falls to
// 0 once the peer has taken everything.
TEST_F(Sockets, UnacknowledgedBytesCountUntilThePeerHasThem)
{
    auto [c, a] = pair();
    u_long unacknowledged = 99;
    ASSERT_EQ(ioctlsocket(c, FIONWRITE, &unacknowledged), 0);
    EXPECT_EQ(unacknowledged, 0u);

    u_long on = 1;
    ASSERT_EQ(ioctlsocket(c, FIONBIO, &on), 0);
    std::vector<char> chunk(65536, 'y');
    size_t written = 0;
    for (int i = 0; i < 100000; ++i) {
        int r = send(c, chunk.data(), static_cast<int>(chunk.size()), 0);
        if (r == SOCKET_ERROR)
            break;
        written += static_cast<size_t>(r);
    }
    ASSERT_EQ(WSAGetLastError(), WSAEWOULDBLOCK);
    ASSERT_EQ(ioctlsocket(c, FIONWRITE, &unacknowledged), 0);
    EXPECT_GT(unacknowledged, 0u);
    EXPECT_LE(unacknowledged, written);

    char buf[65536];
    for (size_t got = 0; got < written;) {
        int n = recv(a, buf, sizeof buf, 0);
        ASSERT_GT(n, 0) << WSAGetLastError();
        got += static_cast<size_t>(n);
    }
    for (int i = 0; i < 400 && unacknowledged != 0; ++i) {
        std::this_thread::sleep_for(5ms);
        ASSERT_EQ(ioctlsocket(c, FIONWRITE, &unacknowledged), 0);
    }
    EXPECT_EQ(unacknowledged, 0u);
}

TEST_F(Sockets, NonBlockingModeGivesWouldBlock)
{
    auto [c, a] = pair();
    u_long on = 1;
    ASSERT_EQ(ioctlsocket(a, FIONBIO, &on), 0);
    char buf[64];
    EXPECT_EQ(recv(a, buf, sizeof buf, 0), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSAEWOULDBLOCK);

    ASSERT_EQ(send(c, "abc", 3, 0), 3);
    u_long waiting = 0;
    for (int i = 0; i < 200 && waiting == 0; ++i) {
        ASSERT_EQ(ioctlsocket(a, FIONREAD, &waiting), 0);
        std::this_thread::sleep_for(5ms);
    }
    EXPECT_EQ(waiting, 3u);
    EXPECT_EQ(recv(a, buf, sizeof buf, 0), 3);

    // A peer that never reads fills the buffers; then send would block.
    ASSERT_EQ(ioctlsocket(c, FIONBIO, &on), 0);
    std::vector<char> chunk(65536, 'x');
    int r = 0;
    for (int i = 0; i < 100000; ++i) {
        r = send(c, chunk.data(), static_cast<int>(chunk.size()), 0);
        if (r == SOCKET_ERROR)
            break;
    }
    EXPECT_EQ(r, SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSAEWOULDBLOCK);

    // An accepted socket takes its listener's mode.
    u_short port = 0;
    SOCKET l = listener(&port);
    ASSERT_EQ(ioctlsocket(l, FIONBIO, &on), 0);
    EXPECT_EQ(accept(l, nullptr, nullptr), INVALID_SOCKET);
    EXPECT_EQ(WSAGetLastError(), WSAEWOULDBLOCK);
    connected(port);
    SOCKET acc = INVALID_SOCKET;
    for (int i = 0; i < 400 && acc == INVALID_SOCKET; ++i) {
        acc = keep(accept(l, nullptr, nullptr));
        if (acc == INVALID_SOCKET)
            std::this_thread::sleep_for(5ms);
    }
    ASSERT_NE(acc, INVALID_SOCKET);
    EXPECT_EQ(recv(acc, buf, sizeof buf, 0), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSAEWOULDBLOCK);
}

struct ErrorCase {
    const char* what;
    int expected;
};

TEST_F(Sockets, ErrorsReadAsWindowsSocketsNumbers)
{
    // Refused: a port that was just closed has no listener.
    u_short port = 0;
    SOCKET l = listener(&port);
    ASSERT_EQ(closesocket(l), 0);
    forget(l);
    SOCKET s = keep(socket(AF_INET, SOCK_STREAM, 0));
    sockaddr_in a = loopback(port);
    EXPECT_EQ(connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSAECONNREFUSED);
    EXPECT_EQ(WSAGetLastError(), 10061);

    // In use: a second listener on a listening port, SO_REUSEADDR or not.
    SOCKET first = listener(&port);
    (void)first;
    SOCKET second = keep(socket(AF_INET, SOCK_STREAM, 0));
    int one = 1;
    ASSERT_EQ(setsockopt(second, SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<char*>(&one),
                         sizeof one),
              0);
    a = loopback(port);
    EXPECT_EQ(bind(second, reinterpret_cast<sockaddr*>(&a), sizeof a), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), 10048);

    // Not available: an address that is not this computer's (binding sends nothing).
    SOCKET third = keep(socket(AF_INET, SOCK_STREAM, 0));
    a = loopback(0, "203.0.113.7");
    EXPECT_EQ(bind(third, reinterpret_cast<sockaddr*>(&a), sizeof a), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), 10049);

    // Not a socket: a closed handle, and handles are never handed out again.
    SOCKET gone = socket(AF_INET, SOCK_STREAM, 0);
    ASSERT_EQ(closesocket(gone), 0);
    SOCKET fresh = keep(socket(AF_INET, SOCK_STREAM, 0));
    EXPECT_NE(fresh, gone);
    EXPECT_EQ(closesocket(gone), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSAENOTSOCK);
    char buf[4];
    EXPECT_EQ(recv(gone, buf, sizeof buf, 0), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), 10038);

    // Not connected; shut down for sending.
    EXPECT_EQ(send(fresh, "x", 1, 0), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSAENOTCONN);
    auto [c, acc] = pair();
    (void)acc;
    ASSERT_EQ(shutdown(c, SD_SEND), 0);
    EXPECT_EQ(send(c, "x", 1, 0), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSAESHUTDOWN);

    // Host not found, without asking any name server: the name is too long
    // to be one.
    std::string longName(300, 'a');
    longName[70] = '.';
    EXPECT_EQ(gethostbyname(longName.c_str()), nullptr);
    EXPECT_EQ(WSAGetLastError(), 11001);

    // Unknown option and address family.
    EXPECT_EQ(setsockopt(fresh, SOL_SOCKET, 0x7777, reinterpret_cast<char*>(&one), sizeof one),
              SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSAENOPROTOOPT);
    EXPECT_EQ(socket(23, SOCK_STREAM, 0), INVALID_SOCKET);
    EXPECT_EQ(WSAGetLastError(), WSAEAFNOSUPPORT);
}

TEST_F(Sockets, SendToAResetConnectionFailsWithoutSignal)
{
    auto [c, a] = pair();
    // Unread data at close makes the other end reset the connection.
    ASSERT_EQ(send(c, "unread", 6, 0), 6);
    std::this_thread::sleep_for(50ms);
    ASSERT_EQ(closesocket(a), 0);
    forget(a);
    int r = 0;
    for (int i = 0; i < 100 && r != SOCKET_ERROR; ++i) {
        r = send(c, "more", 4, 0);
        std::this_thread::sleep_for(10ms);
    }
    EXPECT_EQ(r, SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSAECONNRESET);
    // Still here: no SIGPIPE ended the process.
    EXPECT_EQ(send(c, "more", 4, 0), SOCKET_ERROR);
}

TEST_F(Sockets, ShutdownBothWaysEndsTheOtherSidesRead)
{
    auto [c, a] = pair();
    EXPECT_EQ(shutdown(c, SD_BOTH), 0);
    char buf[8];
    EXPECT_EQ(recv(a, buf, sizeof buf, 0), 0);
    SOCKET unconnected = keep(socket(AF_INET, SOCK_STREAM, 0));
    EXPECT_EQ(shutdown(unconnected, SD_BOTH), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSAENOTCONN);
}

// Closing from another thread ends a blocked call with WSAEINTR.
TEST_F(Sockets, CloseEndsABlockedAcceptAndRecv)
{
    u_short port = 0;
    SOCKET l = listener(&port);
    auto accepting = std::async(std::launch::async, [l] {
        SOCKET s = accept(l, nullptr, nullptr);
        return std::make_pair(s, WSAGetLastError());
    });
    std::this_thread::sleep_for(100ms);
    ASSERT_EQ(accepting.wait_for(0ms), std::future_status::timeout);
    ASSERT_EQ(closesocket(l), 0);
    forget(l);
    ASSERT_EQ(accepting.wait_for(10s), std::future_status::ready);
    auto [s, err] = accepting.get();
    EXPECT_EQ(s, INVALID_SOCKET);
    EXPECT_EQ(err, WSAEINTR);

    auto [c, a] = pair();
    auto receiving = std::async(std::launch::async, [a = a] {
        char buf[16];
        int n = recv(a, buf, sizeof buf, 0);
        return std::make_pair(n, WSAGetLastError());
    });
    std::this_thread::sleep_for(100ms);
    ASSERT_EQ(receiving.wait_for(0ms), std::future_status::timeout);
    ASSERT_EQ(closesocket(a), 0);
    forget(a);
    ASSERT_EQ(receiving.wait_for(10s), std::future_status::ready);
    auto [n, rerr] = receiving.get();
    EXPECT_EQ(n, SOCKET_ERROR);
    EXPECT_EQ(rerr, WSAEINTR);
    // The other end sees the connection end.
    char buf[4];
    EXPECT_EQ(recv(c, buf, sizeof buf, 0), 0);
}

// A blocked connect: the listener's accept queue is full, so the handshake
// gets no answer.
TEST_F(Sockets, CloseEndsABlockedConnect)
{
    u_short port = 0;
    listener(&port, 0);
    std::vector<std::future<std::pair<int, int>>> tries;
    std::vector<SOCKET> sockets;
    // Connect until one of the attempts stays inside connect.
    SOCKET blocked = INVALID_SOCKET;
    std::future<std::pair<int, int>> blockedTry;
    for (int i = 0; i < 16 && blocked == INVALID_SOCKET; ++i) {
        SOCKET s = keep(socket(AF_INET, SOCK_STREAM, 0));
        auto f = std::async(std::launch::async, [s, port] {
            sockaddr_in a = loopback(port);
            int r = connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a);
            return std::make_pair(r, WSAGetLastError());
        });
        if (f.wait_for(300ms) == std::future_status::timeout) {
            blocked = s;
            blockedTry = std::move(f);
        } else {
            ASSERT_EQ(f.get().first, 0);
        }
    }
    if (blocked == INVALID_SOCKET)
        GTEST_SKIP() << "this system completes every handshake; no connect stays blocked";
    ASSERT_EQ(closesocket(blocked), 0);
    forget(blocked);
    ASSERT_EQ(blockedTry.wait_for(10s), std::future_status::ready);
    auto [r, err] = blockedTry.get();
    EXPECT_EQ(r, SOCKET_ERROR);
    EXPECT_EQ(err, WSAEINTR);
}

// The descriptor under a closed handle stays with the call inside it until
// that call has left: new sockets made meanwhile never reach the old call.
TEST_F(Sockets, DescriptorIsNotReusedWhileACallIsInside)
{
    for (int round = 0; round < 20; ++round) {
        auto [c, a] = pair();
        std::atomic<bool> inside{false};
        auto receiving = std::async(std::launch::async, [&inside, a = a] {
            char buf[16];
            inside = true;
            int n = recv(a, buf, sizeof buf, 0);
            return std::make_pair(n, WSAGetLastError());
        });
        while (!inside)
            std::this_thread::yield();
        std::this_thread::sleep_for(2ms);
        ASSERT_EQ(closesocket(a), 0);
        forget(a);
        // New connected sockets right away, with data waiting on them.
        auto [c2, a2] = pair();
        ASSERT_EQ(send(c2, "new", 3, 0), 3);
        ASSERT_EQ(receiving.wait_for(10s), std::future_status::ready);
        auto [n, err] = receiving.get();
        EXPECT_EQ(n, SOCKET_ERROR);
        EXPECT_EQ(err, WSAEINTR);
        char buf[8] = {};
        EXPECT_EQ(recv(a2, buf, sizeof buf, 0), 3);
        EXPECT_STREQ(buf, "new");
        closesocket(c2);
        closesocket(a2);
        closesocket(c);
        forget(c2);
        forget(a2);
        forget(c);
    }
    EXPECT_EQ(openSocketCount(), static_cast<int>(open_.size()));
}

TEST_F(Sockets, AddressTextsAndLookups)
{
    uint32_t a = inet_addr("192.168.0.10");
    const auto* b = reinterpret_cast<const unsigned char*>(&a);
    EXPECT_EQ(b[0], 192);
    EXPECT_EQ(b[1], 168);
    EXPECT_EQ(b[2], 0);
    EXPECT_EQ(b[3], 10);
    EXPECT_EQ(inet_addr("localhost"), INADDR_NONE);
    EXPECT_EQ(inet_addr("1.2.3.256"), INADDR_NONE);
    in_addr in{a};
    EXPECT_STREQ(inet_ntoa(in), "192.168.0.10");
    EXPECT_EQ(htons(0x1234), 0x3412);
    EXPECT_EQ(ntohl(htonl(0x01020304u)), 0x01020304u);

    for (const char* name : {"localhost", "Localhost", "127.0.0.1"}) {
        hostent* h = gethostbyname(name);
        ASSERT_NE(h, nullptr) << name << " " << WSAGetLastError();
        EXPECT_EQ(h->h_addrtype, AF_INET);
        EXPECT_EQ(h->h_length, 4);
        ASSERT_NE(h->h_addr_list[0], nullptr);
        uint32_t got;
        std::memcpy(&got, h->h_addr_list[0], 4);
        EXPECT_EQ(got, inet_addr("127.0.0.1")) << name;
    }
}

TEST_F(Sockets, DatagramConnectPicksTheLocalAddress)
{
    SOCKET s = keep(socket(AF_INET, SOCK_DGRAM, 0));
    ASSERT_NE(s, INVALID_SOCKET);
    sockaddr_in a = loopback(9);
    ASSERT_EQ(connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    sockaddr_in local;
    int len = sizeof local;
    ASSERT_EQ(getsockname(s, reinterpret_cast<sockaddr*>(&local), &len), 0);
    EXPECT_STREQ(inet_ntoa(local.sin_addr), "127.0.0.1");
}

TEST_F(Sockets, ReuseAddressRebindsAPortJustUsed)
{
    // A connection closed by the listening side first leaves its port in
    // FIN_WAIT or TIME_WAIT; the listener set SO_REUSEADDR, as the relay's do.
    int one = 1;
    SOCKET l = keep(socket(AF_INET, SOCK_STREAM, 0));
    ASSERT_EQ(setsockopt(l, SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<char*>(&one), sizeof one),
              0);
    sockaddr_in addr = loopback(0);
    ASSERT_EQ(bind(l, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    ASSERT_EQ(listen(l, 1), 0);
    int len = sizeof addr;
    ASSERT_EQ(getsockname(l, reinterpret_cast<sockaddr*>(&addr), &len), 0);
    u_short port = ntohs(addr.sin_port);
    SOCKET c = connected(port);
    SOCKET a = accept(l, nullptr, nullptr);
    ASSERT_NE(a, INVALID_SOCKET);
    closesocket(a);
    closesocket(l);
    forget(l);
    std::this_thread::sleep_for(20ms);
    SOCKET again = keep(socket(AF_INET, SOCK_STREAM, 0));
    ASSERT_EQ(setsockopt(again, SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<char*>(&one),
                         sizeof one),
              0);
    addr = loopback(port);
    EXPECT_EQ(bind(again, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0)
        << WSAGetLastError();
    EXPECT_EQ(listen(again, 1), 0);
    (void)c;
}

} // namespace
