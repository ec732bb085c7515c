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
#include <fcntl.h>
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

TEST(WinmsgCross, WhileWaitingTheSenderTakesSentMessagesButNotPostsOrTimers)
{
    Child child({"serve", "1", "0"});
    auto windows = child.ready();
    ASSERT_EQ(windows.size(), 1u);
    TestWindow own;
    own.answer = [](UINT m, WPARAM wp, LPARAM lp) -> LRESULT {
        if (m == WM_COPYDATA)
            return 41;
        if (m == kAdd)
            return static_cast<LRESULT>(wp) + lp;
        return 0;
    };
    static int timerTicks;
    timerTicks = 0;
    PostMessageA(own.handle(), WM_USER, 0, 0);
    UINT_PTR timer = SetTimer(nullptr, 0, 10, [](HWND, UINT, UINT_PTR, DWORD) { ++timerTicks; });

    // The child answers our WM_COPYDATA by sending the data back to us from
    // inside its procedure: we take that while we wait.
    std::string text("STREAMS bob:1\0", 14);
    COPYDATASTRUCT cds{kEchoTag, static_cast<DWORD>(text.size()), text.data()};
    EXPECT_EQ(sendFromTest(windows[0], WM_COPYDATA, asWParam(own.handle()),
                           reinterpret_cast<LPARAM>(&cds)),
              42);
    ASSERT_EQ(own.count(WM_COPYDATA), 1u);
    const Received& back = own.received.back();
    EXPECT_TRUE(back.duringSend);
    EXPECT_EQ(back.data, text);
    EXPECT_EQ(back.dwData, kEchoTag + 1);
    EXPECT_EQ(back.wParam, asWParam(windows[0]));

    // Ten sends to us inside one of ours.
    EXPECT_EQ(sendFromTest(windows[0], kSendBack, asWParam(own.handle()), 10), 55);
    EXPECT_EQ(own.count(kAdd), 10u);
    // Posts to us inside one of ours, then a wait long enough for timers.
    EXPECT_EQ(sendFromTest(windows[0], kPostBack, asWParam(own.handle()), 5), 1);
    EXPECT_EQ(sendFromTest(windows[0], kSleep, 0, 100), 77);

    EXPECT_EQ(own.count(WM_USER), 0u) << "a posted message ran inside a send";
    EXPECT_EQ(own.count(kSeq), 0u) << "a posted message ran inside a send";
    EXPECT_EQ(timerTicks, 0) << "a timer ran inside a send";

    ASSERT_TRUE(PumpMessages(kLong, [&] {
        return own.count(WM_USER) == 1 && own.count(kSeq) == 5 && timerTicks > 0;
    }));
    KillTimer(nullptr, timer);
}

TEST(WinmsgCross, TwoProcessesSendingToEachOtherAtOnceBothComplete)
{
    Child child({"serve", "1", "0"});
    auto windows = child.ready();
    ASSERT_EQ(windows.size(), 1u);
    TestWindow own;
    own.answer = [](UINT m, WPARAM, LPARAM) -> LRESULT { return m == kPing ? 500 : 0; };

    int overlapped = 0;
    constexpr int kRounds = 20;
    for (int round = 0; round < kRounds; ++round) {
        const int64_t at = steadyMs() + 30;
        ASSERT_TRUE(PostMessageA(windows[0], kArm, asWParam(own.handle()), at));
        while (steadyMs() < at) {
        }
        LRESULT r = sendFromTest(windows[0], kPing, asWParam(own.handle()), 0);
        ASSERT_TRUE(r == 500 || r == 501) << r;
        overlapped += r == 501; // the child was inside its own send to us
        ASSERT_TRUE(PumpMessages(kLong, [&] { return own.count(kArmDone) == size_t(round) + 1; }));
        EXPECT_EQ(own.received.back().wParam, 500u) << "the child's send to us completed";
    }
    std::printf("sends that crossed: %d of %d\n", overlapped, kRounds);
}

