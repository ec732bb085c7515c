// The Skype link and the contact model against real skypesim processes:
// alice on the test's own desktop, her contact bob on another one.
#include "recorders.h"
#include "foundation/eventlog.h"
#include "skypelink/skypecom.h"
#include "skypelink/skypemodel.h"
#include "skypesim_control.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

std::vector<std::string> names(const QK_SKYPEMODEL& model)
{
    std::vector<std::string> result;
    for (const UserEntry& entry : model.userList)
        result.emplace_back(entry.name);
    return result;
}

// A control request made on another thread while this one runs the message
// loop: skypesim may be inside a SendMessage to this process at that moment.
std::string request(skypesim::SkypesimProcess& sim, const std::string& line)
{
    std::string reply;
    std::atomic<bool> done{false};
    std::thread worker([&] {
        reply = sim.control().request(line);
        done = true;
    });
    pumpUntil([&] { return done.load(); }, 15000);
    worker.join();
    return reply;
}

bool ok(skypesim::SkypesimProcess& sim, const std::string& line)
{
    return request(sim, line).rfind("OK", 0) == 0;
}

// Records when the discover broadcast reached it; answers nothing.
class BroadcastWatch {
public:
    size_t count() const { return watcher.discovers.size(); }
    FakeSkype watcher;
};

class SkypesimLinkTest : public testing::Test {
protected:
    void SetUp() override
    {
        desktop = std::getenv("ZORVANE_DESKTOP");
        dir = std::filesystem::path(desktop).parent_path().string();
        std::filesystem::create_directories(dir + "/bob-desktop");
        ASSERT_TRUE(bob.start(SKYPESIM_EXE, {"--user", "bob", "--contact", "alice", "--desktop",
                                             dir + "/bob-desktop"},
                              dir));
        bobAddress = bob.listenAddress();
        ASSERT_FALSE(bobAddress.empty());

        log = QK_EVENTLOG::getInstance();
        log->enabled = 1;
        log->addListener(&logLines);
        link = QK_SKYPECOM::getInstance();
        hub.resetsModelOnLoss = true;
        link->addUser(&hub);
        model = QK_SKYPEMODEL::getInstance();
        link->addUser(&app);
    }

    void TearDown() override
    {
        delete QK_SKYPEMODEL::instance;
        delete QK_SKYPECOM::instance;
        delete QK_EVENTLOG::instance;
        QK_EVENTLOG::instance = nullptr;
    }

    void startAlice(skypesim::SkypesimProcess& alice, const std::string& controlDir)
    {
        std::filesystem::create_directories(controlDir);
        ASSERT_TRUE(alice.start(SKYPESIM_EXE, {"--user", "alice", "--contact", "bob@" + bobAddress,
                                               "--contact", "carol", "--desktop", desktop},
                                controlDir));
        // bob online for alice before the link asks.
        const auto deadline = Clock::now() + std::chrono::seconds(15);
        while (request(alice, "contacts").find("bob:online") == std::string::npos) {
            ASSERT_LT(Clock::now(), deadline) << "bob never came online for alice";
            PumpMessages(20);
        }
    }

    // Everything the model learns after an attach.
    bool modelFilled()
    {
        return model->userList.size() == 2 && model->userList[0].status == 2 &&
               std::string(model->currentUser) == "alice";
    }

    std::string desktop;
    std::string dir;
    std::string bobAddress;
    skypesim::SkypesimProcess bob;
    std::vector<Call> calls;
    RecordingUser hub{"hub", calls};
    RecordingUser app{"app", calls};
    RecordingLogListener logLines;
    QK_EVENTLOG* log = nullptr;
    QK_SKYPECOM* link = nullptr;
    QK_SKYPEMODEL* model = nullptr;
};

