// Memory of a window-message receiver under a hostile peer (run by hand):
//   winmsg_flood [connections] [announced MiB]
// A child process of the same user opens `connections` connections (20) to
// this process's socket; on each it announces one WM_COPYDATA frame of the
// given size (64 MiB, cut to the largest frame the layer takes) and sends all
// of it but its last byte. The receiver runs its loop meanwhile; printed: its
// resident memory before and after, its peak, and how many connections it
// closed.
#include "platform/winmsg_internal.h"
#include "platform/winmsg_wire.h"
#include "platform/winuser.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

long statusKb(const char* field)
{
    std::ifstream in("/proc/self/status");
    std::string line;
    while (std::getline(in, line))
        if (line.rfind(field, 0) == 0)
            return std::atol(line.c_str() + std::strlen(field));
    return -1;
}

LRESULT quietProc(HWND w, UINT m, WPARAM wp, LPARAM lp)
{
    return DefWindowProcA(w, m, wp, lp);
}

// The hostile peer: writes "closed <n>\n" to report when it is done.
[[noreturn]] void flood(const std::string& path, int count, uint32_t size, int report)
{
    std::vector<int> fds;
    std::vector<size_t> left;
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
    for (int i = 0; i < count; ++i) {
        int fd = socket(AF_UNIX, SOCK_STREAM, 0);
        if (fd < 0 || connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0)
            _exit(2);
        winmsg::FrameHeader h{};
        h.magic = winmsg::kFrameMagic;
        h.kind = winmsg::FrameSend;
        h.id = 1;
        h.message = WM_COPYDATA;
        h.flags = winmsg::FrameHasCopyData;
        h.dataSize = size;
        if (send(fd, &h, sizeof h, MSG_NOSIGNAL) != static_cast<ssize_t>(sizeof h))
            _exit(3);
        fcntl(fd, F_SETFL, O_NONBLOCK);
        fds.push_back(fd);
        left.push_back(size - 1);
    }
    std::vector<char> chunk(256 * 1024, 'x');
    int closed = 0;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    for (;;) {
        bool busy = false;
        for (size_t i = 0; i < fds.size(); ++i) {
            if (fds[i] < 0 || left[i] == 0)
                continue;
            busy = true;
            ssize_t n = send(fds[i], chunk.data(), std::min(chunk.size(), left[i]), MSG_NOSIGNAL);
            if (n > 0) {
                left[i] -= static_cast<size_t>(n);
            } else if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
                close(fds[i]);
                fds[i] = -1;
                ++closed;
            }
        }
        if (!busy || std::chrono::steady_clock::now() > deadline)
            break;
        usleep(200);
    }
    // Connections the receiver closed while nothing more was to be sent.
    for (int& fd : fds) {
        if (fd < 0)
            continue;
        pollfd p{fd, POLLIN, 0};
        char byte;
        if (poll(&p, 1, 200) > 0 && recv(fd, &byte, 1, MSG_DONTWAIT) == 0)
            ++closed;
    }
    std::string line = "closed " + std::to_string(closed) + "\n";
    ssize_t ignored = write(report, line.data(), line.size());
    (void)ignored;
    pause();
    _exit(0);
}

} // namespace

int main(int argc, char** argv)
{
    int count = argc > 1 ? std::atoi(argv[1]) : 20;
    unsigned long mib = argc > 2 ? std::strtoul(argv[2], nullptr, 10) : 64;
    uint32_t size = static_cast<uint32_t>(
        std::min<unsigned long long>(mib * 1024ull * 1024ull, winmsg::kMaxFrameData));
    char templ[] = "/tmp/zorvane-flood-XXXXXX";
    if (!mkdtemp(templ))
        return 1;
    setenv("ZORVANE_DESKTOP", templ, 1);
    InitPlatform(argc, argv);
    WNDCLASSA wc{};
    wc.lpfnWndProc = quietProc;
    wc.lpszClassName = "FLOOD";
    RegisterClassA(&wc);
    HWND window = CreateWindowExA(0, "FLOOD", nullptr, WS_SYSMENU, 0, 0, 0, 0, nullptr, nullptr,
                                  nullptr, nullptr);
    if (!window)
        return 1;
    const std::string path = winmsg::socketPathFor(static_cast<uint32_t>(getpid()));
    PumpMessages(50);
    long before = statusKb("VmRSS:");
    int pipeFds[2];
    if (pipe(pipeFds) != 0)
        return 1;
    pid_t child = fork();
    if (child == 0) {
        close(pipeFds[0]);
        flood(path, count, size, pipeFds[1]);
    }
    close(pipeFds[1]);
    fcntl(pipeFds[0], F_SETFL, O_NONBLOCK);
    std::string reported;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
    while (reported.find('\n') == std::string::npos && std::chrono::steady_clock::now() < deadline) {
        PumpMessages(10);
        char buf[64];
        ssize_t n = read(pipeFds[0], buf, sizeof buf);
        if (n > 0)
            reported.append(buf, static_cast<size_t>(n));
    }
    PumpMessages(200);
    long after = statusKb("VmRSS:");
    long peak = statusKb("VmHWM:");
    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);
    std::printf("%d connections announcing %u bytes each\n", count, size);
    std::printf("receiver RSS before %ld KiB, after %ld KiB, peak %ld KiB\n", before, after, peak);
    std::printf("peer reports: %s", reported.empty() ? "nothing\n" : reported.c_str());
    DestroyWindow(window);
    std::filesystem::remove_all(templ);
    return 0;
}
