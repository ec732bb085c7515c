// Two or three skypesims in one process, joined by real TCP links on the
// loopback; the client side is a recorder and commands go straight to the
// engine (the window layer is covered by the cross-process tests).
#include "node.h"

#include <QCoreApplication>
#include <QTcpServer>
#include <QTcpSocket>

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <string>
#include <vector>

using namespace skypesim;

namespace {

constexpr ClientId kClient = 0x77;

bool pumpUntil(const std::function<bool()>& done, int timeoutMs = 10000)
{
    QElapsedTimer t;
    t.start();
    while (!done()) {
        if (t.elapsed() > timeoutMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    return true;
}

void pumpFor(int ms)
{
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < ms)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
}

std::uint16_t freePort()
{
    QTcpServer s;
    s.listen(QHostAddress::LocalHost, 0);
    return s.serverPort();
}

struct Recorder : ClientPort {
    std::vector<std::string> texts;
    size_t seen = 0;   // texts before this index were looked at
    void clientText(ClientId window, std::string text) override
    {
        EXPECT_EQ(window, kClient);
        texts.push_back(std::move(text));
    }
    void attachMessage(ClientId, int) override {}
    bool has(const std::string& t) const { return std::find(texts.begin(), texts.end(), t) != texts.end(); }
    // The next text not looked at yet, or "".
    std::string next() { return seen < texts.size() ? texts[seen++] : std::string(); }
};

struct Sim {
    Recorder port;
    std::unique_ptr<Node> node;

    Sim(const std::string& user, std::vector<ContactAddress> contacts, std::uint16_t listenPort = 0)
    {
        Options o;
        o.user = user;
        o.contacts = std::move(contacts);
        o.listenPort = listenPort;
        node = std::make_unique<Node>(o, port);
        std::string error;
        EXPECT_TRUE(node->start(error)) << error;
        node->engine().discover(kClient);
    }
    Engine& engine() { return node->engine(); }
    std::uint16_t port_() const { return node->network().listenPort(); }
    int cmd(const std::string& text) { return node->engine().command(kClient, text); }
    bool online(const std::string& contact) { return node->network().isUp(contact); }
};

ContactAddress at(const std::string& name, std::uint16_t port) { return {name, "127.0.0.1", port}; }

} // namespace

TEST(SkypesimNetwork, ContactComesOnlineAndGoesAway)
{
    Sim alice("alice", {{"bob", "", 0}});
    auto bob = std::make_unique<Sim>("bob", std::vector<ContactAddress>{at("alice", alice.port_())});
    ASSERT_TRUE(pumpUntil([&] { return alice.port.has("USER bob ONLINESTATUS ONLINE") &&
                                       bob->port.has("USER alice ONLINESTATUS ONLINE"); }));
    EXPECT_EQ(alice.engine().contactsReport(), "bob:online");
    bob.reset();   // the process ends
    ASSERT_TRUE(pumpUntil([&] { return alice.port.has("USER bob ONLINESTATUS OFFLINE"); }));
    EXPECT_EQ(alice.engine().contactsReport(), "bob:offline");
}

TEST(SkypesimNetwork, BothEndsDialingMakeOneLink)
{
    std::uint16_t pa = freePort();
    std::uint16_t pb = freePort();
    Sim alice("alice", {at("bob", pb)}, pa);
    Sim bob("bob", {at("alice", pa)}, pb);
    ASSERT_TRUE(pumpUntil([&] { return alice.online("bob") && bob.online("alice"); }));
    pumpFor(3 * kRedialMs);
    EXPECT_TRUE(alice.online("bob"));
    EXPECT_TRUE(bob.online("alice"));
    // One ONLINE each, no flapping.
    EXPECT_EQ(std::count(alice.port.texts.begin(), alice.port.texts.end(), "USER bob ONLINESTATUS ONLINE"), 1);
    EXPECT_EQ(std::count(alice.port.texts.begin(), alice.port.texts.end(), "USER bob ONLINESTATUS OFFLINE"), 0);
    EXPECT_EQ(std::count(bob.port.texts.begin(), bob.port.texts.end(), "USER alice ONLINESTATUS OFFLINE"), 0);
}

TEST(SkypesimNetwork, UnknownPeerIsNotTaken)
{
    Sim alice("alice", {{"bob", "", 0}});
    Sim mallory("mallory", {at("alice", alice.port_())});
    Sim bob("bob", {at("alice", alice.port_())});
    ASSERT_TRUE(pumpUntil([&] { return alice.online("bob"); }));
    pumpFor(2 * kRedialMs);
    EXPECT_FALSE(mallory.online("alice"));
    EXPECT_EQ(alice.engine().contactsReport(), "bob:online");
}

TEST(SkypesimNetwork, AStrangerAnnouncingAHugeFrameIsRejectedAtOnce)
{
    Sim alice("alice", {{"bob", "", 0}});
    QTcpSocket stranger;
    stranger.connectToHost(QHostAddress::LocalHost, alice.port_());
    ASSERT_TRUE(pumpUntil([&] { return stranger.state() == QAbstractSocket::ConnectedState; }));
    // A length just below the largest frame, and nothing of a HELLO.
    const std::uint32_t n = kMaxFrame - 1;
    const char header[4] = {static_cast<char>(n >> 24), static_cast<char>(n >> 16),
                            static_cast<char>(n >> 8), static_cast<char>(n)};
    stranger.write(header, 4);
    stranger.write(std::string(4096, 'x').data(), 4096);
    QByteArray got;
    ASSERT_TRUE(pumpUntil([&] {
        got += stranger.readAll();
        return stranger.state() == QAbstractSocket::UnconnectedState;
    }));
    got += stranger.readAll();
    EXPECT_TRUE(got.contains("REJECT protocol"))
        << "the link is refused with a reason, not held until its handshake times out";
    EXPECT_EQ(alice.engine().contactsReport(), "bob:offline");
}

namespace {

struct Linked : ::testing::Test {
    std::unique_ptr<Sim> alice;
    std::unique_ptr<Sim> bob;

