// The contact model, fed by a fake Skype window through the real link.
#include "recorders.h"
#include "foundation/eventlog.h"
#include "skypelink/skypecom.h"
#include "skypelink/skypemodel.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

std::vector<std::string> names(const QK_SKYPEMODEL& model)
{
    std::vector<std::string> result;
    for (const UserEntry& entry : model.userList)
        result.emplace_back(entry.name);
    return result;
}

// The link, a hub-like first user that resets the model on a lost link, the
// model (second user), and the fake Skype window, attached.
class ModelTest : public testing::Test {
protected:
    void SetUp() override
    {
        log = QK_EVENTLOG::getInstance();
        log->enabled = 1;
        log->addListener(&logLines);
        link = QK_SKYPECOM::getInstance();
        hub.resetsModelOnLoss = true;
        link->addUser(&hub);
        model = QK_SKYPEMODEL::getInstance();
        model->addListener(&listener);
        link->startDiscovery(nullptr);
        ASSERT_EQ(skype.attach(link->ownWindow, 0), 1);
        ASSERT_EQ(skype.commands, (std::vector<std::string>{"SEARCH FRIENDS"}));
        skype.commands.clear();
    }

    void TearDown() override
    {
        delete QK_SKYPEMODEL::instance;
        delete QK_SKYPECOM::instance;
        delete QK_EVENTLOG::instance;
        QK_EVENTLOG::instance = nullptr;
    }

    void notify(const std::string& text) { ASSERT_EQ(skype.notify(link->ownWindow, text), 1); }

    // The contact list "alice, bob, carol", the status queries cleared.
    void threeContacts()
    {
        notify("USERS alice, bob, carol");
        skype.commands.clear();
        listener.changes = 0;
    }

    std::vector<Call> calls;
    RecordingUser hub{"hub", calls};
    RecordingModelListener listener;
    RecordingLogListener logLines;
    FakeSkype skype;
    QK_EVENTLOG* log = nullptr;
    QK_SKYPECOM* link = nullptr;
    QK_SKYPEMODEL* model = nullptr;
};

TEST_F(ModelTest, StartsEmptyAndRegistersAsTheLinksNextUser)
{
    EXPECT_STREQ(model->tag, "QK_SKYPEMODEL");
    EXPECT_EQ(model->linkStatus, 1);
    EXPECT_EQ(model->onlineStatus, 1);
    EXPECT_EQ(model->currentUser[0], '\0');
    EXPECT_TRUE(model->userList.empty());
    ASSERT_EQ(link->users.size(), 2u);
    EXPECT_EQ(link->users[0], &hub);
    EXPECT_EQ(link->users[1], static_cast<QK_SKYPECOMUSER*>(model));
    EXPECT_EQ(QK_SKYPEMODEL::getInstance(), model);
}

struct UsersCase {
    const char* text;
    std::vector<std::string> names;
};
void PrintTo(const UsersCase& c, std::ostream* out) { *out << '"' << c.text << '"'; }

class UsersParsingTest : public ModelTest, public testing::WithParamInterface<UsersCase> {};

TEST_P(UsersParsingTest, ListRebuiltOfflineWithoutFlagsFirstSelectedThenQueried)
{
    model->selectedIndex = 2;
    const UsersCase c = GetParam();
    notify(c.text);
    EXPECT_EQ(names(*model), c.names);
    for (const UserEntry& entry : model->userList) {
        EXPECT_EQ(entry.status, 1);
        for (int flag : entry.connectable)
            EXPECT_EQ(flag, 0);
    }
    EXPECT_EQ(model->selectedIndex, 0);
    EXPECT_EQ(listener.changes, 1);
    std::vector<std::string> queries;
    for (const std::string& name : c.names)
        queries.push_back("GET USER " + name + " ONLINESTATUS");
    queries.push_back("GET CURRENTUSERHANDLE");
    EXPECT_EQ(skype.commands, queries);
}

INSTANTIATE_TEST_SUITE_P(
    Lists, UsersParsingTest,
    testing::Values(UsersCase{"USERS", {""}},
                    UsersCase{"USERS alice", {"alice"}},
                    UsersCase{"USERS alice, bob, carol", {"alice", "bob", "carol"}},
                    UsersCase{"USERS alice,bob", {"alice", "bob"}},
                    UsersCase{"USERS alice,,bob", {"alice", "", "bob"}},
                    UsersCase{"USERS alice ,bob", {"alice", "", "bob"}},
                    UsersCase{"USERS alice,", {"alice", ""}},
                    UsersCase{"USERS john.smith, mary_jones", {"john.smith", "mary_jones"}},
                    UsersCase{"USERS 山田, 鈴木", {"山田", "鈴木"}}));

