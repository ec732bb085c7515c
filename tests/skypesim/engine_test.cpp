// The skypesim engine alone: a recording host, and two engines joined by a
// queued in-memory wire in place of the TCP network.
#include "engine.h"

#include <gtest/gtest.h>

#include <deque>
#include <map>
#include <memory>
#include <string>
#include <vector>

using namespace skypesim;

namespace {

constexpr ClientId kClient = 0x1234;

struct Wire;

class FakeHost : public EngineHost {
public:
    std::string name;
    std::vector<std::string> texts;        // for the client, in order
    std::vector<std::string> events;       // texts and attach messages, in order
    std::vector<std::pair<std::string, std::string>> sentToPeers;
    std::vector<bool> networkOnline;
    std::int64_t now = 0;
    std::int64_t wake = -1;
    Wire* wire = nullptr;

    void clientText(ClientId window, std::string text) override
    {
        EXPECT_EQ(window, kClient);
        events.push_back(text);
        texts.push_back(std::move(text));
    }
    void attachMessage(ClientId window, int code) override
    {
        events.push_back("attach " + std::to_string(code) + " to " + std::to_string(window));
    }
    void peerSend(const std::string& peer, std::string message) override;
    void setNetworkOnline(bool online) override { networkOnline.push_back(online); }
    std::int64_t nowMs() override { return now; }
    void wakeAt(std::int64_t ms) override { wake = ms; }

    std::vector<std::string> take()
    {
        std::vector<std::string> t = std::move(texts);
        texts.clear();
        events.clear();
        return t;
    }
};

struct Sim {
    FakeHost host;
    std::unique_ptr<Engine> engine;

    Sim(const std::string& user, std::vector<std::string> contacts,
        AttachMode mode = AttachMode::Success)
    {
        host.name = user;
        EngineConfig c;
        c.user = user;
        c.contacts = std::move(contacts);
        c.attach = mode;
        c.pendingDelayMs = 500;
        engine = std::make_unique<Engine>(c, host);
    }
    void attach()
    {
        engine->discover(kClient);
        host.take();
    }
    // One command; returns its texts (reply first).
    std::vector<std::string> cmd(const std::string& text)
    {
        EXPECT_EQ(engine->command(kClient, text), 1) << text;
        return host.take();
    }
};

// Delivers peer messages between engines, queued: nothing reaches an engine
// from within its own call.
struct Wire {
    std::map<std::string, Sim*> sims;
    std::deque<std::tuple<std::string, std::string, std::string>> queue;   // from, to, message
    bool connected = true;

    void join(Sim& a, Sim& b)
    {
        sims[a.host.name] = &a;
        sims[b.host.name] = &b;
        a.host.wire = this;
        b.host.wire = this;
        a.engine->linkUp(b.host.name);
        b.engine->linkUp(a.host.name);
        pump();
    }
    void pump()
    {
        while (!queue.empty()) {
            auto [from, to, message] = queue.front();
            queue.pop_front();
            if (connected)
                sims.at(to)->engine->peerMessage(from, message);
        }
    }
};

void FakeHost::peerSend(const std::string& peer, std::string message)
{
    sentToPeers.emplace_back(peer, message);
    if (wire != nullptr)
        wire->queue.emplace_back(name, peer, std::move(message));
}

using Texts = std::vector<std::string>;

} // namespace

// ---------------------------------------------------------------- attach

TEST(SkypesimAttach, SuccessAnswersAndAnnouncesTheUser)
{
    Sim a("alice", {"bob"});
    EXPECT_EQ(a.engine->command(kClient, "SEARCH FRIENDS"), 0) << "not attached yet";
    a.engine->discover(kClient);
    EXPECT_EQ(a.host.events, (Texts{"attach 0 to 4660", "CONNSTATUS ONLINE", "CURRENTUSERHANDLE alice",
                                    "USERSTATUS ONLINE"}));
    EXPECT_TRUE(a.engine->attached());
    a.host.take();
    EXPECT_EQ(a.engine->command(kClient + 1, "SEARCH FRIENDS"), 0) << "another window is refused";
    EXPECT_TRUE(a.host.texts.empty());
}