    void SetUp() override
    {
        alice = std::make_unique<Sim>("alice", std::vector<ContactAddress>{{"bob", "", 0}});
        bob = std::make_unique<Sim>("bob", std::vector<ContactAddress>{at("alice", alice->port_())});
        ASSERT_TRUE(pumpUntil([&] { return alice->online("bob") && bob->online("alice"); }));
        ASSERT_EQ(alice->cmd("CREATE APPLICATION ZorvaneForHttp000"), 1);
        ASSERT_EQ(bob->cmd("CREATE APPLICATION ZorvaneForHttp000"), 1);
        ASSERT_TRUE(pumpUntil([&] {
            alice->cmd("GET APPLICATION ZorvaneForHttp000 CONNECTABLE");
            pumpFor(10);
            return alice->port.has("APPLICATION ZorvaneForHttp000 CONNECTABLE bob");
        }));
        alice->cmd("ALTER APPLICATION ZorvaneForHttp000 CONNECT bob");
        ASSERT_TRUE(pumpUntil([&] {
            return alice->port.has("APPLICATION ZorvaneForHttp000 STREAMS bob:1") &&
                   bob->port.has("APPLICATION ZorvaneForHttp000 STREAMS alice:1");
        }));
        alice->port.seen = alice->port.texts.size();
        bob->port.seen = bob->port.texts.size();
    }
};

} // namespace

TEST_F(Linked, LargeTextsKeepTheirOrderAndRhythm)
{
    const std::string app = "ZorvaneForHttp000";
    const int kTexts = 1000;
    auto textFor = [](int i) {
        // Up to 20,560 hex characters, the largest packet the tunnel writes.
        size_t len = 2 * static_cast<size_t>(40 + (i * 7919) % 10241);
        std::string t(len, '0');
        std::string n = std::to_string(i);
        std::copy(n.begin(), n.end(), t.begin());
        for (size_t k = n.size(); k < len; ++k)
            t[k] = "0123456789abcdef"[(k + static_cast<size_t>(i)) % 16];
        return t;
    };
    int written = 0;
    int read = 0;
    bool writerReady = true;
    bool failed = false;
    std::string sendingEntry;
    auto step = [&] {
        if (writerReady && written < kTexts) {
            std::string t = textFor(written);
            ASSERT_EQ(alice->cmd("ALTER APPLICATION " + app + " WRITE bob:1 " + t), 1);
            sendingEntry = "APPLICATION " + app + " SENDING bob:1=" + std::to_string(t.size());
            ++written;
            writerReady = false;
        }
        for (std::string s = alice->port.next(); !s.empty(); s = alice->port.next()) {
            if (s == "APPLICATION " + app + " SENDING") {
                writerReady = true;
            } else if (s != "ALTER APPLICATION " + app + " WRITE bob:1" && s != sendingEntry) {
                ADD_FAILURE() << "writer heard: " << s.substr(0, 200);
                failed = true;
            }
        }
        for (std::string s = bob->port.next(); !s.empty(); s = bob->port.next()) {
            if (s.rfind("APPLICATION " + app + " RECEIVED alice:1=", 0) == 0) {
                ASSERT_EQ(bob->cmd("ALTER APPLICATION " + app + " READ alice:1"), 1);
            } else if (s.rfind("ALTER APPLICATION " + app + " READ alice:1 ", 0) == 0) {
                std::string expected = "ALTER APPLICATION " + app + " READ alice:1 " + textFor(read);
                if (s != expected) {
                    ADD_FAILURE() << "text " << read << " arrived wrong";
                    failed = true;
                }
                ++read;
            } else if (s != "APPLICATION " + app + " RECEIVED") {
                ADD_FAILURE() << "reader heard: " << s.substr(0, 200);
                failed = true;
            }
        }
    };
    ASSERT_TRUE(pumpUntil([&] {
        step();
        return failed || read == kTexts;
    }, 120000));
    EXPECT_FALSE(failed);
    EXPECT_EQ(read, kTexts);
    EXPECT_EQ(bob->engine().stats().reads, static_cast<std::uint64_t>(kTexts));
}

TEST_F(Linked, DisconnectEmptiesStreamsAtBothEnds)
{
    ASSERT_EQ(bob->cmd("ALTER APPLICATION ZorvaneForHttp000 DISCONNECT alice:1"), 1);
    ASSERT_TRUE(pumpUntil([&] {
        return alice->port.has("APPLICATION ZorvaneForHttp000 STREAMS") &&
               bob->port.has("APPLICATION ZorvaneForHttp000 STREAMS");
    }));
    EXPECT_EQ(alice->node->control("streams"), "OK");
    EXPECT_EQ(bob->node->control("streams"), "OK");
}

TEST_F(Linked, CutLinkEmptiesStreamsAtBothEndsUntilRestored)
{
    EXPECT_EQ(alice->node->control("streams"), "OK ZorvaneForHttp000:bob:1");
    EXPECT_EQ(alice->node->control("cut bob"), "OK");
    ASSERT_TRUE(pumpUntil([&] {
        return alice->port.has("APPLICATION ZorvaneForHttp000 STREAMS") &&
               bob->port.has("APPLICATION ZorvaneForHttp000 STREAMS") &&
               bob->port.has("USER alice ONLINESTATUS OFFLINE");
    }));
    EXPECT_EQ(bob->node->control("streams"), "OK");
    pumpFor(3 * kRedialMs);
    EXPECT_EQ(alice->node->control("contacts"), "OK bob:offline") << "bob keeps dialing but is refused";
    EXPECT_EQ(alice->node->control("restore bob"), "OK");
    ASSERT_TRUE(pumpUntil([&] { return alice->online("bob") && bob->online("alice"); }));
}

TEST_F(Linked, OfflineDropsEverythingAndOnlineComesBack)
{
    EXPECT_EQ(bob->node->control("offline"), "OK");
    ASSERT_TRUE(pumpUntil([&] {
        return bob->port.has("USERSTATUS OFFLINE") && alice->port.has("USER bob ONLINESTATUS OFFLINE") &&
               alice->port.has("APPLICATION ZorvaneForHttp000 STREAMS");
    }));
    pumpFor(2 * kRedialMs);
    EXPECT_FALSE(alice->online("bob"));
    alice->cmd("GET APPLICATION ZorvaneForHttp000 CONNECTABLE");
    EXPECT_EQ(alice->port.texts.back(), "APPLICATION ZorvaneForHttp000 CONNECTABLE");
    EXPECT_EQ(bob->node->control("online"), "OK");
    ASSERT_TRUE(pumpUntil([&] { return alice->online("bob") && bob->online("alice"); }));
}

TEST_F(Linked, PeerExitEmptiesStreams)
{
    bob.reset();
    ASSERT_TRUE(pumpUntil([&] { return alice->port.has("APPLICATION ZorvaneForHttp000 STREAMS"); }));
    EXPECT_EQ(alice->node->control("streams"), "OK");
}

TEST_F(Linked, ControlCommands)
{
    Node& n = *alice->node;
    std::string info = n.control("info");
    EXPECT_EQ(info.rfind("OK user=alice listen=127.0.0.1:", 0), 0u) << info;
    EXPECT_NE(info.find(" status=ONLINE attached=1 client=0x77 apps=ZorvaneForHttp000"), std::string::npos)
        << info;
    struct Case {
        const char* line;
        const char* reply;
    } cases[] = {
        {"ping", "OK"},
        {"contacts", "OK bob:online"},
        {"streams", "OK ZorvaneForHttp000:bob:1"},
        {"fail x", "ERR fail needs a count (0 or more)"},
        {"fail -1", "ERR fail needs a count (0 or more)"},
        {"cut zed", "ERR unknown contact 'zed'"},
        {"delay-sending soon", "ERR delay-sending needs milliseconds (0 to 3600000)"},
        {"attach", "ERR attach needs a code (0 or more)"},
        {"notify", "ERR notify needs a text"},
        {"add-contact bad,name", "ERR bad contact name 'bad,name'"},
        {"add-contact bob", "ERR bob is already a contact or the own name"},
        {"add-contact carl 127.0.0.1", "ERR bad address '127.0.0.1' (expected HOST:PORT)"},
        {"jump", "ERR unknown control command 'jump'"},
        {"streams now", "ERR unknown control command 'streams now'"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(n.control(c.line), c.reply) << c.line;

    alice->port.texts.clear();
    EXPECT_EQ(n.control("notify USER bob BUDDYSTATUS 2"), "OK");
    EXPECT_EQ(n.control("add-contact carl"), "OK");
    EXPECT_EQ(alice->port.texts, (std::vector<std::string>{"USER bob BUDDYSTATUS 2", "USER carl BUDDYSTATUS 3"}));
    EXPECT_EQ(n.control("contacts"), "OK bob:online carl:offline");

    EXPECT_EQ(n.control("fail 1"), "OK");
    EXPECT_EQ(alice->cmd("PING"), 0);
    EXPECT_EQ(alice->cmd("PING"), 1);
    EXPECT_EQ(n.control("stats").rfind("OK commands=", 0), 0u);
    EXPECT_NE(n.control("stats").find(" refused=1 "), std::string::npos);
}

TEST_F(Linked, DelayedSendingHoldsTheWriter)
{
    EXPECT_EQ(alice->node->control("delay-sending 300"), "OK");
    QElapsedTimer t;
    t.start();
    alice->cmd("ALTER APPLICATION ZorvaneForHttp000 WRITE bob:1 00");
    ASSERT_TRUE(pumpUntil([&] { return bob->port.has("APPLICATION ZorvaneForHttp000 RECEIVED alice:1=2"); }));
    ASSERT_TRUE(pumpUntil([&] { return alice->port.has("APPLICATION ZorvaneForHttp000 SENDING"); }));
    EXPECT_GE(t.elapsed(), 300);   // not a speed check: the delay was asked for
}

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