TEST(WinmsgCross, ASendToAGoneProcessFailsAtOnce)
{
    // Long enough that waiting for a time-out instead would hang the test.
    setSendMessageTimeout(120000);
    {
        Child child({"serve", "1", "0"});
        auto windows = child.ready();
        ASSERT_EQ(windows.size(), 1u);
        ASSERT_EQ(SendMessageA(windows[0], kAdd, 1, 1), 2);
        const std::string socket = winmsg::socketPathFor(static_cast<uint32_t>(child.pid()));
        ASSERT_TRUE(fileExists(socket));
        child.kill();

        SetLastError(0);
        EXPECT_EQ(SendMessageA(windows[0], kAdd, 1, 1), 0);
        EXPECT_EQ(GetLastError(), ERROR_INVALID_WINDOW_HANDLE);
        EXPECT_FALSE(IsWindow(windows[0]));
        EXPECT_FALSE(PostMessageA(windows[0], kAdd, 1, 1));
        EXPECT_FALSE(fileExists(socket)) << "the dead process's socket is removed";
    }
    {
        // The receiver ends inside the procedure that handles our message.
        Child child({"serve", "1", "0"});
        auto windows = child.ready();
        ASSERT_EQ(windows.size(), 1u);
        SetLastError(0);
        EXPECT_EQ(SendMessageA(windows[0], kExitNow, 0, 0), 0);
        EXPECT_EQ(GetLastError(), ERROR_INVALID_WINDOW_HANDLE);
        EXPECT_EQ(child.wait(), 3);
    }
    // A process that has no socket in this desktop.
    HWND nowhere = reinterpret_cast<HWND>((uintptr_t{1} << 32) | 5);
    EXPECT_EQ(SendMessageA(nowhere, kAdd, 1, 1), 0);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_WINDOW_HANDLE);
    setSendMessageTimeout(30000);
}

TEST(WinmsgCross, AReceiverThatDoesNotAnswerTimesOut)
{
    Child child({"serve", "1", "0"});
    auto windows = child.ready();
    ASSERT_EQ(windows.size(), 1u);
    setSendMessageTimeout(200);
    SetLastError(0);
    EXPECT_EQ(SendMessageA(windows[0], kSleep, 0, 1500), 0);
    EXPECT_EQ(GetLastError(), ERROR_TIMEOUT);
    setSendMessageTimeout(30000);
    // Its late answer (77) is not taken for the next one.
    EXPECT_EQ(SendMessageA(windows[0], kAdd, 2, 3), 5);
    EXPECT_EQ(SendMessageA(windows[0], kAdd, 4, 3), 7);
}

TEST(WinmsgCross, BroadcastReachesEveryTopLevelWindowOfItsDesktopOnly)
{
    const std::string other = makeTempDir("other");
    Child elsewhere({"serve", "1", "0"}, other);
    ASSERT_EQ(elsewhere.ready().size(), 1u);
    Child a({"serve", "2", "1"});
    Child b({"serve", "1", "0"});
    auto aw = a.ready();
    auto bw = b.ready();
    ASSERT_EQ(aw.size(), 3u);
    ASSERT_EQ(bw.size(), 1u);
    TestWindow own;
    TestWindow ownChild(WS_CHILD, own.handle());

    // A socket left behind by a process that has ended, and an unrelated file.
    Child ended({"register"});
    const int deadPid = ended.pid();
    ended.wait();
    const std::string stale = winmsg::socketPathFor(static_cast<uint32_t>(deadPid));
    {
        int fd = socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        std::snprintf(addr.sun_path, sizeof addr.sun_path, "%s", stale.c_str());
        ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
        close(fd);
    }
    const std::string junk = testDesktop() + "/notes.txt";
    fclose(fopen(junk.c_str(), "w"));

    const UINT message = RegisterWindowMessageA(kBroadcastName);
    auto pongs = [&] {
        std::multiset<HWND> from;
        for (auto& r : own.received)
            if (r.message == kPong)
                from.insert(handleOf(r.lParam));
        return from;
    };
    const std::multiset<HWND> once = {aw[0], aw[1], bw[0]};

    EXPECT_EQ(SendMessageA(HWND_BROADCAST, message, asWParam(own.handle()), 0), 1);
    EXPECT_EQ(own.count(message), 1u) << "the sender's own top-level window hears it";
    EXPECT_EQ(ownChild.count(message), 0u) << "child windows do not";
    ASSERT_TRUE(PumpMessages(kLong, [&] { return pongs().size() >= 3; }));
    EXPECT_EQ(pongs(), once);
    EXPECT_FALSE(fileExists(stale));
    EXPECT_TRUE(fileExists(junk));

    EXPECT_TRUE(PostMessageA(HWND_BROADCAST, message, asWParam(own.handle()), 0));
    ASSERT_TRUE(PumpMessages(kLong, [&] { return pongs().size() >= 6 && own.count(message) == 2; }));
    std::multiset<HWND> twice = once;
    twice.insert(once.begin(), once.end());
    EXPECT_EQ(pongs(), twice);
    EXPECT_EQ(ownChild.count(message), 0u);

    // Every send broadcast above had returned before this: nothing crossed over.
    EXPECT_EQ(elsewhere.killAndCollect().find("BROADCAST"), std::string::npos);
}

