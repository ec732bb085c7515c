#pragma once
// Shared pieces of the relay tests: settings, the event log with a line
// collector, a temporary program directory, and the test's own end of the
// socket queues (it plays the stream).
#include "foundation/eventlog.h"
#include "foundation/que.h"
#include "platform/trace.h"
#include "platform/winsock.h"
#include "relay/a2apacket.h"
#include "relay/sockettcp.h"
#include "support/testpropaty.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace relaytest {

using namespace std::chrono_literals;

// Collects the event texts (the part after "hh:mm:ss:EV:").
class LogCollector : public QK_EVENTLOGLISTENER {
public:
    void notifyLogLine(const char* line) override
    {
        std::string s(line);
        const std::string marker = ":EV:";
        size_t at = s.find(marker);
        std::lock_guard<std::mutex> lock(mutex_);
        texts_.push_back(at == std::string::npos ? s : s.substr(at + marker.size()));
    }
    std::vector<std::string> texts()
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return texts_;
    }
    void clear()
    {
        std::lock_guard<std::mutex> lock(mutex_);
        texts_.clear();
    }

private:
    std::mutex mutex_;
    std::vector<std::string> texts_;
};

inline std::string packetText(const A2aPacketHeader& h)
{
    return "kind=" + std::to_string(h.kind) + " code=" + std::to_string(h.code) +
           " port=" + std::to_string(h.port) + " rep=" + std::to_string(h.repCode) +
           " err=" + std::to_string(h.errorCode) + " payload=" + std::to_string(h.payloadSize);
}

// Waits until pred() holds, at most limit; false on time-out.
inline bool waitUntil(const std::function<bool()>& pred, std::chrono::milliseconds limit = 10s)
{
    auto end = std::chrono::steady_clock::now() + limit;
    while (!pred()) {
        if (std::chrono::steady_clock::now() > end)
            return false;
        std::this_thread::sleep_for(2ms);
    }
    return true;
}

// One packet taken from a queue, the whole slot kept.
struct Taken {
    A2aPacketHeader header{};
    std::vector<unsigned char> slot;
    const unsigned char* payload() const { return slot.data() + A2A_HEADER_SIZE; }
};

// Takes the next packet from q, waiting at most limit.
inline bool takePacket(QK_QUE& q, Taken* out, std::chrono::milliseconds limit = 10s)
{
    out->slot.assign(QUE_ENTRY_SIZE, 0);
    bool got = waitUntil([&] { return q.deqEntry(out->slot.data()) == 1; }, limit);
    if (got)
        out->header = readA2aHeader(out->slot.data());
    return got;
}

inline void putControl(QK_QUE& q, uint16_t kind, uint16_t code, uint16_t port)
{
    A2aPacketHeader h = makeA2aHeader();
    h.kind = kind;
    h.code = code;
    h.port = port;
    ASSERT_EQ(q.enqEntry(A2A_HEADER_SIZE, &h), 1);
}

// Queues a data packet, waiting for room.
inline bool putData(QK_QUE& q, uint16_t kind, const unsigned char* data, size_t n,
                    std::chrono::milliseconds limit = 30s)
{
    std::vector<unsigned char> packet(A2A_HEADER_SIZE + n);
    A2aPacketHeader h = makeA2aHeader();
    h.kind = kind;
    h.payloadSize = static_cast<uint16_t>(n);
    writeA2aHeader(packet.data(), h);
    if (n > 0)
        std::memcpy(packet.data() + A2A_HEADER_SIZE, data, n);
    return waitUntil(
        [&] { return q.enqEntry(static_cast<uint32_t>(packet.size()), packet.data()) == 1; },
        limit);
}

inline std::vector<unsigned char> randomBytes(size_t n, unsigned seed)
{
    std::mt19937 gen(seed);
    std::vector<unsigned char> v(n);
    for (auto& b : v)
        b = static_cast<unsigned char>(gen());
    return v;
}

