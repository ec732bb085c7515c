// Window-message frames as another process of the desktop sends them: the
// input is written on a connection to this process's own socket, as one byte
// stream, and the connection is then closed. Window fields 1 to 3 (without a
// process part) are turned into this process's three windows (two top-level
// ones, one child), so that frames can reach them. Checked: every sent
// message reaches the procedures that the frame names, with its data whole;
// every posted one likewise once the loop runs; every request that wants an
// answer gets one, in order, with the procedure's result; and the connection
// ends.
#include "fuzzdirectory.h"
#include "platform/trace.h"
#include "platform/winmsg_internal.h"
#include "platform/winmsg_wire.h"
#include "platform/winuser.h"

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

using namespace winmsg;

// A broken promise: named on standard error, then the run stops as on a crash.
void failed(const char* what, int line)
{
    std::fprintf(stderr, "fuzz check failed (line %d): %s\n", line, what);
    std::abort();
}
#define check(condition) ((condition) ? (void)0 : failed(#condition, __LINE__))

struct Delivery {
    HWND window;
    UINT message;
    uint64_t wParam;
    int64_t lParam;    // for WM_COPYDATA: 0
    uint64_t dwData;   // WM_COPYDATA only
    std::string data;  // WM_COPYDATA only
    bool operator==(const Delivery&) const = default;
};

// What the procedures heard, sent and posted messages together (the posted
// ones run whenever the loop takes them, between the frames).
std::vector<Delivery> seen;
HWND windows[3];     // top-level, top-level, child
bool windowsMade = false;

uint64_t resultFor(UINT message, WPARAM wParam) { return (message ^ wParam) + 7; }

LRESULT procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (!windowsMade) // their creation
        return DefWindowProcA(window, message, wParam, lParam);
    Delivery d{window, message, wParam, lParam, 0, {}};
    if (message == WM_COPYDATA) {
        const auto* cds = reinterpret_cast<const COPYDATASTRUCT*>(lParam);
        check(cds != nullptr);
        check(cds->cbData == 0 || cds->lpData != nullptr);
        d.lParam = 0;
        d.dwData = cds->dwData;
        d.data.assign(static_cast<const char*>(cds->lpData), cds->cbData); // every byte read
    }
    seen.push_back(d);
    return static_cast<LRESULT>(resultFor(message, wParam));
}

std::string ownSocket;

bool ours(HWND w)
{
    for (HWND o : windows)
        if (o == w)
            return true;
    return false;
}

struct Expected {
    std::vector<Delivery> sent;
    std::vector<Delivery> posted;
    std::vector<FrameHeader> replies;
};

Delivery deliveryOf(HWND w, const FrameHeader& h, const char* data)
{
    Delivery d{w, h.message, h.wParam, h.lParam, 0, {}};
    if (h.message == WM_COPYDATA) {
        d.lParam = 0;
        if (h.flags & FrameHasCopyData) {
            d.dwData = h.dwData;
            d.data.assign(data, h.dataSize);
        }
    }
    return d;
}

// Gives the window fields 1-3 this process's windows; works out what the
// frames must bring about, up to the first frame that is not whole or bad.
Expected prepare(std::vector<char>& bytes)
{
    Expected e;
    size_t at = 0;
    while (bytes.size() - at >= sizeof(FrameHeader)) {
        FrameHeader h;
        std::memcpy(&h, bytes.data() + at, sizeof h);
        if (h.window >= 1 && h.window <= 3) {
            h.window = reinterpret_cast<uintptr_t>(windows[h.window - 1]);
            std::memcpy(bytes.data() + at, &h, sizeof h);
        }
        if (h.magic != kFrameMagic || h.kind < FramePost || h.kind > FrameIsWindow ||
            h.dataSize > kMaxFrameData || bytes.size() - at - sizeof h < h.dataSize)
            break;
        const char* data = bytes.data() + at + sizeof h;
        HWND w = reinterpret_cast<HWND>(static_cast<uintptr_t>(h.window));
        FrameHeader r{};
        r.magic = kFrameMagic;
        r.kind = FrameReply;
        r.id = h.id;
        switch (h.kind) {
        case FramePost:
            if (h.message != WM_COPYDATA && ours(w))
                e.posted.push_back(deliveryOf(w, h, data));
            break;
        case FramePostBroadcast:
            if (h.message != WM_COPYDATA)
                for (int i = 0; i < 2; ++i)
                    e.posted.push_back(deliveryOf(windows[i], h, data));
            break;
        case FrameSend:
            if (ours(w)) {
                e.sent.push_back(deliveryOf(w, h, data));
                r.flags = ReplyDone;
                r.lParam = static_cast<int64_t>(resultFor(h.message, h.wParam));
            } else {
                r.flags = ReplyNoWindow;
            }
            e.replies.push_back(r);
            break;
        case FrameSendBroadcast:
            for (int i = 0; i < 2; ++i)
                e.sent.push_back(deliveryOf(windows[i], h, data));
            r.flags = ReplyDone;
            r.lParam = 1;
            e.replies.push_back(r);
            break;
        case FrameIsWindow:
            r.flags = ours(w) ? ReplyDone : ReplyNoWindow;
            e.replies.push_back(r);
            break;
        }
        at += sizeof h + h.dataSize;
    }
    return e;
}