TEST(WinmsgCross, RegisteredIdsAgreeAcrossProcesses)
{
    const std::vector<std::string> names = {"SkypeControlAPIAttach", "SkypeControlAPIDiscover",
                                            "TaskbarCreated", "ZORVANEOPEN", "skypecontrolapiattach"};
    std::vector<std::string> args = {"register"};
    args.insert(args.end(), names.begin(), names.end());
    Child child(args);
    for (const auto& name : names) {
        std::string line = child.readLine();
        char id[16];
        std::snprintf(id, sizeof id, "%x", RegisterWindowMessageA(name.c_str()));
        EXPECT_EQ(line, "ID " + name + " " + id);
    }
    EXPECT_EQ(child.wait(), 0);
}

namespace {

int connectRaw(const std::string& path)
{
    int fd = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::snprintf(addr.sun_path, sizeof addr.sun_path, "%s", path.c_str());
    if (connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

winmsg::FrameHeader frame(uint32_t kind, HWND window, UINT message, uint32_t dataSize = 0)
{
    winmsg::FrameHeader h{};
    h.magic = winmsg::kFrameMagic;
    h.kind = kind;
    h.id = 77;
    h.window = reinterpret_cast<uintptr_t>(window);
    h.message = message;
    h.dataSize = dataSize;
    return h;
}

// Pumps until the raw connection has bytes or has ended; returns what recv gave.
ssize_t awaitRaw(int fd, void* buf, size_t size)
{
    ssize_t n = -1;
    PumpMessages(kLong, [&] {
        n = recv(fd, buf, size, MSG_DONTWAIT);
        return n >= 0 || (errno != EAGAIN && errno != EWOULDBLOCK);
    });
    return n;
}

} // namespace

TEST(WinmsgCross, BrokenOrHostilePeersDoNotHurtTheReceiver)
{
    TestWindow own;
    own.answer = [](UINT m, WPARAM wp, LPARAM lp) -> LRESULT {
        return m == kAdd ? static_cast<LRESULT>(wp) + lp : 0;
    };
    const std::string path = winmsg::socketPathFor(static_cast<uint32_t>(getpid()));

    struct Case {
        const char* what;
        std::string bytes;
        bool expectClosedByReceiver;
    };
    auto bytesOf = [](const winmsg::FrameHeader& h, size_t keep = sizeof(winmsg::FrameHeader)) {
        return std::string(reinterpret_cast<const char*>(&h), keep);
    };
    winmsg::FrameHeader badMagic = frame(winmsg::FramePost, own.handle(), kSeq);
    badMagic.magic = 0x12345678;
    const Case cases[] = {
        {"half a header, then gone", bytesOf(frame(winmsg::FrameSend, own.handle(), kAdd), 20),
         false},
        {"a header promising data that never comes",
         bytesOf(frame(winmsg::FrameSend, own.handle(), WM_COPYDATA, 1000)) + "0123456789", false},
        {"a wrong magic number", bytesOf(badMagic), true},
        {"an unknown kind", bytesOf(frame(99, own.handle(), kSeq)), true},
        {"more data than any message may carry",
         bytesOf(frame(winmsg::FrameSend, own.handle(), WM_COPYDATA, winmsg::kMaxFrameData + 1)),
         true},
    };
    for (const Case& c : cases) {
        int fd = connectRaw(path);
        ASSERT_GE(fd, 0) << c.what;
        ASSERT_EQ(send(fd, c.bytes.data(), c.bytes.size(), MSG_NOSIGNAL),
                  static_cast<ssize_t>(c.bytes.size()));
        if (c.expectClosedByReceiver) {
            char byte;
            EXPECT_EQ(awaitRaw(fd, &byte, 1), 0) << c.what << ": the receiver hangs up";
        } else {
            PumpMessages(20);
        }
        close(fd);
        PumpMessages(20);
    }
    EXPECT_EQ(own.count(kSeq), 0u);
    EXPECT_EQ(own.count(kAdd), 0u) << "nothing half-received reached the procedure";

    // A peer that posts and leaves at once: the post still arrives.
    {
        int fd = connectRaw(path);
        auto h = frame(winmsg::FramePost, own.handle(), kSeq);
        ASSERT_EQ(send(fd, &h, sizeof h, MSG_NOSIGNAL), static_cast<ssize_t>(sizeof h));
        close(fd);
        EXPECT_TRUE(PumpMessages(kLong, [&] { return own.count(kSeq) == 1; }));
    }
    // A send to a window that does not exist is answered "no window".
    {
        int fd = connectRaw(path);
        HWND missing = reinterpret_cast<HWND>(reinterpret_cast<uintptr_t>(own.handle()) + 1000);
        auto h = frame(winmsg::FrameSend, missing, kAdd);
        ASSERT_EQ(send(fd, &h, sizeof h, MSG_NOSIGNAL), static_cast<ssize_t>(sizeof h));
        winmsg::FrameHeader answer{};
        ASSERT_EQ(awaitRaw(fd, &answer, sizeof answer), static_cast<ssize_t>(sizeof answer));
        EXPECT_EQ(answer.kind, winmsg::FrameReply);
        EXPECT_EQ(answer.id, 77u);
        EXPECT_EQ(answer.flags, winmsg::ReplyNoWindow);
        close(fd);
    }
    // WM_COPYDATA whose lParam is an address of the sender's, without data:
    // posted, it is dropped; sent, the procedure gets an empty structure of
    // its own process, never the foreign address.
    {
        int fd = connectRaw(path);
        auto posted = frame(winmsg::FramePost, own.handle(), WM_COPYDATA);
        posted.lParam = 0x10;
        auto sent = frame(winmsg::FrameSend, own.handle(), WM_COPYDATA);
        sent.lParam = 0x10;
        sent.dwData = 5;
        std::string bytes = bytesOf(posted) + bytesOf(sent);
        ASSERT_EQ(send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL),
                  static_cast<ssize_t>(bytes.size()));
        winmsg::FrameHeader answer{};
        ASSERT_EQ(awaitRaw(fd, &answer, sizeof answer), static_cast<ssize_t>(sizeof answer));
        EXPECT_EQ(answer.flags, winmsg::ReplyDone);
        close(fd);
        PumpMessages(20);
        ASSERT_EQ(own.count(WM_COPYDATA), 1u) << "the posted one is dropped";
        const auto& got = own.received.back();
        EXPECT_EQ(got.message, static_cast<UINT>(WM_COPYDATA));
        EXPECT_NE(got.lParam, 0x10);
        EXPECT_NE(got.lParam, 0);
        EXPECT_EQ(got.data, "");
        EXPECT_EQ(got.dwData, 0u) << "dwData travels only with the structure";
    }
    // And the process still takes messages from a real peer.
    Child child({"serve", "1", "0"});
    auto windows = child.ready();
    ASSERT_EQ(windows.size(), 1u);
    EXPECT_EQ(SendMessageA(windows[0], kSendBack, asWParam(own.handle()), 4), 10);
}

namespace {

// Sends bytes on a non-blocking raw connection while pumping this process's
// messages (it is the receiver); false once the receiver has closed it.
bool sendPumping(int fd, const std::string& bytes)
{
    size_t done = 0;
    bool open = true;
    PumpMessages(kLong, [&] {
        while (done < bytes.size()) {
            ssize_t n = send(fd, bytes.data() + done, bytes.size() - done,
                             MSG_NOSIGNAL | MSG_DONTWAIT);
            if (n > 0) {
                done += static_cast<size_t>(n);
                continue;
            }
            if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
                return false;
            open = false;
            return true;
        }
        return true;
    });
    return open && done == bytes.size();
}

// Whether the receiver has hung up on the connection (pumping meanwhile).
bool closedByReceiver(int fd)
{
    bool closed = false;
    PumpMessages(300, [&] {
        char buf[4096];
        for (;;) {
            ssize_t n = recv(fd, buf, sizeof buf, MSG_DONTWAIT);
            if (n > 0)
                continue;
            closed = n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK);
            return closed;
        }
    });
    return closed;
}

} // namespace

