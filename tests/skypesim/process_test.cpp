// Real skypesim processes on a private desktop, driven by small API clients
// of this test (windows of the test process) and by their control channels.
#include "sim_client.h"
#include "skypesim_control.h"

#include "platform/winuser.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

using skypesim::SkypesimProcess;

namespace {

std::string workDir;   // control sockets and logs (the desktop is elsewhere)

const std::string kExe = SKYPESIM_EXE;

void pumpSome() { PumpMessages(5); }

struct Sim {
    SkypesimProcess process;
    explicit Sim() { process.control().setIdle(pumpSome); }
    bool start(const std::vector<std::string>& args)
    {
        bool ok = process.start(kExe, args, workDir);
        process.control().setIdle(pumpSome);
        return ok;
    }
    std::string ctl(const std::string& line) { return process.control().request(line); }
    HWND window() { return windowFromText(process.control().info("window")); }
    std::string log() const
    {
        std::string cmd = "tail -n 40 " + process.logPath();
        std::string out;
        if (FILE* f = popen(cmd.c_str(), "r")) {
            char buf[512];
            while (fgets(buf, sizeof buf, f))
                out += buf;
            pclose(f);
        }
        return out;
    }
};

std::string readFile(const std::string& path)
{
    std::string out;
    if (FILE* f = std::fopen(path.c_str(), "r")) {
        char buf[512];
        size_t n;
        while ((n = std::fread(buf, 1, sizeof buf, f)) > 0)
            out.append(buf, n);
        std::fclose(f);
    }
    return out;
}

// Calls one skypesim's window directly (two skypesims share this desktop).
bool attach(SimClient& client, Sim& sim)
{
    client.discover(sim.window());
    return pumpUntil([&] { return client.skype() != nullptr; });
}

} // namespace

TEST(SkypesimProcess, BadCommandLineAndHelp)
{
    EXPECT_EQ(WEXITSTATUS(std::system((kExe + " --user alice --bogus 2>/dev/null").c_str())), 2);
    EXPECT_EQ(WEXITSTATUS(std::system((kExe + " --contact bob 2>/dev/null").c_str())), 2);
    EXPECT_EQ(WEXITSTATUS(std::system((kExe + " --help >/dev/null").c_str())), 0);
    EXPECT_EQ(WEXITSTATUS(std::system((kExe + " --user a --listen 8.8.8.8:1 2>/dev/null").c_str())), 1);
}

TEST(SkypesimProcess, PythonControlHelper)
{
    std::string dir = workDir + "/py";
    ASSERT_EQ(mkdir(dir.c_str(), 0700), 0);
    std::string cmd = std::string("/usr/bin/python3 ") + SKYPESIM_TESTS + "/control_py_check.py " + kExe + " " +
                      SKYPESIM_TOOLS + " " + dir + " > " + dir + "/check.log 2>&1";
    int rc = std::system(cmd.c_str());
    EXPECT_EQ(WEXITSTATUS(rc), 0) << readFile(dir + "/check.log");
}

TEST(SkypesimProcess, BroadcastAttachAndTheContactList)
{
    Sim alice;
    ASSERT_TRUE(alice.start({"--user", "alice", "--contact", "bob", "--contact", "carol", "--trace"}));
    SimClient client;
    client.discover();
    ASSERT_TRUE(pumpUntil([&] { return client.texts().size() >= 3; })) << alice.log();
    EXPECT_EQ(client.attachCodes(), (std::vector<int>{0}));
    EXPECT_EQ(client.texts(), (std::vector<std::string>{"CONNSTATUS ONLINE", "CURRENTUSERHANDLE alice",
                                                        "USERSTATUS ONLINE"}));
    EXPECT_EQ(client.send("SEARCH FRIENDS"), 1);
    ASSERT_TRUE(pumpUntil([&] { return client.has("USERS bob, carol"); }));
    EXPECT_EQ(client.send("GET USER bob ONLINESTATUS"), 1);
    ASSERT_TRUE(pumpUntil([&] { return client.has("USER bob ONLINESTATUS OFFLINE"); }));
    EXPECT_EQ(client.send("BOGUS"), 1);
    ASSERT_TRUE(pumpUntil([&] { return client.has("ERROR 2 Unknown command"); }));
    EXPECT_EQ(alice.ctl("notify USER carol BUDDYSTATUS 3"), "OK");
    ASSERT_TRUE(pumpUntil([&] { return client.has("USER carol BUDDYSTATUS 3"); }));
    EXPECT_EQ(alice.ctl("info").find("attached=1"), alice.ctl("info").find("attached=")) << alice.ctl("info");
    EXPECT_TRUE(alice.process.quit());
    EXPECT_EQ(alice.process.exitStatus(), 0);
}