// FNV-1a, 64 bits.
inline uint64_t hashOf(const unsigned char* p, size_t n)
{
    uint64_t h = 1469598103934665603ull;
    for (size_t i = 0; i < n; ++i) {
        h ^= p[i];
        h *= 1099511628211ull;
    }
    return h;
}
inline uint64_t hashOf(const std::vector<unsigned char>& v) { return hashOf(v.data(), v.size()); }

inline sockaddr_in loopbackAddress(int port)
{
    sockaddr_in a;
    std::memset(&a, 0, sizeof a);
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<u_short>(port));
    a.sin_addr.s_addr = inet_addr("127.0.0.1");
    return a;
}

// A port that was free a moment ago.
inline int freePort()
{
    SOCKET s = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a = loopbackAddress(0);
    bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a);
    int len = sizeof a;
    getsockname(s, reinterpret_cast<sockaddr*>(&a), &len);
    closesocket(s);
    return ntohs(a.sin_port);
}

// A connected client socket of the test, or INVALID_SOCKET.
inline SOCKET connectLocal(int port, const char* address = "127.0.0.1")
{
    SOCKET s = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a = loopbackAddress(port);
    a.sin_addr.s_addr = inet_addr(address);
    if (connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == SOCKET_ERROR) {
        closesocket(s);
        return INVALID_SOCKET;
    }
    return s;
}

// A test listener on 127.0.0.1 and a system-chosen port.
inline SOCKET listenLocal(int* port)
{
    SOCKET s = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a = loopbackAddress(0);
    bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a);
    listen(s, 8);
    int len = sizeof a;
    getsockname(s, reinterpret_cast<sockaddr*>(&a), &len);
    *port = ntohs(a.sin_port);
    return s;
}

// Reads everything until the other end closes (or an error).
inline std::vector<unsigned char> readAll(SOCKET s)
{
    std::vector<unsigned char> out;
    char buf[65536];
    for (;;) {
        int n = recv(s, buf, sizeof buf, 0);
        if (n <= 0)
            break;
        out.insert(out.end(), buf, buf + n);
    }
    return out;
}

// Reads n bytes, fewer when the other end closes first (or an error).
inline std::vector<unsigned char> readExactly(SOCKET s, size_t n)
{
    std::vector<unsigned char> out(n);
    size_t have = 0;
    while (have < n) {
        int got =
            recv(s, reinterpret_cast<char*>(out.data()) + have, static_cast<int>(n - have), 0);
        if (got <= 0)
            break;
        have += static_cast<size_t>(got);
    }
    out.resize(have);
    return out;
}

inline bool sendAll(SOCKET s, const std::vector<unsigned char>& data)
{
    return send(s, reinterpret_cast<const char*>(data.data()), static_cast<int>(data.size()), 0) ==
           static_cast<int>(data.size());
}

// Settings in a temporary program directory, the socket layer started, the
// event log enabled with a collector.
class RelayTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        setTraceEnabled(std::getenv("ZORVANE_TRACE") != nullptr);
        WSADATA data;
        ASSERT_EQ(WSAStartup(MAKEWORD(2, 0), &data), 0);
        auto base = std::filesystem::temp_directory_path();
        std::random_device rd;
        dir_ = base / ("relaytest-" + std::to_string(rd()) + "-" + std::to_string(rd()));
        std::filesystem::create_directories(dir_);
        propaty_ = std::make_unique<TestPropaty>();
        propaty_->appMode = 1;
        propaty_->directory = dir_.string();
        propaty_->iniPath = (dir_ / "ZorvaneForTcp.ini").string();
        QK_EVENTLOG* log = QK_EVENTLOG::getInstance();
        log->enabled = 1;
        log->addListener(&logLines_);
    }

    void TearDown() override
    {
        delete QK_EVENTLOG::instance;
        QK_EVENTLOG::instance = nullptr;
        propaty_.reset();
        std::error_code ignored;
        std::filesystem::remove_all(dir_, ignored);
        WSACleanup();
    }

    std::vector<std::string> logTexts() { return logLines_.texts(); }

    std::unique_ptr<TestPropaty> propaty_;
    LogCollector logLines_;
    std::filesystem::path dir_;
};

} // namespace relaytest