// Many connections of one peer, each holding a frame of the largest size half
// sent: the receiver takes a few and hangs up on the rest, instead of holding
// them all; once those are gone a whole large message still gets through.
TEST(WinmsgCross, ManyConnectionsHoldingLargeFramesAreRefusedBeyondATotal)
{
    TestWindow own;
    const std::string path = winmsg::socketPathFor(static_cast<uint32_t>(getpid()));
    const uint32_t size = winmsg::kMaxFrameData;
    auto h = frame(winmsg::FrameSend, own.handle(), WM_COPYDATA, size);
    h.flags = winmsg::FrameHasCopyData;
    const std::string start =
        std::string(reinterpret_cast<const char*>(&h), sizeof h) + std::string(512 * 1024, 'x');
    std::vector<int> fds;
    int refused = 0;
    for (int i = 0; i < 20; ++i) {
        int fd = connectRaw(path);
        ASSERT_GE(fd, 0);
        fcntl(fd, F_SETFL, O_NONBLOCK);
        fds.push_back(fd);
        if (!sendPumping(fd, start) || closedByReceiver(fd))
            ++refused;
    }
    EXPECT_GT(refused, 0) << "20 connections of " << size << " bytes each all held";
    EXPECT_LT(refused, 20) << "a few large messages may wait at once";
    EXPECT_EQ(own.count(WM_COPYDATA), 0u);
    for (int fd : fds)
        close(fd);
    PumpMessages(50);

    Child child({"serve", "1", "0"});
    ASSERT_EQ(child.ready().size(), 1u);
    std::string data(size, 'q');
    COPYDATASTRUCT cds{9, static_cast<DWORD>(data.size()), data.data()};
    SendMessageA(own.handle(), WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&cds));
    ASSERT_EQ(own.count(WM_COPYDATA), 1u);
    EXPECT_EQ(own.received.back().data.size(), data.size());
}