TEST_F(SkypesimLinkTest, AttachesLearnsTheContactsLosesSkypeAndAttachesAgain)
{
    BroadcastWatch watch;
    {
        skypesim::SkypesimProcess alice;
        startAlice(alice, dir + "/first");

        link->startDiscovery(nullptr);
        ASSERT_TRUE(pumpUntil([&] { return link->linkStatus == 1 && modelFilled(); }, 15000))
            << "status " << link->linkStatus << ", " << model->userList.size() << " contacts";
        EXPECT_NE(link->skypeWindow, nullptr);
        EXPECT_EQ(names(*model), (std::vector<std::string>{"bob", "carol"}));
        EXPECT_EQ(model->userList[0].status, 2);
        EXPECT_EQ(model->userList[1].status, 1);
        EXPECT_EQ(model->currentUser, "alice");
        EXPECT_EQ(hub.statuses, (std::vector<int>{1}));
        EXPECT_EQ(app.statuses, (std::vector<int>{1}));

        // A notification that Skype sends unasked reaches the users.
        calls.clear();
        ASSERT_TRUE(ok(alice, "notify USERSTATUS AWAY"));
        const Call away{"hub", "userStatus", "AWAY"};
        ASSERT_TRUE(pumpUntil([&] { return std::find(calls.begin(), calls.end(), away) != calls.end(); }));
        EXPECT_EQ(model->onlineStatus, 2);

        alice.kill();
    }

    // The next command fails at once: status 0 everywhere, the model reset.
    size_t lines = logLines.lines.size();
    const auto before = Clock::now();
    EXPECT_EQ(link->sendCommand("GET CURRENTUSERHANDLE"), 0);
    EXPECT_LT(Clock::now() - before, std::chrono::seconds(3));
    EXPECT_EQ(link->linkStatus, 0);
    EXPECT_EQ(link->skypeWindow, nullptr);
    EXPECT_EQ(hub.statuses, (std::vector<int>{1, 0}));
    EXPECT_EQ(app.statuses, (std::vector<int>{1, 0}));
    EXPECT_TRUE(model->userList.empty());
    EXPECT_EQ(logLines.lines.size(), lines + 1);

    // The discover broadcast every 5 seconds while no Skype answers.
    const size_t seen = watch.count();
    ASSERT_TRUE(pumpUntil([&] { return watch.count() >= seen + 3; }, 20000));
    const std::vector<Clock::time_point> times(watch.watcher.discoverTimes.begin() + static_cast<long>(seen),
                                               watch.watcher.discoverTimes.end());
    for (size_t i = 1; i < times.size(); ++i) {
        auto gap = std::chrono::duration_cast<std::chrono::milliseconds>(times[i] - times[i - 1]).count();
        EXPECT_GE(gap, 4500) << "broadcast " << i;
        EXPECT_LE(gap, 8000) << "broadcast " << i;
    }

    // Skype back: the next broadcast finds it and everything is learnt again.
    skypesim::SkypesimProcess again;
    startAlice(again, dir + "/second");
    ASSERT_TRUE(pumpUntil([&] { return link->linkStatus == 1 && modelFilled(); }, 15000))
        << "status " << link->linkStatus << ", " << model->userList.size() << " contacts";
    EXPECT_EQ(names(*model), (std::vector<std::string>{"bob", "carol"}));
    EXPECT_EQ(hub.statuses, (std::vector<int>{1, 0, 1}));
    EXPECT_TRUE(ok(again, "quit"));
}

TEST_F(SkypesimLinkTest, RefusedCommandsLoseTheLinkLikeADeadSkype)
{
    skypesim::SkypesimProcess alice;
    startAlice(alice, dir + "/refuse");
    link->startDiscovery(nullptr);
    ASSERT_TRUE(pumpUntil([&] { return link->linkStatus == 1 && modelFilled(); }, 15000));
    ASSERT_TRUE(ok(alice, "fail 1"));
    size_t lines = logLines.lines.size();
    EXPECT_EQ(link->sendCommand("SEARCH FRIENDS"), 0);
    EXPECT_EQ(hub.statuses, (std::vector<int>{1, 0}));
    EXPECT_TRUE(model->userList.empty());
    EXPECT_EQ(logLines.lines.size(), lines + 1);
    // alice is still there: the next broadcast attaches again (driven here).
    QK_SKYPECOM::skypeWndProc(link->ownWindow, WM_TIMER, 1, 0);
    ASSERT_TRUE(pumpUntil([&] { return link->linkStatus == 1 && modelFilled(); }, 15000));
    EXPECT_TRUE(ok(alice, "quit"));
}

} // namespace