TEST(SkypesimProcess, AttachModes)
{
    struct Case {
        const char* mode;
        std::vector<int> codes;
    } cases[] = {{"pending:200", {1, 0}}, {"refuse", {2}}, {"unavailable", {3}}};
    for (const auto& c : cases) {
        Sim sim;
        ASSERT_TRUE(sim.start({"--user", "alice", "--attach", c.mode}));
        SimClient client;
        client.discover();
        ASSERT_TRUE(pumpUntil([&] { return client.attachCodes().size() >= c.codes.size(); })) << c.mode;
        PumpMessages(300);
        EXPECT_EQ(client.attachCodes(), c.codes) << c.mode;
        if (c.codes.back() != 0) {
            // Not attached: commands are not taken; the control channel forces it.
            EXPECT_EQ(sim.ctl("attach 0"), "OK");
            ASSERT_TRUE(pumpUntil([&] { return client.skype() != nullptr; }));
        }
        EXPECT_EQ(client.send("PING"), 1) << c.mode;
    }
}

TEST(SkypesimProcess, FailedCommandsAndAGoneSkype)
{
    Sim alice;
    ASSERT_TRUE(alice.start({"--user", "alice"}));
    SimClient client;
    client.discover();
    ASSERT_TRUE(pumpUntil([&] { return client.skype() != nullptr; }));
    EXPECT_EQ(alice.ctl("fail 2"), "OK");
    EXPECT_EQ(client.send("PING"), 0);
    EXPECT_EQ(client.send("PING"), 0);
    EXPECT_EQ(client.send("PING"), 1);
    ASSERT_TRUE(pumpUntil([&] { return client.has("PONG"); }));
    alice.process.kill();
    DWORD t = GetTickCount();
    EXPECT_EQ(client.send("PING"), 0);
    EXPECT_LT(GetTickCount() - t, 5000u) << "a gone Skype answers 0 at once, not after a time-out";
}

TEST(SkypesimProcess, RepliesArriveAfterTheCommandReturned)
{
    Sim alice;
    ASSERT_TRUE(alice.start({"--user", "alice"}));
    SimClient client;
    client.discover();
    ASSERT_TRUE(pumpUntil([&] { return client.skype() != nullptr; }));
    PumpMessages(200);
    for (int i = 0; i < 300; ++i) {
        size_t before = client.texts().size();
        ASSERT_EQ(client.send("PING"), 1);
        ASSERT_EQ(client.texts().size(), before) << "reply handled inside the SendMessage, round " << i;
        ASSERT_TRUE(pumpUntil([&] { return client.texts().size() > before; })) << "round " << i;
        EXPECT_EQ(client.texts().back(), "PONG");
    }
}

namespace {

// Two skypesims on the loopback, one client each, application App1 created
// on both and a stream from alice to bob.
struct TwoSims : ::testing::Test {
    Sim alice;
    Sim bob;
    std::unique_ptr<SimClient> ownA = std::make_unique<SimClient>();
    std::unique_ptr<SimClient> ownB = std::make_unique<SimClient>();
    SimClient& ca = *ownA;
    SimClient& cb = *ownB;