// A peer that sends requests and never reads the answers: the answers that
// wait for it are bounded; beyond, the connection is closed.
TEST(WinmsgCross, APeerThatDoesNotReadItsAnswersIsClosed)
{
    TestWindow own;
    const std::string path = winmsg::socketPathFor(static_cast<uint32_t>(getpid()));
    int fd = connectRaw(path);
    ASSERT_GE(fd, 0);
    fcntl(fd, F_SETFL, O_NONBLOCK);
    auto ask = frame(winmsg::FrameIsWindow, own.handle(), 0);
    std::string many;
    for (int i = 0; i < 4096; ++i)
        many.append(reinterpret_cast<const char*>(&ask), sizeof ask);
    bool open = true;
    for (int round = 0; round < 200 && open; ++round)
        open = sendPumping(fd, many); // 256 KiB of questions a round, no answer read
    EXPECT_FALSE(open) << "50 MiB of questions taken without an answer read";
    close(fd);
    Child child({"serve", "1", "0"});
    auto windows = child.ready();
    ASSERT_EQ(windows.size(), 1u);
    EXPECT_EQ(SendMessageA(windows[0], kAdd, 2, 3), 5);
}

// A socket file in the desktop that is a symbolic link (here to a process's
// socket in another desktop) is not followed: neither sends nor broadcasts
// reach through it.
TEST(WinmsgCross, ASocketThatIsASymbolicLinkIsNotFollowed)
{
    const std::string other = makeTempDir("linked");
    Child elsewhere({"serve", "1", "0"}, other);
    auto windows = elsewhere.ready();
    ASSERT_EQ(windows.size(), 1u);
    const std::string real = other + "/" + std::to_string(elsewhere.pid()) + ".sock";
    const std::string link = winmsg::socketPathFor(static_cast<uint32_t>(elsewhere.pid()));
    ASSERT_EQ(symlink(real.c_str(), link.c_str()), 0);
    EXPECT_EQ(SendMessageA(windows[0], kAdd, 2, 3), 0);
    EXPECT_FALSE(IsWindow(windows[0]));
    EXPECT_FALSE(PostMessageA(windows[0], kSeq, 1, 0));
    TestWindow own;
    SendMessageA(HWND_BROADCAST, RegisterWindowMessageA(kBroadcastName), asWParam(own.handle()), 0);
    PumpMessages(50);
    EXPECT_EQ(own.count(kPong), 0u) << "the broadcast went through the link";
    unlink(link.c_str());
    EXPECT_EQ(elsewhere.killAndCollect().find("BROADCAST"), std::string::npos);
}

