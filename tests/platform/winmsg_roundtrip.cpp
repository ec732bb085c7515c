// Measures cross-process SendMessageA round trips (run by hand, not a test):
//   winmsg_roundtrip [count]
// A WM_COPYDATA of a 21,000-byte hex text (the tunnel's largest command), a
// 60-byte command and a plain message, each `count` times to a window of a
// winmsg_peer child in a fresh desktop; prints median, 90th and 99th percentile.
#include "platform/winuser.h"
#include "winmsg_protocol.h"
#include "winmsg_support.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace {

void report(const char* what, std::vector<double>& us)
{
    std::sort(us.begin(), us.end());
    auto at = [&](double q) { return us[static_cast<size_t>(q * static_cast<double>(us.size() - 1))]; };
    std::printf("%-28s n=%zu  median %.1f us  p90 %.1f us  p99 %.1f us\n", what, us.size(), at(0.5),
                at(0.9), at(0.99));
}

} // namespace

int main(int argc, char** argv)
{
    int count = argc > 1 ? std::atoi(argv[1]) : 5000;
    std::string desktop = winmsgtest::makeTempDir("roundtrip");
    setenv("ZORVANE_DESKTOP", desktop.c_str(), 1);
    winmsgtest::ownDesktop = desktop;
    InitPlatform(argc, argv);
    int status = 1;
    {
        winmsgtest::Child child({"serve", "1", "0"});
        auto windows = child.ready();
        if (windows.size() != 1) {
            std::fprintf(stderr, "no helper window\n");
            return 1;
        }
        HWND target = windows[0];
        std::string hex(21000, '0');
        for (size_t i = 0; i < hex.size(); ++i)
            hex[i] = "0123456789ABCDEF"[(i * 7) & 15];
        std::string command = "ALTER APPLICATION zorvane0 WRITE bob:1 " + std::string(20, 'A');
        auto timeSends = [&](const char* what, UINT message, LPARAM lParam) {
            std::vector<double> us;
            us.reserve(static_cast<size_t>(count));
            for (int i = 0; i < count + 100; ++i) {
                auto t0 = std::chrono::steady_clock::now();
                LRESULT r = SendMessageA(target, message, 0, lParam);
                auto t1 = std::chrono::steady_clock::now();
                if (r == 0 && message != WM_COPYDATA) {
                    std::fprintf(stderr, "send failed\n");
                    std::exit(1);
                }
                if (i >= 100) // the first ones warm up
                    us.push_back(std::chrono::duration<double, std::micro>(t1 - t0).count());
            }
            report(what, us);
        };
        COPYDATASTRUCT big{0, static_cast<DWORD>(hex.size() + 1), hex.data()};
        COPYDATASTRUCT small{0, static_cast<DWORD>(command.size() + 1), command.data()};
        timeSends("WM_COPYDATA 21,001 bytes", WM_COPYDATA, reinterpret_cast<LPARAM>(&big));
        timeSends("WM_COPYDATA command", WM_COPYDATA, reinterpret_cast<LPARAM>(&small));
        timeSends("plain message", peer::kAdd, 1);
        SendMessageA(target, peer::kQuit, 0, 0);
        child.wait();
        status = 0;
    }
    for (auto& dir : winmsgtest::tempDirectories()) {
        std::error_code ec;
        std::filesystem::remove_all(dir, ec);
    }
    return status;
}
