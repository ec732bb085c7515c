// The helper process of the window-message tests: windows in another process.
//   winmsg_peer serve <top-level windows> <child windows>
//       prints "READY <hwnd>..." (top-level first, then children), serves until kQuit
//   winmsg_peer register <name>...      prints "ID <name> <id>" for each name
//   winmsg_peer mutex <name> probe|hold prints "MUTEX OWNER|EXISTS|ERROR <n>"; hold keeps
//                                       the lock until standard input ends
//   winmsg_peer foreign-connect <socket> <hwnd>
//       as user 65534: connects to the socket, posts kSeq to the window, prints
//       "CLOSED" when the other end hangs up, "OPEN" when it keeps the connection
#include "platform/namedmutex.h"
#include "platform/trace.h"
#include "platform/winmsg_wire.h"
#include "platform/winuser.h"
#include "winmsg_protocol.h"

#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <string>
#include <sys/socket.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace peer;

namespace {

int insideSend = 0;
UINT broadcastMessage = 0;
std::map<uint32_t, uint32_t> expected; // per stream
uint32_t seqCount = 0;
uint32_t seqOutOfOrder = 0;

LRESULT sendCounted(HWND to, UINT m, WPARAM wp, LPARAM lp)
{
    ++insideSend;
    LRESULT r = SendMessageA(to, m, wp, lp);
    --insideSend;
    return r;
}

LRESULT peerProc(HWND self, UINT m, WPARAM wp, LPARAM lp)
{
    if (broadcastMessage && m == broadcastMessage) {
        std::printf("BROADCAST %" PRIxPTR "\n", reinterpret_cast<uintptr_t>(self));
        std::fflush(stdout);
        PostMessageA(reinterpret_cast<HWND>(wp), kPong, 0, reinterpret_cast<LPARAM>(self));
        return 1;
    }
    switch (m) {
    case kAdd:
        return static_cast<LRESULT>(wp) + lp;
    case kPostBack:
        for (LPARAM i = 0; i < lp; ++i)
            PostMessageA(reinterpret_cast<HWND>(wp), kSeq, static_cast<WPARAM>(i),
                         reinterpret_cast<LPARAM>(self));
        return 1;
    case kSendBack: {
        LRESULT sum = 0;
        for (LPARAM i = 0; i < lp; ++i)
            sum += sendCounted(reinterpret_cast<HWND>(wp), kAdd, static_cast<WPARAM>(i), 1);
        return sum;
    }
    case kSleep:
        std::this_thread::sleep_for(std::chrono::milliseconds(lp));
        return 77;
    case kExitNow:
        std::fflush(stdout);
        _exit(3);
    case kArm: {
        using namespace std::chrono;
        while (duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count() < lp) {
        }
        LRESULT r = sendCounted(reinterpret_cast<HWND>(wp), kPing, reinterpret_cast<WPARAM>(self), 0);
        PostMessageA(reinterpret_cast<HWND>(wp), kArmDone, static_cast<WPARAM>(r),
                     reinterpret_cast<LPARAM>(self));
        return 0;
    }
    case kPing:
        return 500 + (insideSend > 0 ? 1 : 0);
    case kQuit:
        PostQuitMessage(0);
        return 0;
    case kSeq: {
        uint32_t stream = static_cast<uint32_t>(wp >> 24);
        uint32_t number = static_cast<uint32_t>(wp & 0xffffff);
        uint32_t& next = expected[stream];
        if (number != next)
            ++seqOutOfOrder;
        next = number + 1;
        ++seqCount;
        return 0;
    }
    case kSeqCheck:
        PostMessageA(reinterpret_cast<HWND>(wp), kSeqResult, seqCount, seqOutOfOrder);
        return 0;
    case kSendBackCopy: {
        std::vector<char> data(static_cast<size_t>(lp));
        for (size_t i = 0; i < data.size(); ++i)
            data[i] = static_cast<char>(i * 7 + 3);
        COPYDATASTRUCT cds{0x5151, static_cast<DWORD>(data.size()), data.data()};
        return sendCounted(reinterpret_cast<HWND>(wp), WM_COPYDATA, reinterpret_cast<WPARAM>(self),
                           reinterpret_cast<LPARAM>(&cds));
    }
    case WM_COPYDATA: {
        auto* cds = reinterpret_cast<const COPYDATASTRUCT*>(lp);
        if (cds->dwData == kEchoTag) {
            COPYDATASTRUCT back{cds->dwData + 1, cds->cbData, cds->lpData};
            return sendCounted(reinterpret_cast<HWND>(wp), WM_COPYDATA,
                               reinterpret_cast<WPARAM>(self), reinterpret_cast<LPARAM>(&back)) +
                   1;
        }
        return copyDataDigest(reinterpret_cast<HWND>(wp), *cds);
    }
    default:
        return DefWindowProcA(self, m, wp, lp);
    }
}

int serve(int argc, char** argv)
{
    if (argc < 4)
        return 2;
    int tops = std::atoi(argv[2]);
    int children = std::atoi(argv[3]);
    broadcastMessage = RegisterWindowMessageA(kBroadcastName);
    WNDCLASSA wc{};
    wc.lpfnWndProc = peerProc;
    wc.lpszClassName = "WINMSGPEER";
    RegisterClassA(&wc);
    std::string line = "READY";
    HWND first = nullptr;
    char buf[32];
    for (int i = 0; i < tops; ++i) {
        HWND w = CreateWindowExA(0, "WINMSGPEER", nullptr, WS_SYSMENU, 0, 0, 0, 0, nullptr,
                                 nullptr, nullptr, nullptr);
        if (!first)
            first = w;
        std::snprintf(buf, sizeof buf, " %" PRIxPTR, reinterpret_cast<uintptr_t>(w));
        line += buf;
    }
    for (int i = 0; i < children; ++i) {
        HWND w = CreateWindowExA(0, "WINMSGPEER", nullptr, WS_CHILD, 0, 0, 0, 0, first, nullptr,
                                 nullptr, nullptr);
        std::snprintf(buf, sizeof buf, " %" PRIxPTR, reinterpret_cast<uintptr_t>(w));
        line += buf;
    }
    std::printf("%s\n", line.c_str());
    std::fflush(stdout);
    int code = RunMessageLoop();
    std::printf("EXIT %d\n", code);
    return 0;
}

int registerNames(int argc, char** argv)
{
    for (int i = 2; i < argc; ++i)
        std::printf("ID %s %x\n", argv[i], RegisterWindowMessageA(argv[i]));
    return 0;
}

int mutex(int argc, char** argv)
{
    if (argc < 4)
        return 2;
    HANDLE h = CreateMutexA(nullptr, TRUE, argv[2]);
    DWORD error = GetLastError();
    if (!h)
        std::printf("MUTEX ERROR %u\n", error);
    else
        std::printf("MUTEX %s\n", error == ERROR_ALREADY_EXISTS ? "EXISTS" : "OWNER");
    std::fflush(stdout);
    if (std::strcmp(argv[3], "hold") == 0) {
        char c;
        while (read(0, &c, 1) > 0) {
        }
    }
    return 0;
}

int foreignConnect(int argc, char** argv)
{
    if (argc < 4)
        return 2;
    if (setgid(65534) != 0 || setuid(65534) != 0) {
        std::printf("NOSETUID\n");
        return 1;
    }
    prctl(PR_SET_PDEATHSIG, SIGKILL); // a change of user clears it
    int fd = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::snprintf(addr.sun_path, sizeof addr.sun_path, "%s", argv[2]);
    if (connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        std::printf("CONNECT-FAILED %d\n", errno);
        return 0;
    }
    winmsg::FrameHeader h{};
    h.magic = winmsg::kFrameMagic;
    h.kind = winmsg::FramePost;
    h.window = std::strtoull(argv[3], nullptr, 16);
    h.message = kSeq;
    ssize_t n = send(fd, &h, sizeof h, MSG_NOSIGNAL);
    (void)n;
    pollfd p{fd, POLLIN, 0};
    int r = poll(&p, 1, 20000);
    char c;
    if (r == 1 && recv(fd, &c, 1, 0) <= 0)
        std::printf("CLOSED\n");
    else
        std::printf("OPEN\n");
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 2)
        return 2;
    std::string mode = argv[1];
    // Ends with the test that started it, even when that one crashes.
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (mode == "foreign-connect")
        return foreignConnect(argc, argv);
    setTraceEnabled(std::getenv("WINMSG_PEER_TRACE") != nullptr);
    InitPlatform(argc, argv);
    if (mode == "serve")
        return serve(argc, argv);
    if (mode == "register")
        return registerNames(argc, argv);
    if (mode == "mutex")
        return mutex(argc, argv);
    return 2;
}