    void SetUp() override
    {
        ASSERT_TRUE(alice.start({"--user", "alice", "--contact", "bob", "--trace"}));
        std::string listen = alice.process.listenAddress();
        ASSERT_FALSE(listen.empty());
        ASSERT_TRUE(bob.start({"--user", "bob", "--contact", "alice@" + listen, "--trace"}));
        ASSERT_TRUE(attach(ca, alice)) << alice.log();
        ASSERT_TRUE(attach(cb, bob)) << bob.log();
        ASSERT_TRUE(pumpUntil([&] { return ca.has("USER bob ONLINESTATUS ONLINE") ||
                                           alice.ctl("contacts") == "OK bob:online"; }));
        ASSERT_EQ(ca.send("CREATE APPLICATION App1"), 1);
        ASSERT_EQ(cb.send("CREATE APPLICATION App1"), 1);
        ASSERT_TRUE(pumpUntil([&] { return ca.has("CREATE APPLICATION App1") && cb.has("CREATE APPLICATION App1"); }));
        ASSERT_TRUE(pumpUntil([&] {
            ca.send("GET APPLICATION App1 CONNECTABLE");
            PumpMessages(20);
            return ca.has("APPLICATION App1 CONNECTABLE bob");
        }));
        ASSERT_EQ(ca.send("ALTER APPLICATION App1 CONNECT bob"), 1);
        ASSERT_TRUE(pumpUntil([&] {
            return ca.has("APPLICATION App1 STREAMS bob:1") && cb.has("APPLICATION App1 STREAMS alice:1") &&
                   ca.has("APPLICATION App1 CONNECTING");
        })) << alice.log() << bob.log();
        EXPECT_TRUE(ca.has("ALTER APPLICATION App1 CONNECT bob"));
        EXPECT_TRUE(ca.has("APPLICATION App1 CONNECTING bob"));
        ca.skipSeen();
        cb.skipSeen();
    }
};

} // namespace

TEST_F(TwoSims, ThousandTextsWithTheSendingReceivedRhythm)
{
    const int kTexts = 1000;
    auto textFor = [](int i) {
        // 2 to 20,560 hex characters: up to the largest packet the tunnel writes.
        std::string t = std::to_string(i) + ":";
        t.resize(2 + static_cast<size_t>((i * 7919) % 10280) * 2, 'a');
        return t;
    };
    int written = 0;
    int read = 0;
    bool failed = false;
    std::vector<std::string> expectWriter;   // what the writer must hear next, in order
    // The reader answers RECEIVED with READ from within the notification, as
    // the program does.
    cb.onText = [&](const std::string& s) {
        if (s.rfind("APPLICATION App1 RECEIVED alice:1=", 0) == 0) {
            if (cb.send("ALTER APPLICATION App1 READ alice:1") != 1)
                failed = true;
        }
    };
    DWORD start = GetTickCount();
    while (read < kTexts && !failed) {
        if (expectWriter.empty() && written < kTexts) {
            std::string t = textFor(written);
            ASSERT_EQ(ca.send("ALTER APPLICATION App1 WRITE bob:1 " + t), 1);
            expectWriter = {"ALTER APPLICATION App1 WRITE bob:1",
                            "APPLICATION App1 SENDING bob:1=" + std::to_string(t.size()),
                            "APPLICATION App1 SENDING"};
            ++written;
        }
        PumpMessages(5, [&] { return ca.unseen() || cb.unseen(); });
        for (std::string s = ca.next(); !s.empty(); s = ca.next()) {
            if (expectWriter.empty() || s != expectWriter.front()) {
                ADD_FAILURE() << "writer heard " << s.substr(0, 100) << " instead of "
                              << (expectWriter.empty() ? "nothing" : expectWriter.front());
                failed = true;
                break;
            }
            expectWriter.erase(expectWriter.begin());
        }
        for (std::string s = cb.next(); !s.empty(); s = cb.next()) {
            if (s.rfind("ALTER APPLICATION App1 READ alice:1 ", 0) == 0) {
                if (s != "ALTER APPLICATION App1 READ alice:1 " + textFor(read)) {
                    ADD_FAILURE() << "text " << read << " arrived as " << s.substr(0, 100);
                    failed = true;
                }
                ++read;
            } else if (s != "APPLICATION App1 RECEIVED alice:1=" + std::to_string(textFor(read).size()) &&
                       s != "APPLICATION App1 RECEIVED") {
                ADD_FAILURE() << "reader heard: " << s.substr(0, 100);
                failed = true;
            }
        }
        ASSERT_LT(GetTickCount() - start, 120000u) << "stuck at " << read << alice.log() << bob.log();
    }
    EXPECT_FALSE(failed);
    EXPECT_EQ(read, kTexts);
    EXPECT_NE(bob.ctl("stats").find("reads=1000"), std::string::npos) << bob.ctl("stats");
    RecordProperty("milliseconds", static_cast<int>(GetTickCount() - start));
}

