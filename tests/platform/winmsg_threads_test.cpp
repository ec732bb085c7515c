// PostMessageA from threads other than the user-interface thread.
#include "platform/winuser.h"
#include "winmsg_protocol.h"
#include "winmsg_support.h"
#include "winmsg_testwindow.h"

#include <gtest/gtest.h>

#include <map>
#include <thread>

using namespace winmsgtest;

TEST(WinmsgThreads, PostsFromManyThreadsArriveWholeAndInOrderPerThread)
{
    Child child({"serve", "1", "0"});
    auto windows = child.ready();
    ASSERT_EQ(windows.size(), 1u);
    TestWindow own;

    constexpr int kThreads = 4;
    constexpr int kEach = 3000;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            // Even threads post to this process's window, odd ones to the child's.
            HWND to = t % 2 == 0 ? own.handle() : windows[0];
            for (int i = 0; i < kEach; ++i)
                EXPECT_TRUE(PostMessageA(to, peer::kSeq,
                                         (static_cast<WPARAM>(t + 1) << 24) | static_cast<WPARAM>(i),
                                         0));
        });
    }
    for (auto& th : threads)
        th.join();
    // Posted from a thread as well, so it leaves after the forwarded posts.
    std::thread([&] {
        EXPECT_TRUE(PostMessageA(windows[0], peer::kSeqCheck,
                                 reinterpret_cast<WPARAM>(own.handle()), 0));
    }).join();

    const size_t local = static_cast<size_t>(kEach) * (kThreads / 2);
    ASSERT_TRUE(PumpMessages(60000, [&] {
        return own.count(peer::kSeq) == local && own.count(peer::kSeqResult) == 1;
    }));
    std::map<WPARAM, WPARAM> next;
    for (auto& r : own.received) {
        if (r.message == peer::kSeq) {
            WPARAM stream = r.wParam >> 24;
            EXPECT_EQ(r.wParam & 0xffffff, next[stream]++) << "stream " << stream;
        }
        if (r.message == peer::kSeqResult) {
            EXPECT_EQ(r.wParam, static_cast<WPARAM>(kEach) * (kThreads / 2));
            EXPECT_EQ(r.lParam, 0) << "the child saw posts out of order";
        }
    }
}
