// The Skype link against a fake Skype window of the test process.
#include "recorders.h"
#include "foundation/eventlog.h"
#include "platform/trace.h"
#include "skypelink/skypecom.h"
#include "skypelink/skypemodel.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

const std::string kLostLine = ":EV:SkypeDriverへの通知に失敗しました。Skypeは未接続";

bool endsWith(const std::string& text, const std::string& tail)
{
    return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

// The link with two recording users (in the hub's and the application
// model's places) and, on request, the contact model between them.
class LinkTest : public testing::Test {
protected:
    void start(bool withModel)
    {
        log = QK_EVENTLOG::getInstance();
        log->enabled = 1;
        log->addListener(&logLines);
        link = QK_SKYPECOM::getInstance();
        link->addUser(&hub);
        if (withModel) {
            model = QK_SKYPEMODEL::getInstance();
            model->addListener(&modelListener);
        }
        link->addUser(&app);
        link->startDiscovery(nullptr);
        ASSERT_TRUE(pumpUntil([&] { return !skype.discovers.empty(); }));
        ASSERT_EQ(skype.discovers.front(), link->ownWindow);
        calls.clear();
    }

    void attach()
    {
        EXPECT_EQ(skype.attach(link->ownWindow, 0), 1);
        ASSERT_EQ(link->linkStatus, 1);
        calls.clear();
    }

    void TearDown() override
    {
        delete QK_SKYPEMODEL::instance;
        delete QK_SKYPECOM::instance;
        delete QK_EVENTLOG::instance;
        QK_EVENTLOG::instance = nullptr;
    }

    // Broadcasts reach the fake through the message loop; the marker, posted
    // after them, tells that every earlier broadcast has been delivered.
    size_t discoversAfterPump()
    {
        UINT marker = RegisterWindowMessageA("SkypeLinkTestMarker");
        size_t seen = skype.registered.size();
        PostMessageA(HWND_BROADCAST, marker, 0, 0);
        EXPECT_TRUE(pumpUntil([&] {
            for (size_t i = seen; i < skype.registered.size(); ++i)
                if (skype.registered[i] == marker)
                    return true;
            return false;
        }));
        return skype.discovers.size();
    }

    int lostLines() const
    {
        int n = 0;
        for (const std::string& line : logLines.lines)
            n += endsWith(line, kLostLine) ? 1 : 0;
        return n;
    }

    std::vector<Call> calls;
    RecordingUser hub{"hub", calls};
    RecordingUser app{"app", calls};
    RecordingModelListener modelListener;
    RecordingLogListener logLines;
    FakeSkype skype;
    QK_EVENTLOG* log = nullptr;
    QK_SKYPECOM* link = nullptr;
    QK_SKYPEMODEL* model = nullptr;
};

TEST_F(LinkTest, ConstructionRegistersTheTwoMessagesAndStartsUnattached)
{
    start(false);
    EXPECT_STREQ(link->tag, "QK_SKYPECOM");
    EXPECT_EQ(link->attachMessage, RegisterWindowMessageA("SkypeControlAPIAttach"));
    EXPECT_EQ(link->discoverMessage, RegisterWindowMessageA("SkypeControlAPIDiscover"));
    EXPECT_NE(link->attachMessage, link->discoverMessage);
    EXPECT_EQ(link->linkStatus, 0);
    EXPECT_EQ(link->skypeWindow, nullptr);
    ASSERT_NE(link->window, nullptr);
    EXPECT_STREQ(link->window->tag, "QK_WINDOW");
    EXPECT_EQ(link->window->handle, link->ownWindow);
    EXPECT_TRUE(IsWindow(link->ownWindow));
    EXPECT_EQ(QK_SKYPECOM::getInstance(), link);
}

struct AttachCase {
    int code;
    int status;
    bool storesWindow;
};

void PrintTo(const AttachCase& c, std::ostream* os) { *os << "code " << c.code; }

class AttachCodeTest : public LinkTest, public testing::WithParamInterface<AttachCase> {};

TEST_P(AttachCodeTest, EachCodeSetsItsStatusAndTellsEveryUserInOrder)
{
    start(false);
    const AttachCase c = GetParam();
    EXPECT_EQ(skype.attach(link->ownWindow, c.code), 1);
    EXPECT_EQ(link->linkStatus, c.status);
    EXPECT_EQ(link->skypeWindow, c.storesWindow ? skype.handle() : nullptr);
    const std::string s = std::to_string(c.status);
    EXPECT_EQ(calls, (std::vector<Call>{{"hub", "status", s}, {"app", "status", s}}));
}

INSTANTIATE_TEST_SUITE_P(Codes, AttachCodeTest,
                         testing::Values(AttachCase{0, 1, true}, AttachCase{1, 2, false},
                                         AttachCase{2, 3, false}, AttachCase{3, 4, false},
                                         AttachCase{0x8001, 0x8001, false},
                                         AttachCase{7, 0, false}));

TEST_F(LinkTest, PendingWhileAttachedKeepsOneAndTheModelSearchesAgain)
{
    start(true);
    attach();
    ASSERT_EQ(skype.commands, (std::vector<std::string>{"SEARCH FRIENDS"}));
    EXPECT_EQ(skype.attach(link->ownWindow, 1), 1);
    EXPECT_EQ(link->linkStatus, 1);
    EXPECT_EQ(link->skypeWindow, skype.handle());
    EXPECT_EQ(calls, (std::vector<Call>{{"hub", "status", "1"}, {"app", "status", "1"}}));
    EXPECT_EQ(skype.commands, (std::vector<std::string>{"SEARCH FRIENDS", "SEARCH FRIENDS"}));
}

TEST_F(LinkTest, UnknownCodeKeepsTheStatusAndStillTellsEveryUser)
{
    start(false);
    attach();
    EXPECT_EQ(skype.attach(link->ownWindow, 7), 1);
    EXPECT_EQ(link->linkStatus, 1);
    EXPECT_EQ(link->skypeWindow, skype.handle());
    EXPECT_EQ(calls, (std::vector<Call>{{"hub", "status", "1"}, {"app", "status", "1"}}));
}

TEST_F(LinkTest, RefusedAfterSuccessKeepsTheWindowNoBroadcastAndNotificationsStillTaken)
{
    start(false);
    attach();
    EXPECT_EQ(skype.attach(link->ownWindow, 2), 1);
    EXPECT_EQ(link->linkStatus, 3);
    EXPECT_EQ(link->skypeWindow, skype.handle());

    size_t before = discoversAfterPump();
    QK_SKYPECOM::skypeWndProc(link->ownWindow, WM_TIMER, 1, 0);
    EXPECT_EQ(discoversAfterPump(), before);

    calls.clear();
    EXPECT_EQ(skype.notify(link->ownWindow, "USERSTATUS ONLINE"), 1);
    EXPECT_EQ(calls, (std::vector<Call>{{"hub", "userStatus", "ONLINE"}, {"app", "userStatus", "ONLINE"}}));
    EXPECT_NE(link->sendCommand("GET CURRENTUSERHANDLE"), 0);
    EXPECT_EQ(skype.commands.back(), "GET CURRENTUSERHANDLE");
}

TEST_F(LinkTest, DiscoverIsBroadcastOnEveryTimerTickOnlyWhileNoSkypeWindowIsKnown)
{
    start(false);
    EXPECT_EQ(discoversAfterPump(), 1u);
    QK_SKYPECOM::skypeWndProc(link->ownWindow, WM_TIMER, 1, 0);
    QK_SKYPECOM::skypeWndProc(link->ownWindow, WM_TIMER, 99, 0);   // any id
    EXPECT_EQ(discoversAfterPump(), 3u);
    EXPECT_EQ(skype.discovers.back(), link->ownWindow);

    // Waiting for authorisation, refused, not available: still calling.
    for (int code : {1, 2, 3}) {
        skype.attach(link->ownWindow, code);
        QK_SKYPECOM::skypeWndProc(link->ownWindow, WM_TIMER, 1, 0);
    }
    EXPECT_EQ(discoversAfterPump(), 6u);

    attach();
    QK_SKYPECOM::skypeWndProc(link->ownWindow, WM_TIMER, 1, 0);
    EXPECT_EQ(discoversAfterPump(), 6u);

    skype.failNext = 1;
    EXPECT_EQ(link->sendCommand("SEARCH FRIENDS"), 0);
    QK_SKYPECOM::skypeWndProc(link->ownWindow, WM_TIMER, 1, 0);
    EXPECT_EQ(discoversAfterPump(), 7u);
}

TEST_F(LinkTest, CommandsCarryTheirTerminatorAndTheLinkWindowAsSender)
{
    start(false);
    attach();
    const std::string longCommand = "ALTER APPLICATION ZorvaneForTcp2000 WRITE bob:1 " + std::string(2000, 'A');
    EXPECT_EQ(link->sendCommand(longCommand.c_str()), 1);
    ASSERT_EQ(skype.commands.size(), 1u);
    EXPECT_EQ(skype.commands[0], longCommand);   // sent whole; only the trace is cut
    EXPECT_EQ(skype.commandSenders.back(), link->ownWindow);
}

TEST_F(LinkTest, FailedSendTellsZeroToEveryUserBeforeReturningAndLogsOneLinePerCommand)
{
    start(false);
    attach();
    skype.failNext = 1;
    EXPECT_EQ(link->sendCommand("GET USER bob ONLINESTATUS"), 0);
    EXPECT_EQ(link->linkStatus, 0);
    EXPECT_EQ(link->skypeWindow, nullptr);
    EXPECT_EQ(calls, (std::vector<Call>{{"hub", "status", "0"}, {"app", "status", "0"}}));
    EXPECT_EQ(lostLines(), 1);

    // No Skype window known: every further command fails the same way, and
    // none reaches the fake.
    calls.clear();
    EXPECT_EQ(link->sendCommand("GET CURRENTUSERHANDLE"), 0);
    EXPECT_EQ(link->sendCommand("SEARCH FRIENDS"), 0);
    EXPECT_EQ(lostLines(), 3);
    EXPECT_EQ(calls.size(), 4u);
    EXPECT_EQ(skype.failedCommands, (std::vector<std::string>{"GET USER bob ONLINESTATUS"}));
    EXPECT_TRUE(skype.commands.empty());
}

TEST_F(LinkTest, SendBeforeAnyAttachFails)
{
    start(false);
    EXPECT_EQ(link->sendCommand("SEARCH FRIENDS"), 0);
    EXPECT_EQ(calls, (std::vector<Call>{{"hub", "status", "0"}, {"app", "status", "0"}}));
    EXPECT_EQ(lostLines(), 1);
    EXPECT_TRUE(skype.failedCommands.empty());
}

TEST_F(LinkTest, ReattachAfterALostLinkBringsTheSameReactions)
{
    start(true);
    attach();
    skype.failNext = 1;
    link->sendCommand("GET CURRENTUSERHANDLE");
    ASSERT_EQ(link->linkStatus, 0);
    calls.clear();
    skype.commands.clear();
    EXPECT_EQ(skype.attach(link->ownWindow, 0), 1);
    EXPECT_EQ(link->linkStatus, 1);
    EXPECT_EQ(skype.commands, (std::vector<std::string>{"SEARCH FRIENDS"}));
}

struct DispatchCase {
    const char* text;
    const char* slot;    // null: no user is called
    const char* handed;  // what the slot receives
    bool unsupported = false;   // traced as an unknown notification
};
void PrintTo(const DispatchCase& c, std::ostream* out) { *out << '"' << c.text << '"'; }

class DispatchTest : public LinkTest, public testing::WithParamInterface<DispatchCase> {};

TEST_P(DispatchTest, TheFirstMatchingKeywordDecides)
{
    start(false);
    attach();
    const DispatchCase c = GetParam();
    const bool tracing = traceEnabled();
    setTraceEnabled(true);
    testing::internal::CaptureStdout();
    const LRESULT result = skype.notify(link->ownWindow, c.text);
    const std::string traced = testing::internal::GetCapturedStdout();
    setTraceEnabled(tracing);
    EXPECT_EQ(result, 1);
    EXPECT_EQ(traced.find("未サポートの書式\n") != std::string::npos, c.unsupported) << traced;
    if (c.slot == nullptr)
        EXPECT_TRUE(calls.empty()) << testing::PrintToString(calls);
    else
        EXPECT_EQ(calls, (std::vector<Call>{{"hub", c.slot, c.handed}, {"app", c.slot, c.handed}}));
}

INSTANTIATE_TEST_SUITE_P(
    Keywords, DispatchTest,
    testing::Values(
        DispatchCase{"CREATE APPLICATION ZorvaneForFtp0000", "a2a", "CREATE APPLICATION ZorvaneForFtp0000"},
        DispatchCase{"DELETE APPLICATION ZorvaneForFtp0000", "a2a", "DELETE APPLICATION ZorvaneForFtp0000"},
        DispatchCase{"ALTER APPLICATION ZorvaneForFtp0000 READ bob:1 0A0B",
                     "a2a", "ALTER APPLICATION ZorvaneForFtp0000 READ bob:1 0A0B"},
        DispatchCase{"APPLICATION ZorvaneForHttp000 STREAMS bob:1", "a2a",
                     "APPLICATION ZorvaneForHttp000 STREAMS bob:1"},
        DispatchCase{"CONNSTATUS ONLINE", nullptr, ""},
        DispatchCase{"CURRENTUSERHANDLE alice", "currentUser", "alice"},
        DispatchCase{"CURRENTUSERHANDLE", "currentUser", ""},
        DispatchCase{"USERSTATUS ONLINE", "userStatus", "ONLINE"},
        DispatchCase{"USERSTATUS", "userStatus", ""},
        DispatchCase{"USERS alice, bob", "users", "alice, bob"},
        DispatchCase{"USERS", "users", ""},
        DispatchCase{"USER bob ONLINESTATUS ONLINE", "user", "bob ONLINESTATUS ONLINE"},
        DispatchCase{"USERXbob", "user", "bob"},   // the separator is not examined
        DispatchCase{"USER", "user", ""},
        DispatchCase{"CALL 1234 STATUS RINGING", nullptr, ""},
        DispatchCase{"CHATMESSAGE 12 STATUS RECEIVED", nullptr, "", true},
        DispatchCase{"", nullptr, "", true}));

TEST_F(LinkTest, NotificationsAreReadWithinTheirByteCountOnly)
{
    start(false);
    attach();
    // Exactly the bytes of the text, no terminator: an overread shows under the sanitizer.
    const char text[] = "USERS alice, bob";
    std::unique_ptr<char[]> bytes(new char[sizeof text - 1]);
    std::memcpy(bytes.get(), text, sizeof text - 1);
    EXPECT_EQ(skype.notifyBytes(link->ownWindow, bytes.get(), sizeof text - 1), 1);
    // A terminator inside the count ends the text there.
    const char stopped[] = "USERS carol\0USERS dave";
    EXPECT_EQ(skype.notifyBytes(link->ownWindow, stopped, sizeof stopped), 1);
    // A count shorter than the text cuts it.
    EXPECT_EQ(skype.notifyBytes(link->ownWindow, "USERS erin, frank", 10), 1);
    // No bytes at all: answered, not dispatched.
    EXPECT_EQ(skype.notifyBytes(link->ownWindow, "USERS zoe", 0), 1);
    EXPECT_EQ(calls, (std::vector<Call>{{"hub", "users", "alice, bob"}, {"app", "users", "alice, bob"},
                                        {"hub", "users", "carol"}, {"app", "users", "carol"},
                                        {"hub", "users", "erin"}, {"app", "users", "erin"}}));
}

TEST_F(LinkTest, OnlySkypesOwnWindowIsHeard)
{
    start(false);
    FakeSkype stranger;
    // Not attached: nobody is heard, the would-be Skype window included.
    EXPECT_EQ(stranger.notify(link->ownWindow, "USERS mallory"), 0);
    EXPECT_EQ(skype.notify(link->ownWindow, "USERS mallory"), 0);
    COPYDATASTRUCT data{0, 14, const_cast<char*>("USERS mallory")};
    EXPECT_EQ(SendMessageA(link->ownWindow, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&data)), 0);
    EXPECT_TRUE(calls.empty());

    attach();
    EXPECT_EQ(stranger.notify(link->ownWindow, "USERS mallory"), 0);
    EXPECT_TRUE(calls.empty());
    EXPECT_EQ(skype.notify(link->ownWindow, "USERS alice"), 1);
    EXPECT_EQ(calls, (std::vector<Call>{{"hub", "users", "alice"}, {"app", "users", "alice"}}));
}