TEST_F(ModelTest, ALostLinkDuringTheQueriesEndsThemWithoutTouchingTheEmptiedList)
{
    skype.refuse = [](const std::string& command) { return command == "GET USER bob ONLINESTATUS"; };
    notify("USERS alice, bob, carol");
    // alice's query taken, bob's refused: the link reports 0, the hub resets
    // the model, the loop ends; the handle query then fails with no window.
    EXPECT_EQ(skype.commands, (std::vector<std::string>{"GET USER alice ONLINESTATUS"}));
    EXPECT_EQ(skype.failedCommands, (std::vector<std::string>{"GET USER bob ONLINESTATUS"}));
    EXPECT_TRUE(model->userList.empty());
    EXPECT_EQ(model->linkStatus, 0);
    EXPECT_EQ(link->linkStatus, 0);
    int lost = 0;
    for (const std::string& line : logLines.lines)
        lost += line.find(":EV:SkypeDriverへの通知に失敗しました。Skypeは未接続") != std::string::npos ? 1 : 0;
    EXPECT_EQ(lost, 2);
    EXPECT_EQ(hub.statuses, (std::vector<int>{1, 0, 0}));
}

TEST_F(ModelTest, EveryReportOfOneSearchesAgainAndTheNewListResetsTheSelection)
{
    threeContacts();
    model->selectUser("carol");
    ASSERT_EQ(model->selectedIndex, 2);
    skype.attach(link->ownWindow, 0);
    EXPECT_EQ(skype.commands, (std::vector<std::string>{"SEARCH FRIENDS"}));
    notify("USERS alice, bob, carol");
    EXPECT_EQ(model->selectedIndex, 0);
    // Other reports only store the status (7 after 2 keeps 3, and searches not).
    skype.commands.clear();
    skype.attach(link->ownWindow, 2);
    skype.attach(link->ownWindow, 7);
    EXPECT_EQ(model->linkStatus, 3);
    EXPECT_TRUE(skype.commands.empty());
}

struct StatusCase {
    const char* value;
    int status;
};
void PrintTo(const StatusCase& c, std::ostream* out) { *out << c.value; }

class OnlineStatusTest : public ModelTest, public testing::WithParamInterface<StatusCase> {};

TEST_P(OnlineStatusTest, OfflineAndUnknownGiveOneAnyOtherValueTwo)
{
    threeContacts();
    const StatusCase c = GetParam();
    notify(std::string("USER bob ONLINESTATUS ") + c.value);
    EXPECT_EQ(model->userList[1].status, c.status);
    EXPECT_EQ(model->userList[0].status, 1);
    EXPECT_EQ(model->userList[2].status, 1);
    EXPECT_EQ(listener.changes, 0);   // a status change alone tells nobody
    EXPECT_TRUE(skype.commands.empty());
}

INSTANTIATE_TEST_SUITE_P(Values, OnlineStatusTest,
                         testing::Values(StatusCase{"OFFLINE", 1}, StatusCase{"UNKNOWN", 1},
                                         StatusCase{"ONLINE", 2}, StatusCase{"AWAY", 2},
                                         StatusCase{"DND", 2}, StatusCase{"SKYPEME", 2}));

TEST_F(ModelTest, OnlineStatusOfTheOwnNameOrOfAStrangerChangesNothing)
{
    notify("USERS alice, bob");
    notify("CURRENTUSERHANDLE alice");
    skype.commands.clear();
    listener.changes = 0;
    notify("USER alice ONLINESTATUS ONLINE");
    notify("USER mallory ONLINESTATUS ONLINE");
    EXPECT_EQ(model->userList[0].status, 1);
    EXPECT_EQ(model->userList[1].status, 1);
    EXPECT_EQ(names(*model), (std::vector<std::string>{"alice", "bob"}));
    EXPECT_EQ(listener.changes, 0);
}

