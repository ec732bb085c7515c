// Windows, messages, timers and the loop within one process.
#include "platform/winuser.h"
#include "winmsg_support.h"
#include "winmsg_testwindow.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <set>
#include <unistd.h>

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

TEST(WinmsgLocal, CreationHearsNcCreateAndCreateWithItsParameters)
{
    int param = 5;
    struct Seen {
        UINT message;
        CREATESTRUCTA cs;
    };
    static std::vector<Seen> seen;
    static LRESULT createAnswer;
    seen.clear();
    createAnswer = 0;
    WNDCLASSA wc{};
    wc.lpfnWndProc = [](HWND w, UINT m, WPARAM wp, LPARAM lp) -> LRESULT {
        if (m == WM_NCCREATE || m == WM_CREATE) {
            seen.push_back({m, *reinterpret_cast<CREATESTRUCTA*>(lp)});
            EXPECT_TRUE(IsWindow(w)) << "a window is a window while it is being created";
            if (m == WM_CREATE)
                return createAnswer;
        }
        return DefWindowProcA(w, m, wp, lp);
    };
    wc.lpszClassName = "CreationClass";
    ASSERT_NE(RegisterClassA(&wc), 0);
    EXPECT_EQ(RegisterClassA(&wc), 0) << "a class name is registered once";
    EXPECT_EQ(GetLastError(), ERROR_CLASS_ALREADY_EXISTS);

    HINSTANCE instance = reinterpret_cast<HINSTANCE>(static_cast<uintptr_t>(0x400000));
    HWND w = CreateWindowExA(0, "creationclass", "title", WS_SYSMENU, 1, 2, 3, 4, nullptr, nullptr,
                             instance, &param);
    ASSERT_NE(w, nullptr) << "class names ignore case";
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0].message, WM_NCCREATE);
    EXPECT_EQ(seen[1].message, WM_CREATE);
    EXPECT_EQ(seen[1].cs.lpCreateParams, &param);
    EXPECT_EQ(seen[1].cs.hInstance, instance);
    EXPECT_EQ(seen[1].cs.x, 1);
    EXPECT_EQ(seen[1].cs.cy, 4);
    EXPECT_EQ(GetWindowLongA(w, GWL_HINSTANCE), 0x400000);
    EXPECT_EQ(GetWindowLongPtrA(w, GWLP_USERDATA), 0);
    EXPECT_EQ(SetWindowLongPtrA(w, GWLP_USERDATA, 99), 0);
    EXPECT_EQ(GetWindowLongPtrA(w, GWLP_USERDATA), 99);
    EXPECT_TRUE(DestroyWindow(w));

    createAnswer = -1; // WM_CREATE refuses: no window
    EXPECT_EQ(CreateWindowExA(0, "CreationClass", nullptr, 0, 0, 0, 0, 0, nullptr, nullptr, nullptr,
                              nullptr),
              nullptr);
    EXPECT_EQ(CreateWindowExA(0, "NoSuchClass", nullptr, 0, 0, 0, 0, 0, nullptr, nullptr, nullptr,
                              nullptr),
              nullptr);
    EXPECT_EQ(GetLastError(), ERROR_CANNOT_FIND_WND_CLASS);
}

TEST(WinmsgLocal, HandlesAreUniqueAndCarryTheProcess)
{
    TestWindow a;
    TestWindow b;
    EXPECT_NE(a.handle(), b.handle());
    EXPECT_EQ(reinterpret_cast<uintptr_t>(a.handle()) >> 32, static_cast<uintptr_t>(getpid()));
    EXPECT_NE(a.handle(), HWND_BROADCAST);
}