TEST_F(LinkTest, OtherMessagesGoToTheDefaultProcedure)
{
    start(false);
    EXPECT_EQ(QK_SKYPECOM::skypeWndProc(link->ownWindow, WM_USER + 5, 1, 2),
              DefWindowProcA(link->ownWindow, WM_USER + 5, 1, 2));
    EXPECT_TRUE(calls.empty());
}

TEST_F(LinkTest, DestructionDestroysTheHiddenWindowAndClearsTheInstance)
{
    start(false);
    HWND hidden = link->ownWindow;
    delete link;
    link = nullptr;
    EXPECT_FALSE(IsWindow(hidden));
    EXPECT_EQ(QK_SKYPECOM::instance, nullptr);
}

TEST(LinkClassTest, AFailedClassRegistrationShowsTheMessageAndGoesOn)
{
    WNDCLASSA taken{};
    taken.lpfnWndProc = &QK_SKYPECOM::skypeWndProc;
    taken.lpszClassName = "SKYPEWINDOW";
    RegisterClassA(&taken);   // fails when an earlier test registered it: either way it is taken
    size_t shown = shownMessageBoxes().size();

    FakeSkype skype;
    QK_SKYPECOM* link = QK_SKYPECOM::getInstance();
    link->startDiscovery(nullptr);
    ASSERT_EQ(shownMessageBoxes().size(), shown + 1);
    EXPECT_EQ(shownMessageBoxes().back().text, "This program requires Windows NT!");
    EXPECT_EQ(shownMessageBoxes().back().caption, "SKYPEWINDOW");
    EXPECT_EQ(shownMessageBoxes().back().type, MB_ICONERROR);
    EXPECT_TRUE(IsWindow(link->ownWindow));
    EXPECT_EQ(skype.attach(link->ownWindow, 0), 1);
    EXPECT_EQ(link->linkStatus, 1);
    delete link;
}

} // namespace