TEST_F(ModelTest, UserTextsWithFewerThanThreeTokensOrOtherPropertiesAreIgnored)
{
    threeContacts();
    for (const char* text : {"USER bob", "USER bob ONLINESTATUS", "USER", "USER bob FULLNAME Bob Builder",
                             "USER bob BUDDYSTATUS 3", "USER dave BUDDYSTATUS 2", "USER dave BUDDYSTATUS 1"})
        notify(text);
    EXPECT_EQ(names(*model), (std::vector<std::string>{"alice", "bob", "carol"}));
    for (const UserEntry& entry : model->userList)
        EXPECT_EQ(entry.status, 1);
    EXPECT_EQ(listener.changes, 0);
}

TEST_F(ModelTest, BuddyStatusThreeAppendsANewOfflineContactSilently)
{
    threeContacts();
    model->selectUser("bob");
    listener.changes = 0;
    notify("USER dave BUDDYSTATUS 3");
    EXPECT_EQ(names(*model), (std::vector<std::string>{"alice", "bob", "carol", "dave"}));
    EXPECT_EQ(model->userList[3].status, 1);
    for (int flag : model->userList[3].connectable)
        EXPECT_EQ(flag, 0);
    EXPECT_EQ(model->selectedIndex, 1);
    EXPECT_EQ(listener.changes, 0);
    EXPECT_TRUE(skype.commands.empty());   // no status query for it
    notify("USER dave BUDDYSTATUS 3");
    EXPECT_EQ(model->userList.size(), 4u);
}

TEST_F(ModelTest, OwnHandleIsCutAtTheFirstPunctuation)
{
    notify("CURRENTUSERHANDLE alice.smith");
    EXPECT_EQ(model->currentUser, "alice");
    notify("CURRENTUSERHANDLE bob");
    EXPECT_EQ(model->currentUser, "bob");
    EXPECT_EQ(listener.changes, 0);
}

TEST_F(ModelTest, OwnStatusFollowsUserStatus)
{
    const std::vector<std::pair<const char*, int>> cases = {
        {"ONLINE", 2}, {"OFFLINE", 1}, {"AWAY", 2}, {"UNKNOWN", 1}, {"NA", 2}, {"LOGEDOUT", 1}, {"INVISIBLE", 2}};
    for (const auto& [value, status] : cases) {
        notify(std::string("USERSTATUS ") + value);
        EXPECT_EQ(model->onlineStatus, status) << value;
    }
    EXPECT_EQ(listener.changes, 0);
}

// Names as long as the link gives them stay whole: two contacts that differ
// only after byte 49 stay two, and each one's status, flags, query and
// selection are its own.
TEST_F(ModelTest, LongNamesStayWholeInTheListTheQueriesAndTheFlags)
{
    const std::string first = std::string(60, 'x') + "1";
    const std::string second = std::string(60, 'x') + "2";
    const std::string wide = std::string(48, 'z') + "山川";
    notify("USERS " + first + ", " + second + ", " + wide);
    EXPECT_EQ(names(*model), (std::vector<std::string>{first, second, wide}));
    EXPECT_EQ(skype.commands, (std::vector<std::string>{"GET USER " + first + " ONLINESTATUS",
                                                        "GET USER " + second + " ONLINESTATUS",
                                                        "GET USER " + wide + " ONLINESTATUS",
                                                        "GET CURRENTUSERHANDLE"}));

    notify("USER " + second + " ONLINESTATUS ONLINE");
    EXPECT_EQ(model->userList[0].status, CONTACT_OFFLINE);
    EXPECT_EQ(model->userList[1].status, CONTACT_ONLINE);
    char list[256];
    std::snprintf(list, sizeof list, "%s", second.c_str());
    model->setConnectable(1, list);
    EXPECT_EQ(model->userList[0].connectable[1], 0);
    EXPECT_EQ(model->userList[1].connectable[1], 1);
    model->selectUser(second.c_str());
    EXPECT_EQ(model->selectedIndex, 1);
    EXPECT_EQ(model->containsUser(first.c_str()), 1);
    EXPECT_EQ(model->containsUser(std::string(60, 'x').c_str()), 0);

    // The own account, however long, is not a contact.
    notify("CURRENTUSERHANDLE " + first);
    EXPECT_EQ(model->currentUser, first);
    notify("USER " + first + " ONLINESTATUS ONLINE");
    EXPECT_EQ(model->userList[0].status, CONTACT_OFFLINE);
}

