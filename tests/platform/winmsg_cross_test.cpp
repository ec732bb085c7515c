// Window messages between processes: the test process and winmsg_peer children
// in one desktop directory (and a second desktop for the broadcast scope).
#include "platform/desktop.h"
#include "platform/winmsg_internal.h"
#include "platform/winmsg_wire.h"
#include "platform/winuser.h"
#include "winmsg_protocol.h"
#include "winmsg_support.h"
#include "winmsg_testwindow.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <set>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

using namespace winmsgtest;
using namespace peer;

namespace {

constexpr int kLong = 30000; // generous bound against hangs only

HWND handleOf(LPARAM lp) { return reinterpret_cast<HWND>(lp); }
WPARAM asWParam(HWND w) { return reinterpret_cast<WPARAM>(w); }

[[maybe_unused]] int64_t steadyMs()
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

[[maybe_unused]] bool fileExists(const std::string& path)
{
    struct stat st{};
    return lstat(path.c_str(), &st) == 0;
}

} // namespace

TEST(WinmsgCross, SendReturnsTheReceiversResult)
{
    Child child({"serve", "2", "0"});
    auto windows = child.ready();
    ASSERT_EQ(windows.size(), 2u);
    EXPECT_NE(winmsg::handlePid(windows[0]), winmsg::handlePid(nullptr));
    EXPECT_EQ(winmsg::handlePid(windows[0]), static_cast<uint32_t>(child.pid()));

    struct Case {
        WPARAM wParam;
        LPARAM lParam;
    };
    const Case cases[] = {{0, 0}, {1, 2}, {40, -41}, {0x7fffffff00000000ull, 5}, {3, -1000000}};
    for (HWND w : windows)
        for (const Case& c : cases)
            EXPECT_EQ(SendMessageA(w, kAdd, c.wParam, c.lParam),
                      static_cast<LRESULT>(c.wParam) + c.lParam);

    EXPECT_TRUE(IsWindow(windows[0]));
    // A window number that the live process never had: 0 at once.
    HWND missing = reinterpret_cast<HWND>(reinterpret_cast<uintptr_t>(windows[0]) ^ 0x5a5a5a);
    SetLastError(0);
    EXPECT_EQ(SendMessageA(missing, kAdd, 1, 1), 0);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_WINDOW_HANDLE);
    EXPECT_FALSE(IsWindow(missing));

    SendMessageA(windows[0], kQuit, 0, 0);
    EXPECT_EQ(child.readLine(), "EXIT 0");
    EXPECT_EQ(child.wait(), 0);
}

TEST(WinmsgCross, PostsArriveInOrderBothWays)
{
    Child child({"serve", "1", "0"});
    auto windows = child.ready();
    ASSERT_EQ(windows.size(), 1u);
    TestWindow own;

    constexpr int kCount = 3000;
    for (int i = 0; i < kCount; ++i)
        ASSERT_TRUE(PostMessageA(windows[0], kSeq, static_cast<WPARAM>(i), 0));
    ASSERT_TRUE(PostMessageA(windows[0], kSeqCheck, asWParam(own.handle()), 0));
    ASSERT_TRUE(PumpMessages(kLong, [&] { return own.count(kSeqResult) == 1; }));
    auto& result = own.received.back();
    EXPECT_EQ(result.wParam, static_cast<WPARAM>(kCount));
    EXPECT_EQ(result.lParam, 0) << "posts out of order";

    // The other way: the child posts from inside a sent message.
    EXPECT_EQ(SendMessageA(windows[0], kPostBack, asWParam(own.handle()), kCount), 1);
    ASSERT_TRUE(PumpMessages(kLong, [&] { return own.count(kSeq) == kCount; }));
    WPARAM next = 0;
    for (auto& r : own.received) {
        if (r.message == kSeq) {
            EXPECT_EQ(r.wParam, next++);
            EXPECT_EQ(handleOf(r.lParam), windows[0]);
        }
    }
}

TEST(WinmsgCross, CopyDataArrivesUnchanged)
{
    Child child({"serve", "1", "0"});
    auto windows = child.ready();
    ASSERT_EQ(windows.size(), 1u);
    TestWindow own;

    struct Case {
        const char* what;
        size_t size;
        ULONG_PTR dwData;
    };
    const Case cases[] = {
        {"empty", 0, 0},
        {"one byte", 1, 7},
        {"a command with its terminator", 40, 0},
        {"a 21 kB hex text", 21000, 0},
        {"larger than a socket buffer", 700000, 0xfeedfacecafebeefull},
    };
    for (const Case& c : cases) {
        std::string data(c.size, '\0');
        for (size_t i = 0; i < c.size; ++i)
            data[i] = static_cast<char>((i * 131 + 17) & 0xff); // NULs included
        COPYDATASTRUCT cds{c.dwData, static_cast<DWORD>(data.size()), data.data()};
        LRESULT expected = copyDataDigest(own.handle(), cds);
        EXPECT_EQ(SendMessageA(windows[0], WM_COPYDATA, asWParam(own.handle()),
                               reinterpret_cast<LPARAM>(&cds)),
                  expected)
            << c.what;
    }

    // And from the child to us: the data, dwData and the sender arrive as sent.
    EXPECT_EQ(SendMessageA(windows[0], kSendBackCopy, asWParam(own.handle()), 25000), 0);
    ASSERT_EQ(own.count(WM_COPYDATA), 1u);
    const Received& r = own.received.back();
    EXPECT_EQ(r.wParam, asWParam(windows[0]));
    EXPECT_EQ(r.dwData, 0x5151u);
    ASSERT_EQ(r.data.size(), 25000u);
    for (size_t i = 0; i < r.data.size(); ++i)
        ASSERT_EQ(r.data[i], static_cast<char>(i * 7 + 3)) << i;

    // WM_COPYDATA cannot be posted: its data would not outlive the call.
    COPYDATASTRUCT cds{1, 3, const_cast<char*>("ab")};
    EXPECT_FALSE(PostMessageA(windows[0], WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&cds)));
    EXPECT_EQ(GetLastError(), ERROR_MESSAGE_SYNC_ONLY);
}