TEST(WinmsgLocal, DestroyWindowEndsTheWindowItsOwnedAndChildWindows)
{
    std::vector<std::pair<HWND, UINT>> order;
    auto record = [&](TestWindow& w) {
        w.answer = [&order, h = w.handle()](UINT m, WPARAM, LPARAM) -> LRESULT {
            if (m == WM_DESTROY || m == WM_NCDESTROY) {
                order.push_back({h, m});
                EXPECT_TRUE(IsWindow(h)) << "still a window while it hears WM_DESTROY";
            }
            return 0;
        };
    };
    TestWindow top;
    TestWindow owned(WS_SYSMENU, top.handle());
    TestWindow child(WS_CHILD, top.handle());
    record(top);
    record(owned);
    record(child);
    PostMessageA(top.handle(), WM_USER, 0, 0);
    SetTimer(top.handle(), 1, 10, nullptr);

    EXPECT_TRUE(DestroyWindow(top.handle()));
    EXPECT_FALSE(IsWindow(top.handle()));
    EXPECT_FALSE(IsWindow(owned.handle()));
    EXPECT_FALSE(IsWindow(child.handle()));
    const std::vector<std::pair<HWND, UINT>> expected = {
        {owned.handle(), WM_DESTROY}, {owned.handle(), WM_NCDESTROY}, {top.handle(), WM_DESTROY},
        {child.handle(), WM_DESTROY}, {child.handle(), WM_NCDESTROY}, {top.handle(), WM_NCDESTROY}};
    EXPECT_EQ(order, expected);

    // What was posted to it, and its timers, end with it.
    size_t before = top.received.size();
    PumpMessages(100);
    EXPECT_EQ(top.received.size(), before);
    EXPECT_FALSE(DestroyWindow(top.handle()));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_WINDOW_HANDLE);
    EXPECT_EQ(SendMessageA(top.handle(), WM_USER, 0, 0), 0);
    EXPECT_FALSE(PostMessageA(top.handle(), WM_USER, 0, 0));
}

TEST(WinmsgLocal, CloseByDefaultDestroysTheWindow)
{
    TestWindow w;
    SendMessageA(w.handle(), WM_CLOSE, 0, 0);
    EXPECT_FALSE(IsWindow(w.handle()));
}

namespace {
std::vector<std::pair<UINT_PTR, HWND>> timerCalls;
void recordTimer(HWND w, UINT m, UINT_PTR id, DWORD)
{
    EXPECT_EQ(m, WM_TIMER);
    timerCalls.push_back({id, w});
}
} // namespace

TEST(WinmsgLocal, TimersFireOnlyInsideTheLoop)
{
    timerCalls.clear();
    TestWindow w;
    ASSERT_NE(SetTimer(w.handle(), 7, 10, nullptr), 0u);
    UINT_PTR a = SetTimer(nullptr, 0, 10, recordTimer);
    UINT_PTR b = SetTimer(nullptr, 0, 10, recordTimer);
    ASSERT_NE(a, 0u);
    ASSERT_NE(b, 0u);
    EXPECT_NE(a, b) << "each window-less timer gets an id of its own";

    Sleep(60); // no loop, no timer
    EXPECT_EQ(w.count(WM_TIMER), 0u);
    EXPECT_TRUE(timerCalls.empty());

    auto called = [&](UINT_PTR id) {
        return std::count_if(timerCalls.begin(), timerCalls.end(),
                             [&](auto& c) { return c.first == id && c.second == nullptr; });
    };
    ASSERT_TRUE(PumpMessages(10000, [&] {
        return w.count(WM_TIMER) >= 3 && called(a) >= 3 && called(b) >= 3;
    }));
    for (auto& r : w.received) {
        if (r.message == WM_TIMER) {
            EXPECT_EQ(r.wParam, 7u);
        }
    }

    // Killed timers stay quiet; setting an id again replaces the timer.
    EXPECT_TRUE(KillTimer(nullptr, a));
    EXPECT_FALSE(KillTimer(nullptr, a));
    EXPECT_EQ(SetTimer(nullptr, b, 10, recordTimer), b);
    EXPECT_EQ(SetTimer(w.handle(), 7, 100000, nullptr), 7u);
    timerCalls.clear();
    size_t windowTicks = w.count(WM_TIMER);
    ASSERT_TRUE(PumpMessages(10000, [&] { return called(b) >= 3; }));
    EXPECT_EQ(called(a), 0);
    EXPECT_EQ(w.count(WM_TIMER), windowTicks) << "restarted with the long period";

    // A window timer with a procedure calls the procedure with the window.
    timerCalls.clear();
    EXPECT_TRUE(KillTimer(nullptr, b));
    SetTimer(w.handle(), 9, 10, recordTimer);
    ASSERT_TRUE(PumpMessages(10000, [&] { return !timerCalls.empty(); }));
    EXPECT_EQ(timerCalls[0], std::make_pair(UINT_PTR{9}, w.handle()));
    EXPECT_TRUE(KillTimer(w.handle(), 9));
    EXPECT_TRUE(KillTimer(w.handle(), 7));
    EXPECT_EQ(SetTimer(nullptr, 0, 10, nullptr), 0u) << "a window-less timer needs a procedure";
}