TEST_F(ModelTest, SetConnectableSetsOneChannelsFlagsAndTellsTheListeners)
{
    threeContacts();
    char list[] = "carol alice mallory";
    model->setConnectable(2, list);
    EXPECT_EQ(model->userList[0].connectable[2], 1);
    EXPECT_EQ(model->userList[1].connectable[2], 0);
    EXPECT_EQ(model->userList[2].connectable[2], 1);
    EXPECT_EQ(model->userList[0].connectable[1], 0);
    EXPECT_EQ(listener.changes, 1);

    char other[] = "bob";
    model->setConnectable(2, other);
    EXPECT_EQ(model->userList[0].connectable[2], 0);
    EXPECT_EQ(model->userList[1].connectable[2], 1);
    EXPECT_EQ(model->userList[2].connectable[2], 0);
    EXPECT_EQ(listener.changes, 2);
}

TEST_F(ModelTest, SetConnectableWithAnEmptyListSetsOnlyTheContactWithAnEmptyName)
{
    notify("USERS alice,,bob");
    char all[] = "alice bob";
    model->setConnectable(0, all);
    listener.changes = 0;
    char empty[] = "";
    model->setConnectable(0, empty);
    EXPECT_EQ(model->userList[0].connectable[0], 0);
    EXPECT_EQ(model->userList[1].connectable[0], 1);
    EXPECT_EQ(model->userList[2].connectable[0], 0);
    EXPECT_EQ(listener.changes, 1);
}

TEST_F(ModelTest, SetConnectableSetsEveryEqualEntryAndIgnoresAChannelOutOfRange)
{
    notify("USERS bob, alice, bob");
    char list[] = "bob";
    model->setConnectable(4, list);
    EXPECT_EQ(model->userList[0].connectable[4], 1);
    EXPECT_EQ(model->userList[1].connectable[4], 0);
    EXPECT_EQ(model->userList[2].connectable[4], 1);
    listener.changes = 0;
    model->setConnectable(5, list);
    model->setConnectable(-1, list);
    EXPECT_EQ(listener.changes, 0);
    for (const UserEntry& entry : model->userList)
        EXPECT_EQ(entry.status, 1);   // nothing written next to the flags
}

TEST_F(ModelTest, SelectUserTakesTheLastEqualNameAndAlwaysNotifies)
{
    notify("USERS alice, bob, alice");
    listener.changes = 0;
    model->selectUser("alice");
    EXPECT_EQ(model->selectedIndex, 2);
    model->selectUser("bob");
    EXPECT_EQ(model->selectedIndex, 1);
    model->selectUser("mallory");
    EXPECT_EQ(model->selectedIndex, 1);
    model->selectUser("bo");
    EXPECT_EQ(model->selectedIndex, 1);
    EXPECT_EQ(listener.changes, 4);
}

TEST_F(ModelTest, SelectUserOnAnEmptyListOnlyNotifies)
{
    model->selectUser("alice");
    EXPECT_EQ(model->selectedIndex, 0);
    EXPECT_TRUE(model->userList.empty());
    EXPECT_EQ(listener.changes, 1);
}

TEST_F(ModelTest, ContainsUserComparesWholeNames)
{
    EXPECT_EQ(model->containsUser("alice"), 0);
    threeContacts();
    EXPECT_EQ(model->containsUser("alice"), 1);
    EXPECT_EQ(model->containsUser("carol"), 1);
    EXPECT_EQ(model->containsUser("car"), 0);
    EXPECT_EQ(model->containsUser("carole"), 0);
    EXPECT_EQ(model->containsUser(""), 0);
}

TEST_F(ModelTest, ResetModelRestoresTheStartingValuesAndNotifies)
{
    threeContacts();
    notify("CURRENTUSERHANDLE alice");
    notify("USERSTATUS ONLINE");
    model->selectUser("bob");
    listener.changes = 0;
    size_t users = link->users.size();
    model->resetModel();
    EXPECT_TRUE(model->userList.empty());
    EXPECT_EQ(model->currentUser[0], '\0');
    EXPECT_EQ(model->onlineStatus, 1);
    EXPECT_EQ(model->linkStatus, 0);
    EXPECT_EQ(model->selectedIndex, 0);
    EXPECT_EQ(listener.changes, 1);
    EXPECT_EQ(link->users.size(), users);   // not registered again
}

} // namespace
