// The application model: routing of Skype texts, the CREATE reply, the
// CONNECTABLE poll, connecting, disconnecting and cancelling, the traffic timer.
#include "tunnelharness.h"

#include "tunnel/a2amodel.h"

#include <string>
#include <vector>

namespace {

using Strings = std::vector<std::string>;

class A2aModelTest : public TunnelTest {
protected:
    void tick(int count = 1)
    {
        for (int i = 0; i < count; ++i)
            QK_A2AMODEL::streamTimerProc(nullptr, WM_TIMER, 0, 0);
    }
    static std::string connectable(int channel)
    {
        return "GET APPLICATION " + std::string(kApps[channel]) + " CONNECTABLE";
    }
};

TEST_F(A2aModelTest, ConstructionRegistersTheModelAndStartsItsTimers)
{
    EXPECT_STREQ(a2a->tag, "QK_A2AMODEL");
    EXPECT_NE(a2a->streamTimerId, 0u);
    EXPECT_NE(a2a->trafficTimerId, 0u);
    EXPECT_NE(a2a->streamTimerId, a2a->trafficTimerId);
    ASSERT_EQ(com->users.size(), 3u);
    EXPECT_EQ(com->users[2], static_cast<QK_SKYPECOMUSER*>(a2a));
    for (QK_SKYPEAPPLICATION& application : a2a->applications) {
        ASSERT_EQ(application.listeners.size(), 1u);
        EXPECT_EQ(application.listeners[0], static_cast<QK_SKYPEAPPLICATIONLISTENER*>(a2a));
        EXPECT_STREQ(application.tag, "QK_SKYPEAPPLICATION");
    }
    EXPECT_EQ(QK_A2AMODEL::getInstance(), a2a);
}

TEST_F(A2aModelTest, AttachCreatesEveryNamedApplication)
{
    app(3).name[0] = '\0';
    skype->attach(com->ownWindow, 0);
    Strings creates;
    for (const std::string& command : takeCommands()) {
        if (command.rfind("CREATE", 0) == 0)
            creates.push_back(command);
    }
    EXPECT_EQ(creates, (Strings{"CREATE APPLICATION ZorvaneForFtp0000", "CREATE APPLICATION ZorvaneForHttp000",
                                "CREATE APPLICATION ZorvaneForCvs0000", "CREATE APPLICATION ZorvaneForTcp2000"}));
    EXPECT_STREQ(app(2).createCommand, "CREATE APPLICATION ZorvaneForCvs0000");
    // Other statuses create nothing.
    skype->attach(com->ownWindow, 2);
    skype->attach(com->ownWindow, 0x8001);
    EXPECT_EQ(com->linkStatus, 0x8001);
    for (const std::string& command : takeCommands())
        EXPECT_NE(command.rfind("CREATE", 0), 0u) << command;
}

TEST_F(A2aModelTest, CreateReplyMatchesItsApplication)
{
    for (QK_SKYPEAPPLICATION& application : a2a->applications)
        application.state = APPLICATION_NOT_CREATED;
    notify("CREATE APPLICATION ZorvaneForCvs0000");
    EXPECT_EQ(app(2).state, APPLICATION_CREATED);
    EXPECT_EQ(app(1).state, APPLICATION_NOT_CREATED);
    EXPECT_EQ(takeCommands(), Strings{connectable(2)});
    notify("CREATE APPLICATION ZorvaneForCvs0000");
    EXPECT_EQ(takeCommands(), Strings{connectable(2)});
    // Exact comparison of the whole text: no prefix, no other name, no longer text.
    for (const char* text : {"CREATE APPLICATION ZorvaneForCvs000", "CREATE APPLICATION ZorvaneForCvs00000",
                             "CREATE APPLICATION Unknown", "CREATED APPLICATION ZorvaneForHttp000", "CREATE"}) {
        notify(text);
        EXPECT_TRUE(takeCommands().empty()) << text;
    }
    EXPECT_EQ(app(1).state, APPLICATION_NOT_CREATED);
    // An application that never sent a create command never matches.
    app(4).createCommand[0] = '\0';
    notify("CREATE APPLICATION ZorvaneForTcp2000");
    EXPECT_EQ(app(4).state, APPLICATION_NOT_CREATED);
}

TEST_F(A2aModelTest, TextsForNoApplicationAreIgnored)
{
    setContacts("alice");
    for (const char* text : {"DELETE APPLICATION ZorvaneForHttp000", "APPLICATION Unknown STREAMS alice:5",
                             "ALTER APPLICATION Unknown READ alice:5 00", "ALTER USER alice",
                             "APPLICATION ZorvaneForHttp0000 STREAMS alice:5", "APPLICATION"}) {
        notify(text);
        EXPECT_EQ(a2a->hasStream(), 0) << text;
        EXPECT_TRUE(takeCommands().empty()) << text;
    }
    EXPECT_EQ(hub.streamChanges, 0);
    // The name is the token that ends at any punctuation.
    notify("APPLICATION ZorvaneForHttp000 STREAMS alice:5");
    EXPECT_EQ(app(1).streams.size(), 1u);
}

TEST_F(A2aModelTest, ConnectablePollEvery301Ticks)
{
    for (QK_SKYPEAPPLICATION& application : a2a->applications)
        application.pollTicks = 0;
    app(0).state = APPLICATION_NOT_CREATED;
    tick(300);
    EXPECT_TRUE(takeCommands().empty());
    tick();
    EXPECT_EQ(takeCommands(), (Strings{connectable(1), connectable(2), connectable(3), connectable(4)}));
    tick(300);
    EXPECT_TRUE(takeCommands().empty());
    tick();
    EXPECT_EQ(takeCommands().size(), 4u);
    // With state 0 the counter still runs and wraps, but nothing is sent.
    EXPECT_EQ(app(0).pollTicks, 0);
    tick(5);
    EXPECT_EQ(app(0).pollTicks, 5);
}

TEST_F(A2aModelTest, ConnectSelectedUserSkipsDisabledAndConnectedChannels)
{
    setContacts("alice, bob");
    appNotify(1, "STREAMS alice:5");
    settings->enabled[0] = 0;
    settings->enabled[3] = 0;
    a2a->connectSelectedUser();
    EXPECT_EQ(takeCommands(), (Strings{"ALTER APPLICATION ZorvaneForCvs0000 CONNECT alice",
                                       "ALTER APPLICATION ZorvaneForTcp2000 CONNECT alice"}));
    // Another contact is not connected anywhere yet.
    contacts->selectUser("bob");
    a2a->connectSelectedUser();
    EXPECT_EQ(takeCommands().size(), 3u);
}

TEST_F(A2aModelTest, ConnectSelectedUserStopsAtAFailedSend)
{
    setContacts("alice");
    skype->failNext = 1;
    a2a->connectSelectedUser();
    EXPECT_EQ(skype->failedCommands, Strings{"ALTER APPLICATION ZorvaneForFtp0000 CONNECT alice"});
    EXPECT_TRUE(takeCommands().empty());
    EXPECT_EQ(logLinesContaining("SkypeDriverへの通知に失敗").size(), 1u);
}

TEST_F(A2aModelTest, DisconnectAllAsksSkypeAndRemovesNothing)
{
    setContacts("alice, bob");
    a2a->disconnectAll();
    EXPECT_TRUE(takeCommands().empty());
    appNotify(1, "STREAMS alice:5 bob:6");
    appNotify(1, "STREAMS bob:6 alice:7");   // alice:7 appended, then alice:5 leaves an empty slot
    appNotify(3, "STREAMS bob:2");
    a2a->disconnectAll();
    EXPECT_EQ(takeCommands(), (Strings{"ALTER APPLICATION ZorvaneForHttp000 DISCONNECT bob:6",
                                       "ALTER APPLICATION ZorvaneForHttp000 DISCONNECT alice:7",
                                       "ALTER APPLICATION ZorvaneForVnc0000 DISCONNECT bob:2"}));
    EXPECT_EQ(app(1).streams.size(), 3u);
    EXPECT_EQ(app(3).streams.size(), 1u);
}

TEST_F(A2aModelTest, DisconnectAllStopsAtAFailedSend)
{
    setContacts("alice, bob");
    appNotify(1, "STREAMS alice:5 bob:6");
    skype->failNext = 1;
    a2a->disconnectAll();
    EXPECT_EQ(skype->failedCommands.size(), 1u);
    EXPECT_TRUE(takeCommands().empty());
    EXPECT_EQ(a2a->hasStream(), 0);
}

TEST_F(A2aModelTest, HasStreamCountsAnEmptySlot)
{
    setContacts("alice, bob");
    EXPECT_EQ(a2a->hasStream(), 0);
    appNotify(4, "STREAMS alice:5 bob:6");
    appNotify(4, "STREAMS bob:6");
    appNotify(4, "STREAMS bob:6");
    EXPECT_EQ(a2a->hasStream(), 1);
    appNotify(4, "STREAMS bob:7");   // bob:6 gone, bob:7 new: both slots in use
    ASSERT_EQ(app(4).streams.size(), 2u);
    appNotify(4, "STREAMS alice:1");
    appNotify(4, "STREAMS");
    EXPECT_EQ(a2a->hasStream(), 0);
}

TEST_F(A2aModelTest, CancelAllStreamsWithoutStreamsTellsFiveTimesAndLogsNothing)
{
    a2a->cancelAllStreams();
    EXPECT_EQ(hub.streamChanges, 5);
    EXPECT_TRUE(hub.logLines.empty());
    for (QK_SKYPEAPPLICATION& application : a2a->applications) {
        EXPECT_EQ(application.state, APPLICATION_NOT_CREATED);
        EXPECT_EQ(application.pollTicks, 0);
    }
    EXPECT_TRUE(takeCommands().empty());
}

TEST_F(A2aModelTest, CancelAllStreamsClosesAndLogsEveryStream)
{
    setContacts("alice, bob");
    QK_SKYPESTREAM* a = openStream(1, "alice", 5);
    QK_SKYPESTREAM* b = openStream(1, "bob", 6);
    openStream(0, "bob", 3);
    ASSERT_TRUE(a != nullptr && b != nullptr);
    appNotify(1, "STREAMS bob:6");   // alice's slot is empty now
    app(2).pollTicks = 100;
    hub.logLines.clear();
    hub.streamChanges = 0;
    a2a->cancelAllStreams();
    EXPECT_EQ(hub.logLines, (Strings{"EV:ＦＴＰ用 Skype STREAM は bob と　ID=3 をキャンセル",
                                     "EV:設定１用 Skype STREAM は bob と　ID=6 をキャンセル"}));
    EXPECT_EQ(hub.streamChanges, 5);
    EXPECT_EQ(a2a->hasStream(), 0);
    EXPECT_EQ(app(2).pollTicks, 0);
    EXPECT_TRUE(takeCommands().empty());
    // The poll stops until the next create reply.
    tick(301);
    EXPECT_TRUE(takeCommands().empty());
}

TEST_F(A2aModelTest, LostLinkReportsStatusThenStreamsThenContacts)
{
    setContacts("alice");
    openStream(2, "alice", 1);
    hub.events.clear();
    skype->failNext = 1;
    a2a->connectSelectedUser();
    ASSERT_GE(hub.events.size(), 7u);
    // The failed send's own log line comes first, then the status; the five
    // stream notices follow the cancel line.
    EXPECT_EQ(hub.events[0], "log EV:SkypeDriverへの通知に失敗しました。Skypeは未接続");
    EXPECT_EQ(hub.events[1], "status 0");
    EXPECT_EQ(hub.events[2], "streams");   // channel 0
    EXPECT_EQ(hub.events[3], "streams");   // channel 1
    EXPECT_EQ(hub.events[4], "log EV:設定２用 Skype STREAM は alice と　ID=1 をキャンセル");
    EXPECT_EQ(hub.events[5], "streams");
    EXPECT_TRUE(contacts->userList.empty());
}

TEST_F(A2aModelTest, TrafficTimerReportsEveryNamedApplicationAsUnsigned)
{
    setContacts("alice, bob");
    QK_SKYPESTREAM* a = openStream(1, "alice", 5);
    QK_SKYPESTREAM* b = openStream(1, "bob", 6);
    ASSERT_TRUE(a != nullptr && b != nullptr);
    a->bytesSent = 0x80000000u;
    a->bytesReceived = 1000;
    b->bytesSent = 0xFFFFFFFFu;
    b->bytesReceived = 24;
    app(3).name[0] = '\0';
    QK_A2AMODEL::trafficTimerProc(nullptr, WM_TIMER, 0, 0);
    ASSERT_EQ(hub.traffic.size(), 4u);
    EXPECT_EQ(hub.traffic[0].channel, 0);
    EXPECT_EQ(hub.traffic[0].sent, 0.0);
    EXPECT_EQ(hub.traffic[0].received, 0.0);
    EXPECT_EQ(hub.traffic[1].channel, 1);
    EXPECT_EQ(hub.traffic[1].sent, 2147483648.0 + 4294967295.0);
    EXPECT_EQ(hub.traffic[1].received, 1024.0);
    EXPECT_EQ(hub.traffic[2].channel, 2);
    EXPECT_EQ(hub.traffic[3].channel, 4);
    EXPECT_EQ(a->bytesSent, 0u);
    EXPECT_EQ(b->bytesReceived, 0u);
    hub.traffic.clear();
    QK_A2AMODEL::trafficTimerProc(nullptr, WM_TIMER, 0, 0);
    EXPECT_EQ(hub.traffic[1].sent, 0.0);
    EXPECT_EQ(hub.traffic[1].received, 0.0);
}

TEST_F(A2aModelTest, DestructionKillsTimersAndClearsTheInstance)
{
    setContacts("alice");
    openStream(1, "alice", 5);
    delete a2a;
    EXPECT_EQ(QK_A2AMODEL::instance, nullptr);
    // The timer procedures do nothing without a model.
    QK_A2AMODEL::streamTimerProc(nullptr, WM_TIMER, 0, 0);
    QK_A2AMODEL::trafficTimerProc(nullptr, WM_TIMER, 0, 0);
    EXPECT_TRUE(takeCommands().empty());
    // The link still lists the model; the remaining teardown must not call it.
    com->users.pop_back();
    a2a = nullptr;
}

} // namespace
