// Windows, messages, timers and the loop within one process.
#include "platform/winuser.h"
#include "winmsg_support.h"
#include "winmsg_testwindow.h"

#include <gtest/gtest.h>

using namespace winmsgtest;

TEST(WinmsgLocal, SendCallsTheProcedureAndPostWaitsForTheLoop)
{
    TestWindow w;
    w.answer = [](UINT m, WPARAM wp, LPARAM lp) -> LRESULT {
        return m == WM_USER ? static_cast<LRESULT>(wp) * 10 + lp : 0;
    };
    EXPECT_EQ(SendMessageA(w.handle(), WM_USER, 4, 2), 42);
    ASSERT_EQ(w.count(WM_USER), 1u);

    for (int i = 0; i < 5; ++i)
        EXPECT_TRUE(PostMessageA(w.handle(), WM_USER + 1, static_cast<WPARAM>(i), 0));
    EXPECT_EQ(w.count(WM_USER + 1), 0u) << "a post is not a call";
    ASSERT_TRUE(PumpMessages(10000, [&] { return w.count(WM_USER + 1) == 5; }));
    WPARAM next = 0;
    for (auto& r : w.received) {
        if (r.message == WM_USER + 1) {
            EXPECT_EQ(r.wParam, next++);
        }
    }
}