TEST(WinmsgLocal, PostQuitMessageEndsRunMessageLoopAfterWhatWasPostedBefore)
{
    TestWindow w;
    w.answer = [](UINT m, WPARAM, LPARAM) -> LRESULT {
        if (m == WM_USER)
            PostQuitMessage(3);
        return 0;
    };
    PostMessageA(w.handle(), WM_USER + 1, 0, 0);
    PostMessageA(w.handle(), WM_USER, 0, 0);
    EXPECT_EQ(RunMessageLoop(), 3);
    EXPECT_EQ(w.count(WM_USER + 1), 1u);

    // Nested loops: the quit ends the innermost one.
    int inner = -1;
    w.answer = [&](UINT m, WPARAM, LPARAM) -> LRESULT {
        if (m == WM_USER + 2) {
            PostQuitMessage(5);
            inner = RunMessageLoop();
            PostQuitMessage(6);
        }
        return 0;
    };
    PostMessageA(w.handle(), WM_USER + 2, 0, 0);
    EXPECT_EQ(RunMessageLoop(), 6);
    EXPECT_EQ(inner, 5);

    // A quit that arrives while no loop runs ends the next loop at once.
    PostQuitMessage(8);
    PumpMessages(20);
    EXPECT_EQ(RunMessageLoop(), 8);
}

TEST(WinmsgLocal, RegisteredMessagesAreAHashOfTheName)
{
    const char* names[] = {"SkypeControlAPIAttach", "SkypeControlAPIDiscover", "TaskbarCreated",
                           "ZORVANEOPEN"};
    std::set<UINT> ids;
    for (const char* n : names) {
        UINT id = RegisterWindowMessageA(n);
        EXPECT_GE(id, 0xC000u) << n;
        EXPECT_LE(id, 0xFFFFu) << n;
        EXPECT_EQ(RegisterWindowMessageA(n), id) << n;
        ids.insert(id);
    }
    EXPECT_EQ(ids.size(), 4u) << "the system's names do not collide";
    EXPECT_EQ(RegisterWindowMessageA("taskbarcreated"), RegisterWindowMessageA("TaskbarCreated"));
    EXPECT_EQ(RegisterWindowMessageA(""), 0u);
    EXPECT_EQ(RegisterWindowMessageA(nullptr), 0u);

    // Two names that share an id: the second one is refused, the first keeps it.
    std::map<UINT, std::string> byId;
    std::string refused;
    for (int i = 0; i < 100000 && refused.empty(); ++i) {
        std::string n = "collide-" + std::to_string(i);
        UINT id = RegisterWindowMessageA(n.c_str());
        if (id == 0)
            refused = n;
        else
            byId[id] = n;
    }
    ASSERT_FALSE(refused.empty());
    EXPECT_EQ(RegisterWindowMessageA(refused.c_str()), 0u);
    for (auto& [id, n] : byId)
        EXPECT_EQ(RegisterWindowMessageA(n.c_str()), id);
}

TEST(WinmsgLocal, PumpMessagesStopsWhenDone)
{
    TestWindow w;
    PostMessageA(w.handle(), WM_USER, 0, 0);
    EXPECT_TRUE(PumpMessages(0));
    EXPECT_EQ(w.count(WM_USER), 1u) << "PumpMessages(0) takes what is waiting";
    PostMessageA(w.handle(), WM_USER, 0, 0);
    EXPECT_TRUE(PumpMessages(10000, [&] { return w.count(WM_USER) == 2; }));
    EXPECT_FALSE(PumpMessages(30, [] { return false; }));
    EXPECT_TRUE(PumpMessages(0));
}

TEST(WinmsgLocal, MessageBoxGoesToTheHandler)
{
    std::string seen;
    setMessageBoxHandler([&](HWND, const char* text, const char* caption, UINT type) {
        seen = std::string(caption) + "|" + text + "|" + std::to_string(type);
        return IDNO;
    });
    EXPECT_EQ(MessageBoxA(nullptr, "     既に起動されています.     ", "２重起動", MB_YESNO), IDNO);
    EXPECT_EQ(seen, "２重起動|     既に起動されています.     |4");
    setMessageBoxHandler(nullptr);
    testing::internal::CaptureStderr();
    EXPECT_EQ(MessageBoxA(nullptr, "text", "caption", MB_YESNO), IDYES);
    EXPECT_EQ(MessageBoxA(nullptr, "text", "caption", MB_OK), IDOK);
    EXPECT_NE(testing::internal::GetCapturedStderr().find("caption: text"), std::string::npos);
}