TEST(SkypesimAttach, CodesByMode)
{
    struct Case {
        AttachMode mode;
        const char* code;
    } cases[] = {{AttachMode::Refuse, "attach 2 to 4660"}, {AttachMode::Unavailable, "attach 3 to 4660"}};
    for (const auto& c : cases) {
        Sim a("alice", {}, c.mode);
        a.engine->discover(kClient);
        a.engine->discover(kClient);
        EXPECT_EQ(a.host.events, (Texts{c.code, c.code}));
        EXPECT_FALSE(a.engine->attached());
        EXPECT_EQ(a.engine->command(kClient, "PING"), 0);
    }
}

TEST(SkypesimAttach, PendingThenSuccessAfterTheDelay)
{
    Sim a("alice", {}, AttachMode::Pending);
    a.host.now = 1000;
    a.engine->discover(kClient);
    EXPECT_EQ(a.host.events, (Texts{"attach 1 to 4660"}));
    EXPECT_EQ(a.host.wake, 1500);
    a.host.now = 1400;
    a.engine->discover(kClient);   // asking again does not restart the wait
    a.engine->processDue();
    EXPECT_FALSE(a.engine->attached());
    a.host.now = 1500;
    a.engine->processDue();
    EXPECT_TRUE(a.engine->attached());
    EXPECT_EQ(a.host.events, (Texts{"attach 1 to 4660", "attach 1 to 4660", "attach 0 to 4660",
                                    "CONNSTATUS ONLINE", "CURRENTUSERHANDLE alice", "USERSTATUS ONLINE"}));
}

TEST(SkypesimAttach, ForcedCodesAndANewWindowReplacesTheClient)
{
    Sim a("alice", {"bob"}, AttachMode::Refuse);
    EXPECT_FALSE(a.engine->forceAttach(0)) << "nobody called yet";
    a.engine->discover(kClient);
    EXPECT_TRUE(a.engine->forceAttach(7));
    EXPECT_FALSE(a.engine->attached());
    EXPECT_TRUE(a.engine->forceAttach(0));
    EXPECT_TRUE(a.engine->attached());
    EXPECT_EQ(a.engine->client(), kClient);
}

// ---------------------------------------------------------------- commands

TEST(SkypesimCommands, ContactsStatusesAndOwnHandle)
{
    Sim a("alice", {"bob", "carol.x"});
    a.attach();
    EXPECT_EQ(a.cmd("SEARCH FRIENDS"), (Texts{"USERS bob, carol.x"}));
    EXPECT_EQ(a.cmd("GET USER bob ONLINESTATUS"), (Texts{"USER bob ONLINESTATUS OFFLINE"}));
    a.engine->linkUp("bob");
    EXPECT_EQ(a.host.take(), (Texts{"USER bob ONLINESTATUS ONLINE"}));
    EXPECT_EQ(a.cmd("GET USER bob ONLINESTATUS"), (Texts{"USER bob ONLINESTATUS ONLINE"}));
    EXPECT_EQ(a.cmd("GET USER alice ONLINESTATUS"), (Texts{"USER alice ONLINESTATUS ONLINE"}));
    EXPECT_EQ(a.cmd("GET USER zed ONLINESTATUS"), (Texts{"USER zed ONLINESTATUS UNKNOWN"}));
    EXPECT_EQ(a.cmd("GET CURRENTUSERHANDLE"), (Texts{"CURRENTUSERHANDLE alice"}));
    EXPECT_EQ(a.cmd("get userstatus"), (Texts{"USERSTATUS ONLINE"}));
    EXPECT_EQ(a.cmd("PING"), (Texts{"PONG"}));
    a.engine->linkDown("bob");
    EXPECT_EQ(a.host.take(), (Texts{"USER bob ONLINESTATUS OFFLINE"}));

    Sim lonely("zoe", {});
    lonely.attach();
    EXPECT_EQ(lonely.cmd("SEARCH FRIENDS"), (Texts{"USERS"}));
}

