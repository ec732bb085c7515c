// The Skype application: its stream list from STREAMS, SENDING and RECEIVED,
// the CONNECT and READ replies, the lamps.
#include "tunnelharness.h"

#include "tunnel/skypeapplication.h"

#include <ostream>
#include <string>
#include <vector>

namespace {

using Strings = std::vector<std::string>;

class SkypeApplicationTest : public TunnelTest {
protected:
    // "user:id" of every slot in order ("-" for an empty one).
    std::string slots(int channel)
    {
        std::string text;
        for (QK_SKYPESTREAM* stream : app(channel).streams) {
            if (!text.empty())
                text += " ";
            text += stream == nullptr ? std::string("-") : std::string(stream->user) + ":" +
                                                               std::to_string(stream->streamId);
        }
        return text;
    }
    std::vector<std::string> streamLog() const { return logLinesContaining("Skype STREAM"); }
    static std::string line(const char* what, const char* label, const std::string& user, int id)
    {
        return std::string("EV:") + label + "用 Skype STREAM は " + user + " と　ID=" + std::to_string(id) + " " +
               what;
    }
    static std::string disconnect(int channel, const std::string& user, int id)
    {
        return "ALTER APPLICATION " + std::string(kApps[channel]) + " DISCONNECT " + user + ":" +
               std::to_string(id);
    }
};

TEST_F(SkypeApplicationTest, ServerAcceptsManyStreamsAndReusesEmptySlots)
{
    setContacts("alice, bob, carol");
    appNotify(1, "STREAMS alice:5");
    EXPECT_EQ(slots(1), "alice:5");
    EXPECT_EQ(app(1).state, APPLICATION_STREAM_CREATED);
    EXPECT_EQ(hub.streamChanges, 1);
    EXPECT_EQ(streamLog(), Strings{line("で接続", "設定１", "alice", 5)});
    EXPECT_STREQ(app(1).streams[0]->tag, "QK_SKYPESTREAM");
    EXPECT_STREQ(app(1).streams[0]->appName, kApps[1]);
    EXPECT_EQ(app(1).streams[0]->forwardPort, 80);
    EXPECT_STREQ(app(1).streams[0]->forwardHost, "127.0.0.1");
    ASSERT_NE(app(1).streams[0]->tcpManager, nullptr);

    // The same list again changes nothing, logs nothing, tells nobody.
    appNotify(1, "STREAMS alice:5");
    EXPECT_EQ(slots(1), "alice:5");
    EXPECT_EQ(hub.streamChanges, 1);
    EXPECT_EQ(streamLog().size(), 1u);
    EXPECT_TRUE(takeCommands().empty());

    appNotify(1, "STREAMS alice:5 bob:6");
    EXPECT_EQ(slots(1), "alice:5 bob:6");
    EXPECT_EQ(hub.streamChanges, 2);

    // alice's stream goes: closed, logged, its slot left empty, one notice.
    hub.logLines.clear();
    appNotify(1, "STREAMS bob:6");
    EXPECT_EQ(slots(1), "- bob:6");
    EXPECT_EQ(hub.streamChanges, 3);
    EXPECT_EQ(streamLog(), Strings{line("を切断", "設定１", "alice", 5)});
    EXPECT_EQ(a2a->hasStream(), 1);

    // carol's stream takes the empty slot.
    appNotify(1, "STREAMS bob:6,carol:7");
    EXPECT_EQ(slots(1), "carol:7 bob:6");
    EXPECT_EQ(hub.streamChanges, 4);
    EXPECT_TRUE(takeCommands().empty());
}

TEST_F(SkypeApplicationTest, ClientKeepsOneSlotAndRefusesTheReplacingStream)
{
    settings->appMode = 1;
    setContacts("alice, bob");
    appNotify(2, "STREAMS alice:5");
    EXPECT_EQ(slots(2), "alice:5");

    // Any new entry is refused while the list holds a slot, the same contact's too.
    hub.logLines.clear();
    appNotify(2, "STREAMS alice:5 bob:6");
    EXPECT_EQ(takeCommands(), Strings{disconnect(2, "bob", 6)});
    EXPECT_EQ(streamLog(), Strings{line("を切断(拒否）", "設定２", "bob", 6)});

    // Replaced in one list: the new one is refused first, then the old one goes.
    hub.logLines.clear();
    int changes = hub.streamChanges;
    appNotify(2, "STREAMS alice:6");
    EXPECT_EQ(takeCommands(), Strings{disconnect(2, "alice", 6)});
    EXPECT_EQ(streamLog(),
              (Strings{line("を切断(拒否）", "設定２", "alice", 6), line("を切断", "設定２", "alice", 5)}));
    EXPECT_EQ(slots(2), "-");
    EXPECT_EQ(hub.streamChanges, changes + 1);

    // The empty slot keeps refusing until an empty STREAMS list erases it.
    appNotify(2, "STREAMS alice:7");
    EXPECT_EQ(takeCommands(), Strings{disconnect(2, "alice", 7)});
    EXPECT_EQ(a2a->hasStream(), 1);
    appNotify(2, "STREAMS");
    EXPECT_EQ(slots(2), "");
    EXPECT_EQ(app(2).state, APPLICATION_CREATED);
    EXPECT_EQ(a2a->hasStream(), 0);
    appNotify(2, "STREAMS alice:8");
    EXPECT_EQ(slots(2), "alice:8");
    EXPECT_TRUE(takeCommands().empty());
}

// "STREAMS alice:first ... alice:last"
std::string streamsList(int first, int last)
{
    std::string list = "STREAMS";
    for (int id = first; id <= last; ++id)
        list += " alice:" + std::to_string(id);
    return list;
}

TEST_F(SkypeApplicationTest, ServerHoldsAtMostTheBoundAndRefusesTheRest)
{
    const int bound = static_cast<int>(APPLICATION_MAX_STREAMS);
    setContacts("alice, bob");
    appNotify(1, streamsList(1, bound + 3));
    EXPECT_EQ(a2a->applications[1].streams.size(), static_cast<size_t>(bound));
    EXPECT_EQ(app(1).streams.back()->streamId, bound);
    EXPECT_EQ(takeCommands(), (Strings{disconnect(1, "alice", bound + 1), disconnect(1, "alice", bound + 2),
                                       disconnect(1, "alice", bound + 3)}));
    EXPECT_EQ(hub.streamChanges, bound);
    // One line for the refusals, naming the bound, the first refused stream and how many.
    Strings refusals = logLinesContaining("上限");
    ASSERT_EQ(refusals.size(), 1u);
    EXPECT_EQ(refusals[0], "EV:設定１用 Skype STREAM は上限の" + std::to_string(bound) + "本に達したため alice と　ID=" +
                               std::to_string(bound + 1) + " を含む3本を切断(拒否）");
    EXPECT_EQ(logLinesContaining("で接続").size(), static_cast<size_t>(bound));

    // Listed again: the same refusals, nothing created.
    hub.logLines.clear();
    appNotify(1, streamsList(1, bound + 3));
    EXPECT_EQ(takeCommands().size(), 3u);
    EXPECT_EQ(logLinesContaining("上限").size(), 1u);
    EXPECT_EQ(hub.streamChanges, bound);

    // A stream that the same list no longer names makes room for a new one.
    hub.logLines.clear();
    appNotify(1, streamsList(2, bound) + " bob:9 alice:" + std::to_string(bound + 1));
    ASSERT_EQ(app(1).streams.size(), static_cast<size_t>(bound + 1));
    EXPECT_EQ(app(1).streams.front(), nullptr);   // alice:1, closed after the new one was placed
    EXPECT_STREQ(app(1).streams.back()->user, "bob");
    EXPECT_EQ(takeCommands(), Strings{disconnect(1, "alice", bound + 1)});
    EXPECT_EQ(logLinesContaining("上限").size(), 1u);
    EXPECT_EQ(logLinesContaining("を切断").size(), 2u);   // the refusal line and alice:1 closed
}

TEST_F(SkypeApplicationTest, StreamsListFarBeyondTheBoundKeepsTheAcceptedStreamsWorking)
{
    const int bound = static_cast<int>(APPLICATION_MAX_STREAMS);
    setContacts("alice");
    appNotify(1, streamsList(1, 10000));
    ASSERT_EQ(app(1).streams.size(), static_cast<size_t>(bound));
    EXPECT_EQ(takeCommands().size(), static_cast<size_t>(10000 - bound));
    Strings refusals = logLinesContaining("上限");
    ASSERT_EQ(refusals.size(), 1u);
    EXPECT_NE(refusals[0].find("を含む" + std::to_string(10000 - bound) + "本を切断(拒否）"), std::string::npos)
        << refusals[0];

    // The accepted streams read and send as before.
    QK_SKYPESTREAM* first = app(1).streams.front();
    QK_SKYPESTREAM* last = app(1).streams.back();
    readReply(1, "alice", first->streamId, makePacket(KIND_NULL, 0, 0, 0));
    readReply(1, "alice", last->streamId, makePacket(KIND_NULL, 0, 0, 0));
    EXPECT_EQ(first->recvSeq, 1u);
    EXPECT_EQ(last->recvSeq, 1u);
    EXPECT_EQ(last->sendKeepAlive(), 1);
    std::vector<SentPacket> writes = takeWrites();
    ASSERT_EQ(writes.size(), 1u);
    EXPECT_EQ(writes[0].id, last->streamId);
    EXPECT_EQ(writes[0].header.kind, KIND_NULL);

    // An empty list closes them all; the next list is taken again up to the bound.
    appNotify(1, "STREAMS");
    EXPECT_TRUE(app(1).streams.empty());
    appNotify(1, streamsList(20001, 20001 + bound));
    EXPECT_EQ(app(1).streams.size(), static_cast<size_t>(bound));
    EXPECT_EQ(takeCommands(), Strings{disconnect(1, "alice", 20001 + bound)});
}

TEST_F(SkypeApplicationTest, ServerWithoutMultipleStreamsKeepsOneSlot)
{
    settings->multipleStreams = 0;
    setContacts("alice, bob");
    appNotify(1, "STREAMS alice:5 bob:6");
    EXPECT_EQ(slots(1), "alice:5");
    EXPECT_EQ(takeCommands(), Strings{disconnect(1, "bob", 6)});
}

struct AcceptCase {
    const char* name;
    int acceptMode;
    const char* contacts;   // null: no USERS list
    const char* select;     // contact to select, or null
    const char* entry;
    bool accepted;
};

void PrintTo(const AcceptCase& c, std::ostream* out)
{
    *out << c.name;
}

class AcceptRules : public SkypeApplicationTest, public testing::WithParamInterface<AcceptCase> {};

TEST_P(AcceptRules, DecideWhoseStreamIsTaken)
{
    const AcceptCase& c = GetParam();
    settings->acceptMode = c.acceptMode;
    if (c.contacts != nullptr)
        setContacts(c.contacts);
    if (c.select != nullptr)
        contacts->selectUser(c.select);
    appNotify(3, std::string("STREAMS ") + c.entry + ":9");
    if (c.accepted) {
        EXPECT_EQ(slots(3), std::string(c.entry) + ":9");
        EXPECT_TRUE(takeCommands().empty());
    } else {
        EXPECT_EQ(slots(3), "");
        EXPECT_EQ(takeCommands(), Strings{disconnect(3, c.entry, 9)});
        EXPECT_EQ(streamLog(), Strings{line("を切断(拒否）", "設定３", c.entry, 9)});
    }
}

INSTANTIATE_TEST_SUITE_P(
    Modes, AcceptRules,
    testing::Values(AcceptCase{"AnyListedContact", 1, "alice, bob", nullptr, "bob", true},
                    AcceptCase{"UnlistedContact", 1, "alice, bob", nullptr, "mallory", false},
                    AcceptCase{"EmptyContactList", 1, nullptr, nullptr, "alice", false},
                    AcceptCase{"SelectedContact", 0, "alice, bob", "bob", "bob", true},
                    AcceptCase{"FirstIsSelectedAtStart", 0, "alice, bob", nullptr, "alice", true},
                    AcceptCase{"ListedButNotSelected", 0, "alice, bob", nullptr, "bob", false},
                    AcceptCase{"SelectedModeEmptyList", 0, nullptr, nullptr, "alice", false}),
    [](const testing::TestParamInfo<AcceptCase>& param) { return std::string(param.param.name); });

TEST_F(SkypeApplicationTest, DisabledChannelRefusesNewStreamsAndKeepsItsOwn)
{
    setContacts("alice, bob");
    appNotify(4, "STREAMS alice:5");
    settings->enabled[4] = 0;
    appNotify(4, "STREAMS alice:5 bob:6");
    EXPECT_EQ(slots(4), "alice:5");
    EXPECT_EQ(takeCommands(), Strings{disconnect(4, "bob", 6)});
    // Any value but 1 counts as disabled here.
    settings->enabled[4] = 2;
    appNotify(4, "STREAMS alice:5 bob:7");
    EXPECT_EQ(takeCommands(), Strings{disconnect(4, "bob", 7)});
}

TEST_F(SkypeApplicationTest, MalformedStreamsListIsDroppedWhole)
{
    setContacts("alice, bob");
    appNotify(1, "STREAMS carol:3");   // refused, so it never gets an object
    takeCommands();
    appNotify(1, "STREAMS alice:4");
    int changes = hub.streamChanges;
    hub.logLines.clear();
    for (const char* list : {"STREAMS alice:5 ", "STREAMS alice:5 bob", "STREAMS bob:6,", "STREAMS alice:4 bob"}) {
        appNotify(1, list);
        EXPECT_EQ(slots(1), "alice:4") << list;
        EXPECT_TRUE(takeCommands().empty()) << list;
    }
    EXPECT_EQ(hub.streamChanges, changes);
    EXPECT_TRUE(streamLog().empty());
}

TEST_F(SkypeApplicationTest, EmptyStreamsListClosesEverythingAndTellsTheListeners)
{
    setContacts("alice, bob");
    // With no stream at all.
    appNotify(0, "STREAMS");
    EXPECT_EQ(app(0).state, APPLICATION_CREATED);
    EXPECT_EQ(hub.streamChanges, 1);

    appNotify(1, "STREAMS alice:5 bob:6");
    appNotify(1, "STREAMS bob:6");
    hub.logLines.clear();
    int changes = hub.streamChanges;
    appNotify(1, "STREAMS   ");
    EXPECT_TRUE(app(1).streams.empty());
    EXPECT_EQ(app(1).state, APPLICATION_CREATED);
    EXPECT_EQ(hub.streamChanges, changes + 1);
    EXPECT_EQ(streamLog(), Strings{line("を切断", "設定１", "bob", 6)});
    EXPECT_TRUE(takeCommands().empty());
}

TEST_F(SkypeApplicationTest, SendingWithEntriesChangesNothingAndEmptySendingMakesAllReady)
{
    setContacts("alice, bob");
    appNotify(1, "STREAMS alice:5 bob:6");
    for (QK_SKYPESTREAM* stream : app(1).streams)
        stream->sendReady = 0;
    for (const char* list : {"SENDING alice:5=100", "SENDING alice:5=100 bob:6=20", "SENDING alice5=1",
                             "SENDING alice:5"}) {
        appNotify(1, list);
        EXPECT_EQ(app(1).streams[0]->sendReady, 0) << list;
        EXPECT_EQ(app(1).streams[1]->sendReady, 0) << list;
    }
    appNotify(1, "SENDING");
    EXPECT_EQ(app(1).streams[0]->sendReady, 1);
    EXPECT_EQ(app(1).streams[1]->sendReady, 1);
    EXPECT_TRUE(takeCommands().empty());
}

TEST_F(SkypeApplicationTest, ReceivedReadsTheFirstEntryOnly)
{
    struct Case {
        const char* list;
        const char* read;   // expected READ target, or null for none
    };
    const Case cases[] = {
        {"RECEIVED alice:5=100 bob:6=20", "alice:5"},
        {"RECEIVED bob:6=20, alice:5=100", "bob:6"},
        {"RECEIVED nobody:77=1", "nobody:77"},   // whether or not the stream is known
        {"RECEIVED alice:5", nullptr},            // no "="
        {"RECEIVED alice5=100", nullptr},         // no ":"
        {"RECEIVED alice:5=100 bob", nullptr},    // a later entry without ":"
        {"RECEIVED alice:5=100 bob:6", nullptr},  // a later entry without "="
        {"RECEIVED alice:5=100 ", nullptr},       // white space after the last entry
        {"RECEIVED", nullptr},
        {"RECEIVED  ", nullptr},
    };
    for (const Case& c : cases) {
        appNotify(2, c.list);
        Strings expected;
        if (c.read != nullptr)
            expected.push_back("ALTER APPLICATION " + std::string(kApps[2]) + " READ " + c.read);
        EXPECT_EQ(takeCommands(), expected) << c.list;
    }
}

TEST_F(SkypeApplicationTest, FormatErrorsTraceTheWholeNotificationText)
{
    struct Case {
        const char* text;
        const char* trace;
    };
    const Case cases[] = {
        {"STREAMS alice:5 bob", "QK_SKYPEAPPLICATION::application(STREAMS alice:5 bob)書式エラーユーザ名なし\n"},
        {"SENDING alice5=1", "QK_SKYPEAPPLICATION::application(SENDING alice5=1)書式エラーユーザ名なし\n"},
        {"SENDING alice:5", "QK_SKYPEAPPLICATION::application(SENDING alice:5)書式エラー IDなし\n"},
        {"RECEIVED alice5=1", "書式エラー:APPLICATION RECEIVED RECEIVED alice5=1\n"},
        {"RECEIVED alice:5", "書式エラー\n"},
    };
    for (const Case& c : cases) {
        std::string output = captureTrace([&] { appNotify(1, c.text); });
        EXPECT_NE(output.find(c.trace), std::string::npos) << c.text << "\n" << output;
    }
}

TEST_F(SkypeApplicationTest, ConnectableReachesTheContactModel)
{
    setContacts("alice, bob, carol");
    appNotify(3, "CONNECTABLE bob carol");
    EXPECT_EQ(contacts->userList[0].connectable[3], 0);
    EXPECT_EQ(contacts->userList[1].connectable[3], 1);
    EXPECT_EQ(contacts->userList[2].connectable[3], 1);
    EXPECT_EQ(contacts->userList[1].connectable[2], 0);
    appNotify(3, "CONNECTABLE");
    EXPECT_EQ(contacts->userList[1].connectable[3], 0);
}

TEST_F(SkypeApplicationTest, OtherKeywordsChangeNothing)
{
    setContacts("alice");
    appNotify(1, "STREAMS alice:5");
    int changes = hub.streamChanges;
    for (const char* text : {"CONNECTING alice", "DATAGRAM alice:5 hello", "SOMETHING else", ""}) {
        appNotify(1, text);
        EXPECT_EQ(slots(1), "alice:5") << text;
    }
    EXPECT_EQ(hub.streamChanges, changes);
    EXPECT_TRUE(takeCommands().empty());
}

TEST_F(SkypeApplicationTest, ConnectPeerAndItsReply)
{
    setContacts("alice");
    EXPECT_EQ(app(1).connectPeer("alice"), 1);
    EXPECT_EQ(takeCommands(), Strings{"ALTER APPLICATION ZorvaneForHttp000 CONNECT alice"});
    EXPECT_STREQ(app(1).connectTarget, "alice");
    EXPECT_STREQ(app(1).commandText, "ALTER APPLICATION ZorvaneForHttp000 CONNECT alice");
    notify("ALTER APPLICATION ZorvaneForHttp000 CONNECT alice");
    EXPECT_TRUE(app(1).streams.empty());
    EXPECT_TRUE(takeCommands().empty());
}

TEST_F(SkypeApplicationTest, IsConnectedMatchesThePeerWhateverTheId)
{
    setContacts("alice, bob");
    appNotify(1, "STREAMS alice:5 bob:6");
    appNotify(1, "STREAMS bob:6");
    EXPECT_EQ(app(1).isConnected("alice"), 0);   // an empty slot is skipped
    EXPECT_EQ(app(1).isConnected("bob"), 1);
    appNotify(1, "STREAMS bob:6 alice:99");
    EXPECT_EQ(app(1).isConnected("alice"), 1);
    EXPECT_EQ(app(2).isConnected("alice"), 0);
}

TEST_F(SkypeApplicationTest, ReadReplyIsTakenOnlyByItsStream)
{
    setContacts("alice");
    QK_SKYPESTREAM* one = openStream(1, "alice", 1);
    QK_SKYPESTREAM* twelve = openStream(1, "alice", 12);
    ASSERT_NE(one, nullptr);
    ASSERT_NE(twelve, nullptr);
    readReply(1, "alice", 12, makePacket(KIND_NULL, 0, 0, 0));
    EXPECT_EQ(one->recvSeq, 0u);
    EXPECT_EQ(twelve->recvSeq, 1u);
    readReply(1, "alice", 1, makePacket(KIND_NULL, 0, 0, 0));
    EXPECT_EQ(one->recvSeq, 1u);
    EXPECT_EQ(twelve->recvSeq, 1u);
    // Another channel's reply, and one for an unknown id, reach neither.
    readReply(2, "alice", 1, makePacket(KIND_NULL, 0, 0, 1));
    readReply(1, "alice", 2, makePacket(KIND_NULL, 0, 0, 1));
    notify("ALTER APPLICATION ZorvaneForHttp000 READ");
    EXPECT_EQ(one->recvSeq, 1u);
    EXPECT_EQ(twelve->recvSeq, 1u);
}

TEST_F(SkypeApplicationTest, LampsReadSocketStatesAndPeerWords)
{
    setContacts("alice, bob");
    QK_SKYPESTREAM* a = openStream(0, "alice", 1);
    QK_SKYPESTREAM* b = openStream(0, "bob", 2);
    ASSERT_TRUE(a != nullptr && b != nullptr);
    QK_SKYPEAPPLICATION& ftp = app(0);
    EXPECT_EQ(ftp.isMainLinkWaiting() + ftp.isMainLinkConnected() + ftp.isDataLinkWaiting() +
                  ftp.isDataLinkConnected() + ftp.isPeerMainLinkConnected() + ftp.isPeerDataLinkConnected(),
              0);
    fakeManager(a)->addMainSocket(21, SOCKET_STATE_ACCEPTING);
    fakeManager(b)->addDataLinkSocket(3000, SOCKET_STATE_CONNECTED);
    EXPECT_EQ(ftp.isMainLinkWaiting(), 1);
    EXPECT_EQ(ftp.isMainLinkConnected(), 0);
    EXPECT_EQ(ftp.isDataLinkWaiting(), 0);
    EXPECT_EQ(ftp.isDataLinkConnected(), 1);
    b->peerMainState = 2;
    EXPECT_EQ(ftp.isPeerMainLinkConnected(), 1);
    EXPECT_EQ(ftp.isPeerDataLinkConnected(), 0);
    a->peerDataLinkState = 2;
    EXPECT_EQ(ftp.isPeerDataLinkConnected(), 1);
    fakeManager(a)->mainSocket->state = SOCKET_STATE_CONNECTED;
    EXPECT_EQ(ftp.isMainLinkWaiting(), 0);
    EXPECT_EQ(ftp.isMainLinkConnected(), 1);
}

TEST_F(SkypeApplicationTest, FtpChannelStreamGetsTheFtpManagerOnPort21)
{
    settings->localPort[0] = 2121;
    setContacts("alice");
    appNotify(0, "STREAMS alice:5");
    ASSERT_EQ(app(0).streams.size(), 1u);
    QK_SKYPESTREAM* stream = app(0).streams[0];
    EXPECT_EQ(stream->isFtpApplication(), 1);
    EXPECT_EQ(stream->localPort, 2121);
    ASSERT_NE(dynamic_cast<QK_TCPMANAGERFORFTP*>(stream->tcpManager), nullptr);
    EXPECT_EQ(stream->tcpManager->port, 21);
    appNotify(1, "STREAMS alice:6");
    EXPECT_EQ(app(1).streams[0]->isFtpApplication(), 0);
    EXPECT_EQ(dynamic_cast<QK_TCPMANAGERFORFTP*>(app(1).streams[0]->tcpManager), nullptr);
}

} // namespace
