// The communication hub: wiring at start, relays and their order, the
// connectable question, teardown.
#include "app/zorvanefortcpcom.h"
#include "support/fakeskype.h"
#include "support/testpropaty.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <string>
#include <vector>

namespace {

class Recorder : public CZorvaneForTcpComListener {
public:
    std::vector<std::string> events;
    void notifyLogLine(const char* line) override { events.push_back(std::string("log ") + line); }
    void notifyLinkStatus() override { events.push_back("link"); }
    void notifyModelChange() override { events.push_back("model"); }
    void notifyReserved() override { events.push_back("reserved"); }
    void notifyStreamChange() override { events.push_back("streams"); }
    void notifyTraffic(int channel, double, double) override
    {
        events.push_back("traffic " + std::to_string(channel));
    }
    std::vector<std::string> withoutLog() const
    {
        std::vector<std::string> out;
        for (const std::string& e : events) {
            if (e.rfind("log ", 0) != 0)
                out.push_back(e);
        }
        return out;
    }
};

class HubTest : public testing::Test {
protected:
    void SetUp() override
    {
        settings = new TestPropaty;
        // Listeners on system-chosen ports, no forward target.
        for (int ch = 0; ch < 5; ++ch) {
            settings->localPort[ch] = 0;
            settings->forwardHost[ch] = "";
            settings->forwardPort[ch] = 0;
        }
        hub = new CZorvaneForTcpCom;
        hub->addListener(&recorder);
        QK_EVENTLOG::getInstance()->enabled = 1;
    }
    void TearDown() override
    {
        delete hub;
        delete skype;
        delete settings;
    }
    void startAttached()
    {
        hub->start(nullptr);
        skype = new FakeSkype;
        skype->attach(hub->skypeCom->ownWindow, 0);
        recorder.events.clear();
    }