TEST(WinmsgCross, AConnectionFromAnotherUserIsRefused)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root to act as another user";
    TestWindow own;
    const std::string path = winmsg::socketPathFor(static_cast<uint32_t>(getpid()));
    // Open the way for the other user, so that only the peer check stands.
    ASSERT_EQ(chmod(testDesktop().c_str(), 0711), 0);
    ASSERT_EQ(chmod(path.c_str(), 0666), 0);
    char hwnd[32];
    std::snprintf(hwnd, sizeof hwnd, "%lx",
                  static_cast<unsigned long>(reinterpret_cast<uintptr_t>(own.handle())));
    Child foreign({"foreign-connect", path, hwnd});
    std::string answer = foreign.readLine();
    chmod(path.c_str(), 0600);
    chmod(testDesktop().c_str(), 0700);
    EXPECT_EQ(answer, "CLOSED");
    PumpMessages(50);
    EXPECT_EQ(own.count(kSeq), 0u) << "the other user's message was delivered";
}

TEST(WinmsgCross, AProcessWhoseDesktopIsRefusedCannotBeReached)
{
    const std::string open = makeTempDir("open");
    ASSERT_EQ(chmod(open.c_str(), 0755), 0);
    Child child({"serve", "1", "0"}, open);
    auto windows = child.ready();
    ASSERT_EQ(windows.size(), 1u) << "its windows still work inside it";
    EXPECT_EQ(SendMessageA(windows[0], kAdd, 1, 1), 0);
    EXPECT_FALSE(fileExists(open + "/" + std::to_string(child.pid()) + ".sock"));
}

TEST(WinmsgCross, AStoppedProcessDoesNotStopTheDesktop)
{
    Child stopped({"serve", "1", "0"});
    Child lively({"serve", "1", "0"});
    auto sw = stopped.ready();
    auto lw = lively.ready();
    ASSERT_EQ(sw.size(), 1u);
    ASSERT_EQ(lw.size(), 1u);
    TestWindow own;
    const UINT message = RegisterWindowMessageA(kBroadcastName);
    ASSERT_EQ(kill(stopped.pid(), SIGSTOP), 0);

    setSendMessageTimeout(300);
    EXPECT_EQ(SendMessageA(HWND_BROADCAST, message, asWParam(own.handle()), 0), 1);
    ASSERT_TRUE(PumpMessages(kLong, [&] { return own.count(kPong) >= 1; }));
    EXPECT_EQ(handleOf(own.received.back().lParam), lw[0]);
    constexpr int kPosts = 2000;
    for (int i = 0; i < kPosts; ++i)
        ASSERT_TRUE(PostMessageA(sw[0], kSeq, static_cast<WPARAM>(i), 0)) << i;
    EXPECT_EQ(SendMessageA(lw[0], kAdd, 20, 22), 42);
    setSendMessageTimeout(30000);

    // Once it runs again, it gets everything, in order.
    ASSERT_EQ(kill(stopped.pid(), SIGCONT), 0);
    ASSERT_TRUE(PostMessageA(sw[0], kSeqCheck, asWParam(own.handle()), 0));
    ASSERT_TRUE(PumpMessages(kLong, [&] { return own.count(kSeqResult) == 1 && own.count(kPong) == 2; }));
    for (auto& r : own.received) {
        if (r.message == kSeqResult) {
            EXPECT_EQ(r.wParam, static_cast<WPARAM>(kPosts));
            EXPECT_EQ(r.lParam, 0);
        }
    }
}

TEST(WinmsgCross, AProcessStartingUpRemovesSocketsOfEndedProcesses)
{
    const std::string desk = makeTempDir("sweep");
    Child ended({"register"});
    const std::string pid = std::to_string(ended.pid());
    ended.wait();
    const std::string stale = desk + "/" + pid + ".sock";
    const std::string halfMade = desk + "/." + pid + ".tmp";
    const std::string alive = desk + "/" + std::to_string(getpid()) + ".sock"; // this process lives
    for (const std::string& path : {stale, halfMade, alive}) {
        int fd = socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        std::snprintf(addr.sun_path, sizeof addr.sun_path, "%s", path.c_str());
        ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0) << path;
        close(fd);
    }
    Child child({"serve", "1", "0"}, desk);
    ASSERT_EQ(child.ready().size(), 1u);
    EXPECT_FALSE(fileExists(stale));
    EXPECT_FALSE(fileExists(halfMade));
    EXPECT_TRUE(fileExists(alive)) << "a living process's socket is left alone";
    EXPECT_TRUE(fileExists(desk + "/" + std::to_string(child.pid()) + ".sock"));
}