TEST_F(TwoSims, DisconnectAndCutLinkEmptyStreamsAtBothEnds)
{
    ASSERT_EQ(ca.send("ALTER APPLICATION App1 DISCONNECT bob:1"), 1);
    ASSERT_TRUE(pumpUntil([&] { return ca.has("APPLICATION App1 STREAMS") && cb.has("APPLICATION App1 STREAMS"); }));
    EXPECT_TRUE(ca.has("ALTER APPLICATION App1 DISCONNECT bob:1"));
    EXPECT_EQ(alice.ctl("streams"), "OK");
    EXPECT_EQ(bob.ctl("streams"), "OK");

    ASSERT_EQ(cb.send("ALTER APPLICATION App1 CONNECT alice"), 1);
    ASSERT_TRUE(pumpUntil([&] { return bob.ctl("streams") == "OK App1:alice:2" && alice.ctl("streams") == "OK App1:bob:2"; }));
    ca.skipSeen();
    cb.skipSeen();
    EXPECT_EQ(bob.ctl("cut alice"), "OK");
    std::vector<std::string> aSeen, bSeen;
    ASSERT_TRUE(pumpUntil([&] {
        for (std::string s = ca.next(); !s.empty(); s = ca.next())
            aSeen.push_back(s);
        for (std::string s = cb.next(); !s.empty(); s = cb.next())
            bSeen.push_back(s);
        auto in = [](const std::vector<std::string>& v, const char* t) {
            return std::find(v.begin(), v.end(), t) != v.end();
        };
        return in(aSeen, "APPLICATION App1 STREAMS") && in(bSeen, "APPLICATION App1 STREAMS") &&
               in(aSeen, "USER bob ONLINESTATUS OFFLINE") && in(bSeen, "USER alice ONLINESTATUS OFFLINE");
    }));
    EXPECT_EQ(bob.ctl("restore alice"), "OK");
    ASSERT_TRUE(pumpUntil([&] { return cb.has("USER alice ONLINESTATUS ONLINE") && bob.ctl("contacts") == "OK alice:online"; }));
}

TEST_F(TwoSims, ClientWindowGoneEndsItsStreams)
{
    ownB.reset();   // bob's client window is destroyed
    ASSERT_TRUE(pumpUntil([&] { return ca.has("APPLICATION App1 STREAMS"); }, 15000)) << bob.log();
    EXPECT_EQ(bob.ctl("info").find("attached=0") != std::string::npos, true) << bob.ctl("info");
    ca.send("GET APPLICATION App1 CONNECTABLE");
    ASSERT_TRUE(pumpUntil([&] { return ca.has("APPLICATION App1 CONNECTABLE"); }));
}

TEST_F(TwoSims, PeerKilledEmptiesStreams)
{
    bob.process.kill();
    ASSERT_TRUE(pumpUntil([&] { return ca.has("APPLICATION App1 STREAMS") && ca.has("USER bob ONLINESTATUS OFFLINE"); }));
    EXPECT_EQ(alice.ctl("streams"), "OK");
}

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    char desktop[] = "/tmp/skypesim-desktop-XXXXXX";
    char work[] = "/tmp/skypesim-work-XXXXXX";
    if (mkdtemp(desktop) == nullptr || mkdtemp(work) == nullptr)
        return 1;
    workDir = work;
    setenv("ZORVANE_DESKTOP", desktop, 1);
    InitPlatform(argc, argv);
    int rc = RUN_ALL_TESTS();
    std::system((std::string("rm -rf ") + desktop + " " + work).c_str());
    return rc;
}
