// Sustained throughput of one relayed connection through a listening socket
// object: a local program on loopback at one end, this program playing the
// stream at the other, taking packets from toPeer and putting packets into
// fromPeer as fast as it can. The relay thread's pace (one receive and one
// packet from the peer per 20 ms pass, at most 10,240 bytes each) limits each
// direction to 512,000 bytes per second.
//
// Usage: relay_throughput [seconds per measurement, default 10]
#include "foundation/que.h"
#include "platform/trace.h"
#include "platform/winsock.h"
#include "relay/a2apacket.h"
#include "relay/sockettcp.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr double kLimit = 512000.0; // 10,240 bytes per 20 ms

struct Result {
    double upBytesPerSecond = 0;   // local program -> peer (toPeer)
    double upPacketsPerSecond = 0;
    double downBytesPerSecond = 0; // peer -> local program (fromPeer)
};

int freePort()
{
    SOCKET s = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a;
    std::memset(&a, 0, sizeof a);
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = inet_addr("127.0.0.1");
    bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a);
    int len = sizeof a;
    getsockname(s, reinterpret_cast<sockaddr*>(&a), &len);
    closesocket(s);
    return ntohs(a.sin_port);
}

// Runs one connection for the given time with the chosen directions busy.
bool measure(bool up, bool down, std::chrono::seconds duration, Result* out)
{
    QK_SOCKETTCP s;
    s.initSocket();
    int port = freePort();
    if (!s.createServer(port))
        return false;
    s.startThread();

    SOCKET c = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a;
    std::memset(&a, 0, sizeof a);
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<u_short>(port));
    a.sin_addr.s_addr = inet_addr("127.0.0.1");
    if (connect(c, reinterpret_cast<sockaddr*>(&a), sizeof a) == SOCKET_ERROR)
        return false;

    std::vector<unsigned char> slot(QUE_ENTRY_SIZE);
    auto deadline = Clock::now() + 5s;
    bool asked = false;
    while (!asked && Clock::now() < deadline) {
        if (s.toPeer->deqEntry(slot.data()) == 1)
            asked = readA2aHeader(slot.data()).code == CONNECT_REQUEST;
        else
            std::this_thread::sleep_for(1ms);
    }
    if (!asked)
        return false;
    s.replyState = CONNECT_OK;

    std::atomic<bool> stop{false};
    std::atomic<long long> upBytes{0}, upPackets{0}, downBytes{0};
    std::atomic<bool> counting{false};

    // The local program: writes as fast as the socket takes it.
    std::thread writer([&] {
        if (!up)
            return;
        std::vector<char> chunk(65536, 'u');
        while (!stop) {
            if (send(c, chunk.data(), static_cast<int>(chunk.size()), 0) == SOCKET_ERROR)
                break;
        }
    });
    // The local program: reads what the relay delivers.
    std::thread reader([&] {
        std::vector<char> buf(65536);
        for (;;) {
            int n = recv(c, buf.data(), static_cast<int>(buf.size()), 0);
            if (n <= 0)
                break;
            if (counting)
                downBytes += n;
        }
    });
    // The stream, to the peer: takes every packet at once.
    std::thread drainer([&] {
        std::vector<unsigned char> in(QUE_ENTRY_SIZE);
        while (!stop) {
            if (s.toPeer->deqEntry(in.data()) == 1) {
                A2aPacketHeader h = readA2aHeader(in.data());
                if (h.kind == KIND_DATA && counting) {
                    upBytes += h.payloadSize;
                    ++upPackets;
                }
            } else {
                std::this_thread::sleep_for(100us);
            }
        }
    });
    // The stream, from the peer: keeps fromPeer full of 10,240-byte packets.
    std::thread feeder([&] {
        if (!down)
            return;
        std::vector<unsigned char> packet(A2A_HEADER_SIZE + A2A_MAX_PAYLOAD, 'd');
        A2aPacketHeader h = makeA2aHeader();
        h.kind = KIND_DATA;
        h.port = static_cast<uint16_t>(port);
        h.payloadSize = A2A_MAX_PAYLOAD;
        writeA2aHeader(packet.data(), h);
        while (!stop) {
            if (s.fromPeer->enqEntry(static_cast<uint32_t>(packet.size()), packet.data()) != 1)
                std::this_thread::sleep_for(100us);
        }
    });

    std::this_thread::sleep_for(1s); // warm-up: queues and buffers fill
    counting = true;
    auto start = Clock::now();
    std::this_thread::sleep_for(duration);
    counting = false;
    double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    stop = true;

    s.stopThread();
    closesocket(c);
    writer.join();
    reader.join();
    drainer.join();
    feeder.join();
    s.teardown();

    out->upBytesPerSecond = static_cast<double>(upBytes.load()) / seconds;
    out->upPacketsPerSecond = static_cast<double>(upPackets.load()) / seconds;
    out->downBytesPerSecond = static_cast<double>(downBytes.load()) / seconds;
    return true;
}

void report(const char* what, double bytesPerSecond)
{
    std::printf("  %-34s %10.0f bytes/s   ratio to 512,000: %.3f\n", what, bytesPerSecond,
                bytesPerSecond / kLimit);
}

void reportPackets(double packetsPerSecond, double bytesPerSecond)
{
    std::printf("  %-34s %10.1f packets/s (50 at most), %.0f bytes each on average\n", "",
                packetsPerSecond, packetsPerSecond > 0 ? bytesPerSecond / packetsPerSecond : 0.0);
}

} // namespace

int main(int argc, char** argv)
{
    int seconds = argc > 1 ? std::atoi(argv[1]) : 10;
    if (seconds <= 0)
        seconds = 10;
    setTraceEnabled(false);
    WSADATA data;
    if (WSAStartup(MAKEWORD(2, 0), &data) != 0) {
        std::fprintf(stderr, "sockets layer did not start\n");
        return 1;
    }
    std::printf("one relayed connection, %d s per measurement after 1 s warm-up\n", seconds);
    Result r;
    if (!measure(true, false, std::chrono::seconds(seconds), &r))
        return 1;
    report("local program -> peer (alone)", r.upBytesPerSecond);
    reportPackets(r.upPacketsPerSecond, r.upBytesPerSecond);
    if (!measure(false, true, std::chrono::seconds(seconds), &r))
        return 1;
    report("peer -> local program (alone)", r.downBytesPerSecond);
    if (!measure(true, true, std::chrono::seconds(seconds), &r))
        return 1;
    report("local program -> peer (both ways)", r.upBytesPerSecond);
    reportPackets(r.upPacketsPerSecond, r.upBytesPerSecond);
    report("peer -> local program (both ways)", r.downBytesPerSecond);
    WSACleanup();
    return 0;
}