    TestPropaty* settings = nullptr;
    CZorvaneForTcpCom* hub = nullptr;
    FakeSkype* skype = nullptr;
    Recorder recorder;
};

TEST_F(HubTest, StartCreatesTheServicesAndNamesTheApplications)
{
    settings->ftpApplicationName = "MyFtpApplication1";
    hub->start(nullptr);
    ASSERT_NE(hub->skypeCom, nullptr);
    ASSERT_NE(hub->skypeModel, nullptr);
    ASSERT_NE(hub->a2aModel, nullptr);
    EXPECT_EQ(hub->skypeCom, QK_SKYPECOM::instance);
    // The hub is the link's first user, then the contact model, then the application model.
    ASSERT_EQ(hub->skypeCom->users.size(), 3u);
    EXPECT_EQ(hub->skypeCom->users[0], static_cast<QK_SKYPECOMUSER*>(hub));
    EXPECT_EQ(hub->skypeCom->users[1], static_cast<QK_SKYPECOMUSER*>(hub->skypeModel));
    EXPECT_EQ(hub->skypeCom->users[2], static_cast<QK_SKYPECOMUSER*>(hub->a2aModel));
    const char* names[5] = {"MyFtpApplication1", "ZorvaneForHttp000", "ZorvaneForCvs0000",
                            "ZorvaneForVnc0000", "ZorvaneForTcp2000"};
    for (int channel = 0; channel < 5; ++channel) {
        EXPECT_EQ(hub->a2aModel->applications[channel].index, channel);
        EXPECT_STREQ(hub->a2aModel->applications[channel].name, names[channel]);
    }
    EXPECT_NE(hub->skypeCom->ownWindow, nullptr);
}

TEST_F(HubTest, AttachCreatesTheApplicationsThroughTheModels)
{
    startAttached();
    EXPECT_EQ(hub->skypeCom->linkStatus, 1);
    ASSERT_FALSE(skype->commands.empty());
    EXPECT_EQ(skype->commands.front(), "SEARCH FRIENDS");
    EXPECT_NE(std::find(skype->commands.begin(), skype->commands.end(),
                        "CREATE APPLICATION ZorvaneForTcp2000"),
              skype->commands.end());
}

TEST_F(HubTest, LostLinkReportsStatusThenStreamsThenModel)
{
    startAttached();
    skype->failNext = 1;
    EXPECT_EQ(hub->skypeCom->sendCommand("GET CURRENTUSERHANDLE"), 0);
    std::vector<std::string> expected = {"link", "streams", "streams", "streams",
                                         "streams", "streams", "model"};
    EXPECT_EQ(recorder.withoutLog(), expected);
    // The link logs the loss before it tells its users.
    ASSERT_GE(recorder.events.size(), 2u);
    EXPECT_EQ(recorder.events[0].rfind("log ", 0), 0u) << recorder.events[0];
    EXPECT_TRUE(recorder.events[0].ends_with(":EV:SkypeDriverへの通知に失敗しました。Skypeは未接続"))
        << recorder.events[0];
    EXPECT_EQ(recorder.events[1], "link");
}

TEST_F(HubTest, OtherStatusesAreOnlyRelayed)
{
    startAttached();
    for (int code : {1, 2, 3, 0x8001}) {
        recorder.events.clear();
        skype->attach(hub->skypeCom->ownWindow, code);
        EXPECT_EQ(recorder.withoutLog(), std::vector<std::string>{"link"}) << "code " << code;
    }
}

TEST_F(HubTest, SelectedUserConnectable)
{
    hub->start(nullptr);
    EXPECT_FALSE(hub->isSelectedUserConnectable());   // empty list

    UserEntry bob{};
    bob.name = "bob";
    UserEntry carol = bob;
    carol.name = "carol";
    hub->skypeModel->userList = {bob, carol};
    hub->skypeModel->selectedIndex = 1;
    EXPECT_FALSE(hub->isSelectedUserConnectable());   // all five flags 0

    for (int channel = 0; channel < 5; ++channel) {
        hub->skypeModel->userList[1] = carol;
        hub->skypeModel->userList[1].connectable[channel] = 1;
        EXPECT_TRUE(hub->isSelectedUserConnectable()) << "channel " << channel;
        hub->skypeModel->userList[0].connectable[channel] = 1;
        hub->skypeModel->userList[1].connectable[channel] = 0;
        EXPECT_FALSE(hub->isSelectedUserConnectable()) << "only the unselected one, channel " << channel;
        hub->skypeModel->userList[0] = bob;
    }
}

TEST_F(HubTest, LogLinesReachListenersAddedSoFar)
{
    QK_EVENTLOG::getInstance()->writeLog(LOG_EV, "first");
    Recorder late;
    hub->addListener(&late);
    QK_EVENTLOG::getInstance()->writeLog(LOG_EV, "second");
    ASSERT_EQ(late.events.size(), 1u);
    EXPECT_NE(late.events[0].find("EV:second"), std::string::npos);
    EXPECT_EQ(recorder.events.size(), 2u);
}

TEST_F(HubTest, TeardownClearsEverySingletonAndTheClosingLineReachesNobody)
{
    hub->start(nullptr);
    std::string logFile = QK_EVENTLOG::getInstance()->logFileName(QK_EVENTLOG::getInstance()->fileIndex);
    recorder.events.clear();
    delete hub;
    hub = nullptr;
    EXPECT_EQ(QK_A2AMODEL::instance, nullptr);
    EXPECT_EQ(QK_SKYPEMODEL::instance, nullptr);
    EXPECT_EQ(QK_SKYPECOM::instance, nullptr);
    EXPECT_EQ(QK_EVENTLOG::instance, nullptr);
    EXPECT_TRUE(recorder.events.empty());

    std::ifstream in(logFile);
    std::string line, last;
    while (std::getline(in, line))
        last = line;
    EXPECT_NE(last.find("EV:END ZorvaneForTcp -log close-"), std::string::npos) << last;
}

} // namespace