TEST(SkypesimCommands, ErrorReplies)
{
    Sim a("alice", {"bob"});
    a.attach();
    struct Case {
        const char* command;
        const char* reply;
    } cases[] = {
        {"", "ERROR 1 Empty command"},
        {"HELLO THERE", "ERROR 2 Unknown command"},
        {"SEARCH", "ERROR 3 SEARCH: expected SEARCH FRIENDS"},
        {"CREATE APPLICATION", "ERROR 3 CREATE: expected CREATE APPLICATION <name>"},
        {"CREATE APPLICATION bad/name", "ERROR 5 Invalid application name"},
        {"ALTER APPLICATION App1 CONNECT bob", "ERROR 6 Unknown application"},
        {"GET APPLICATION App1 CONNECTABLE", "ERROR 6 Unknown application"},
        {"DELETE APPLICATION App1", "ERROR 6 Unknown application"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(a.cmd(c.command), (Texts{c.reply})) << c.command;
    a.cmd("CREATE APPLICATION App1");
    struct Case2 {
        const char* command;
        const char* reply;
    } cases2[] = {
        {"ALTER APPLICATION App1 CONNECT zed", "ERROR 4 Unknown user"},
        {"ALTER APPLICATION App1 WRITE bob:1 00", "ERROR 7 Unknown stream"},
        {"ALTER APPLICATION App1 DISCONNECT bob:1", "ERROR 7 Unknown stream"},
        {"ALTER APPLICATION App1 WRITE bob 00", "ERROR 3 ALTER APPLICATION: expected <user>:<id>"},
        {"ALTER APPLICATION App1 READ bob:x", "ERROR 3 ALTER APPLICATION: expected <user>:<id>"},
        {"ALTER APPLICATION App1 JUMP bob:1", "ERROR 3 ALTER APPLICATION: unknown action"},
    };
    for (const auto& c : cases2)
        EXPECT_EQ(a.cmd(c.command), (Texts{c.reply})) << c.command;
}

TEST(SkypesimCommands, CreateReplyEqualsTheCommandAndIsAnnounced)
{
    Sim a("alice", {"bob"});
    a.attach();
    a.engine->linkUp("bob");
    a.host.take();
    a.host.sentToPeers.clear();
    EXPECT_EQ(a.cmd("CREATE APPLICATION ZorvaneForFtp0000"), (Texts{"CREATE APPLICATION ZorvaneForFtp0000"}));
    EXPECT_EQ(a.cmd("create application  App2"), (Texts{"create application  App2"}));
    ASSERT_EQ(a.host.sentToPeers.size(), 2u);
    EXPECT_EQ(a.host.sentToPeers[1], (std::pair<std::string, std::string>{"bob", "APPS App2 ZorvaneForFtp0000"}));
    EXPECT_EQ(a.cmd("DELETE APPLICATION App2"), (Texts{"DELETE APPLICATION App2"}));
    EXPECT_EQ(a.host.sentToPeers.back().second, "APPS ZorvaneForFtp0000");
    EXPECT_EQ(a.engine->applicationsReport(), "ZorvaneForFtp0000");
}

TEST(SkypesimCommands, FailNextCommandsAreNotTaken)
{
    Sim a("alice", {"bob"});
    a.attach();
    a.engine->failNext(2);
    EXPECT_EQ(a.engine->command(kClient, "CREATE APPLICATION App1"), 0);
    EXPECT_EQ(a.engine->command(kClient, "PING"), 0);
    EXPECT_TRUE(a.host.texts.empty());
    EXPECT_EQ(a.engine->applicationsReport(), "") << "a command not taken has no effect";
    EXPECT_EQ(a.cmd("PING"), (Texts{"PONG"}));
    EXPECT_EQ(a.engine->stats().refused, 2u);
}

TEST(SkypesimCommands, ControlNotifyOfflineAndNewContact)
{
    Sim a("alice", {"bob"});
    EXPECT_FALSE(a.engine->notify("USERSTATUS AWAY"));
    a.attach();
    EXPECT_TRUE(a.engine->notify("CALL 12 STATUS RINGING"));
    EXPECT_EQ(a.host.take(), (Texts{"CALL 12 STATUS RINGING"}));
    a.engine->linkUp("bob");
    a.host.take();
    a.engine->setOnline(false);
    EXPECT_EQ(a.host.take(), (Texts{"USER bob ONLINESTATUS OFFLINE", "USERSTATUS OFFLINE"}));
    EXPECT_EQ(a.host.networkOnline, (std::vector<bool>{false}));
    EXPECT_EQ(a.cmd("GET USER alice ONLINESTATUS"), (Texts{"USER alice ONLINESTATUS OFFLINE"}));
    a.engine->setOnline(true);
    EXPECT_EQ(a.host.take(), (Texts{"USERSTATUS ONLINE"}));
    EXPECT_TRUE(a.engine->addContact("dave"));
    EXPECT_FALSE(a.engine->addContact("dave"));
    EXPECT_FALSE(a.engine->addContact("alice"));
    EXPECT_EQ(a.host.take(), (Texts{"USER dave BUDDYSTATUS 3"}));
    EXPECT_EQ(a.cmd("SEARCH FRIENDS"), (Texts{"USERS bob, dave"}));
}

// ---------------------------------------------------------------- streams

namespace {

struct Pair : ::testing::Test {
    Sim a{"alice", {"bob"}};
    Sim b{"bob", {"alice"}};
    Wire wire;

    void SetUp() override
    {
        a.attach();
        b.attach();
        wire.join(a, b);
        a.host.take();
        b.host.take();
        a.cmd("CREATE APPLICATION App1");
        b.cmd("CREATE APPLICATION App1");
        wire.pump();
    }
    // Alice connects to bob (what alice had heard before is dropped).
    void connect()
    {
        a.host.take();
        EXPECT_EQ(a.cmd("ALTER APPLICATION App1 CONNECT bob"),
                  (Texts{"ALTER APPLICATION App1 CONNECT bob", "APPLICATION App1 CONNECTING bob"}));
        wire.pump();
    }
};

} // namespace

TEST_F(Pair, ConnectableListsOnlineContactsWithTheSameApplication)
{
    EXPECT_EQ(a.cmd("GET APPLICATION App1 CONNECTABLE"), (Texts{"APPLICATION App1 CONNECTABLE bob"}));
    a.cmd("CREATE APPLICATION App2");
    wire.pump();
    EXPECT_EQ(a.cmd("GET APPLICATION App2 CONNECTABLE"), (Texts{"APPLICATION App2 CONNECTABLE"}));
    b.cmd("CREATE APPLICATION App2");
    wire.pump();
    EXPECT_EQ(a.cmd("GET APPLICATION App2 CONNECTABLE"), (Texts{"APPLICATION App2 CONNECTABLE bob"}));
    a.engine->linkDown("bob");
    a.host.take();
    EXPECT_EQ(a.cmd("GET APPLICATION App2 CONNECTABLE"), (Texts{"APPLICATION App2 CONNECTABLE"}));
}

TEST_F(Pair, ConnectListsTheStreamAtBothEnds)
{
    connect();
    EXPECT_EQ(b.host.take(), (Texts{"APPLICATION App1 STREAMS alice:1"}));
    EXPECT_EQ(a.host.take(), (Texts{"APPLICATION App1 STREAMS bob:1", "APPLICATION App1 CONNECTING"}));
    connect();
    EXPECT_EQ(b.host.take(), (Texts{"APPLICATION App1 STREAMS alice:1 alice:2"}));
    EXPECT_EQ(a.host.take(), (Texts{"APPLICATION App1 STREAMS bob:1 bob:2", "APPLICATION App1 CONNECTING"}));
    EXPECT_EQ(a.cmd("GET APPLICATION App1 STREAMS"), (Texts{"APPLICATION App1 STREAMS bob:1 bob:2"}));
    EXPECT_EQ(a.engine->streamsReport(), "App1:bob:1 App1:bob:2");
}

TEST_F(Pair, WriteReadRhythm)
{
    connect();
    a.host.take();
    b.host.take();
    EXPECT_EQ(a.cmd("ALTER APPLICATION App1 WRITE bob:1 0a0b0c"),
              (Texts{"ALTER APPLICATION App1 WRITE bob:1", "APPLICATION App1 SENDING bob:1=6"}));
    wire.pump();
    EXPECT_EQ(a.host.take(), (Texts{"APPLICATION App1 SENDING"}));
    EXPECT_EQ(b.host.take(), (Texts{"APPLICATION App1 RECEIVED alice:1=6"}));
    EXPECT_EQ(b.cmd("ALTER APPLICATION App1 READ alice:1"),
              (Texts{"ALTER APPLICATION App1 READ alice:1 0a0b0c", "APPLICATION App1 RECEIVED"}));
    EXPECT_EQ(b.cmd("ALTER APPLICATION App1 READ alice:1"),
              (Texts{"ERROR 8 No data waiting", "APPLICATION App1 RECEIVED"}));
    // And back.
    EXPECT_EQ(b.cmd("ALTER APPLICATION App1 WRITE alice:1 ff"),
              (Texts{"ALTER APPLICATION App1 WRITE alice:1", "APPLICATION App1 SENDING alice:1=2"}));
    wire.pump();
    EXPECT_EQ(a.host.take(), (Texts{"APPLICATION App1 RECEIVED bob:1=2"}));
    EXPECT_EQ(a.cmd("ALTER APPLICATION App1 READ bob:1"),
              (Texts{"ALTER APPLICATION App1 READ bob:1 ff", "APPLICATION App1 RECEIVED"}));
}

TEST_F(Pair, OneReceivedPerReadWhileTextsWaitInArrivalOrder)
{
    connect();
    connect();
    a.host.take();
    b.host.take();
    a.cmd("ALTER APPLICATION App1 WRITE bob:2 0102");
    a.cmd("ALTER APPLICATION App1 WRITE bob:1 03");
    a.cmd("ALTER APPLICATION App1 WRITE bob:2 04");
    EXPECT_EQ(a.host.take(), (Texts{}));
    wire.pump();
    // Only one RECEIVED until a READ; the stream that waited longest first.
    EXPECT_EQ(b.host.take(), (Texts{"APPLICATION App1 RECEIVED alice:2=4"}));
    EXPECT_EQ(b.cmd("ALTER APPLICATION App1 READ alice:2"),
              (Texts{"ALTER APPLICATION App1 READ alice:2 0102",
                     "APPLICATION App1 RECEIVED alice:1=2 alice:2=2"}));
    EXPECT_EQ(b.cmd("ALTER APPLICATION App1 READ alice:1"),
              (Texts{"ALTER APPLICATION App1 READ alice:1 03", "APPLICATION App1 RECEIVED alice:2=2"}));
    EXPECT_EQ(b.cmd("ALTER APPLICATION App1 READ alice:2"),
              (Texts{"ALTER APPLICATION App1 READ alice:2 04", "APPLICATION App1 RECEIVED"}));
    // The writer: SENDING lists what is still on its way, empty at the end.
    std::vector<std::string> sending;
    for (auto& t : a.host.take())
        sending.push_back(t);
    EXPECT_EQ(sending, (Texts{"APPLICATION App1 SENDING bob:1=2 bob:2=2", "APPLICATION App1 SENDING bob:2=2",
                              "APPLICATION App1 SENDING"}));
}

TEST_F(Pair, UnreadReceivedIsRepeated)
{
    connect();
    b.host.take();
    b.host.now = 100;
    a.cmd("ALTER APPLICATION App1 WRITE bob:1 aa");
    wire.pump();
    EXPECT_EQ(b.host.take(), (Texts{"APPLICATION App1 RECEIVED alice:1=2"}));
    EXPECT_EQ(b.host.wake, 100 + kReceivedRepeatMs);
    b.host.now = 100 + kReceivedRepeatMs - 1;
    b.engine->processDue();
    EXPECT_EQ(b.host.take(), (Texts{}));
    b.host.now = 100 + kReceivedRepeatMs;
    b.engine->processDue();
    EXPECT_EQ(b.host.take(), (Texts{"APPLICATION App1 RECEIVED alice:1=2"}));
}

TEST_F(Pair, DelayedSending)
{
    connect();
    a.host.take();
    a.engine->setSendingDelay(200);
    a.host.now = 1000;
    a.cmd("ALTER APPLICATION App1 WRITE bob:1 aa");
    wire.pump();
    EXPECT_EQ(a.host.take(), (Texts{}));
    EXPECT_EQ(a.host.wake, 1200);
    a.host.now = 1199;
    a.engine->processDue();
    EXPECT_EQ(a.host.take(), (Texts{}));
    a.host.now = 1200;
    a.engine->processDue();
    EXPECT_EQ(a.host.take(), (Texts{"APPLICATION App1 SENDING"}));
}

TEST_F(Pair, DisconnectEndsTheStreamAtBothEnds)
{
    connect();
    a.host.take();
    b.host.take();
    a.cmd("ALTER APPLICATION App1 WRITE bob:1 aa");   // still on its way
    EXPECT_EQ(b.cmd("ALTER APPLICATION App1 DISCONNECT alice:1"),
              (Texts{"ALTER APPLICATION App1 DISCONNECT alice:1", "APPLICATION App1 STREAMS"}));
    wire.pump();
    EXPECT_EQ(a.host.take(), (Texts{"APPLICATION App1 STREAMS", "APPLICATION App1 SENDING"}));
    EXPECT_EQ(b.host.take(), (Texts{})) << "a text for a closed stream is dropped";
    EXPECT_EQ(a.engine->streamsReport(), "");
    EXPECT_EQ(b.engine->streamsReport(), "");
}

TEST_F(Pair, LostLinkEmptiesStreamsAtBothEnds)
{
    connect();
    connect();
    a.host.take();
    b.host.take();
    a.engine->linkDown("bob");
    b.engine->linkDown("alice");
    EXPECT_EQ(a.host.take(), (Texts{"APPLICATION App1 STREAMS bob:2", "APPLICATION App1 STREAMS",
                                    "USER bob ONLINESTATUS OFFLINE"}));
    EXPECT_EQ(b.host.take(), (Texts{"APPLICATION App1 STREAMS alice:2", "APPLICATION App1 STREAMS",
                                    "USER alice ONLINESTATUS OFFLINE"}));
}

TEST_F(Pair, ConnectWithoutThePeersApplicationFails)
{
    a.cmd("CREATE APPLICATION App2");
    wire.pump();
    EXPECT_EQ(a.cmd("ALTER APPLICATION App2 CONNECT bob"),
              (Texts{"ALTER APPLICATION App2 CONNECT bob", "APPLICATION App2 CONNECTING bob",
                     "APPLICATION App2 CONNECTING"}));
    // The peer deletes its application while the open is on its way.
    a.cmd("CREATE APPLICATION App3");
    b.cmd("CREATE APPLICATION App3");
    wire.pump();
    a.cmd("ALTER APPLICATION App3 CONNECT bob");
    b.cmd("DELETE APPLICATION App3");
    wire.pump();
    EXPECT_EQ(a.host.take(), (Texts{"APPLICATION App3 CONNECTING"}));
    EXPECT_EQ(a.engine->streamsReport(), "");
}

TEST_F(Pair, ClientGoneEndsItsApplicationsAndStreams)
{
    connect();
    a.host.take();
    b.engine->clientGone();
    wire.pump();
    EXPECT_FALSE(b.engine->attached());
    EXPECT_EQ(a.host.take(), (Texts{"APPLICATION App1 STREAMS"}));
    EXPECT_EQ(a.cmd("GET APPLICATION App1 CONNECTABLE"), (Texts{"APPLICATION App1 CONNECTABLE"}));
    EXPECT_EQ(b.engine->applicationsReport(), "");
}

TEST_F(Pair, SameWindowCallingAgainKeepsItsApplications)
{
    connect();
    b.host.take();
    a.cmd("ALTER APPLICATION App1 WRITE bob:1 aa");
    wire.pump();
    b.host.take();   // RECEIVED, which this client lost
    b.engine->discover(kClient);
    EXPECT_EQ(b.host.take(), (Texts{"CONNSTATUS ONLINE", "CURRENTUSERHANDLE bob", "USERSTATUS ONLINE"}));
    EXPECT_EQ(b.cmd("CREATE APPLICATION App1"),
              (Texts{"CREATE APPLICATION App1", "APPLICATION App1 STREAMS alice:1",
                     "APPLICATION App1 RECEIVED alice:1=2"}));
}

TEST_F(Pair, ThousandTextsInOrder)
{
    connect();
    a.host.take();
    b.host.take();
    for (int i = 0; i < 1000; ++i) {
        std::string text = std::to_string(i) + std::string(static_cast<size_t>(i % 50), 'f');
        Texts w = a.cmd("ALTER APPLICATION App1 WRITE bob:1 " + text);
        ASSERT_EQ(w.size(), 2u);
        wire.pump();
        ASSERT_EQ(a.host.take(), (Texts{"APPLICATION App1 SENDING"}));
        ASSERT_EQ(b.host.take(), (Texts{"APPLICATION App1 RECEIVED alice:1=" + std::to_string(text.size())}));
        Texts r = b.cmd("ALTER APPLICATION App1 READ alice:1");
        ASSERT_EQ(r, (Texts{"ALTER APPLICATION App1 READ alice:1 " + text, "APPLICATION App1 RECEIVED"}));
    }
    EXPECT_EQ(a.engine->stats().writes, 1000u);
    EXPECT_EQ(b.engine->stats().reads, 1000u);
}