// Whether `all` is `a` and `b` merged, each in its own order.
bool interleaves(const std::vector<Delivery>& all, const std::vector<Delivery>& a,
                 const std::vector<Delivery>& b)
{
    if (all.size() != a.size() + b.size())
        return false;
    // can[j]: the first i + j deliveries are a[0..i) and b[0..j) merged.
    std::vector<char> can(b.size() + 1, 0);
    for (size_t i = 0; i <= a.size(); ++i) {
        for (size_t j = 0; j <= b.size(); ++j) {
            if (i == 0 && j == 0) {
                can[0] = 1;
                continue;
            }
            const Delivery& d = all[i + j - 1];
            bool fromA = i > 0 && can[j] && a[i - 1] == d;
            bool fromB = j > 0 && can[j - 1] && b[j - 1] == d;
            can[j] = fromA || fromB;
        }
    }
    return can[b.size()] != 0;
}

void readReplies(int fd, std::string& replies, bool& ended)
{
    char buffer[65536];
    for (;;) {
        ssize_t n = ::recv(fd, buffer, sizeof buffer, MSG_DONTWAIT);
        if (n > 0) {
            replies.append(buffer, static_cast<size_t>(n));
            continue;
        }
        if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR))
            ended = true;
        return;
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    const std::string desktop = makeFuzzDirectory("/tmp", "winmsg") + "/desktop";
    setenv("ZORVANE_DESKTOP", desktop.c_str(), 1);
    if (std::getenv("ZORVANE_FUZZ_TRACE") == nullptr)
        setTraceEnabled(false);
    static int argc = 1;
    static char name[] = "fuzz_winmsg";
    static char* argv[] = {name, nullptr};
    InitPlatform(argc, argv);
    WNDCLASSA windowClass{};
    windowClass.lpfnWndProc = procedure;
    windowClass.lpszClassName = "FUZZWINDOW";
    check(RegisterClassA(&windowClass) != 0);
    windows[0] = CreateWindowExA(0, "FUZZWINDOW", nullptr, 0, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr);
    windows[1] = CreateWindowExA(0, "FUZZWINDOW", nullptr, 0, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr);
    windows[2] = CreateWindowExA(0, "FUZZWINDOW", nullptr, WS_CHILD, 0, 0, 0, 0, windows[0], nullptr, nullptr,
                                 nullptr);
    check(windows[0] && windows[1] && windows[2]);
    windowsMade = true;
    ownSocket = socketPathFor(ownPid());
    check(access(ownSocket.c_str(), F_OK) == 0);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::vector<char> bytes(reinterpret_cast<const char*>(data), reinterpret_cast<const char*>(data) + size);
    Expected expected = prepare(bytes);
    PumpMessages(0);
    seen.clear();

    int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    check(fd >= 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::memcpy(addr.sun_path, ownSocket.c_str(), ownSocket.size() + 1);
    check(::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0);
    check(fcntl(fd, F_SETFL, O_NONBLOCK) == 0);

    std::string replies;
    bool ended = false;
    size_t written = 0;
    bool shut = false;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!ended) {
        check(std::chrono::steady_clock::now() < deadline); // the connection must end
        if (written < bytes.size()) {
            ssize_t n = ::send(fd, bytes.data() + written, bytes.size() - written, MSG_NOSIGNAL);
            if (n > 0)
                written += static_cast<size_t>(n);
            else
                check(errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR);
        } else if (!shut) {
            ::shutdown(fd, SHUT_WR);
            shut = true;
        }
        PumpMessages(1);
        readReplies(fd, replies, ended);
    }
    ::close(fd);
    PumpMessages(0); // the posted messages

    check(interleaves(seen, expected.sent, expected.posted));
    check(replies.size() == expected.replies.size() * sizeof(FrameHeader));
    for (size_t i = 0; i < expected.replies.size(); ++i) {
        FrameHeader r;
        std::memcpy(&r, replies.data() + i * sizeof r, sizeof r);
        const FrameHeader& x = expected.replies[i];
        check(r.magic == x.magic && r.kind == x.kind && r.id == x.id && r.flags == x.flags);
        if (x.flags == ReplyDone)
            check(r.lParam == x.lParam);
    }
    return 0;
}
