// skypesim's API window and a client window in one process: every reply and
// notification leaves from the posted drain, after the command returned.
#include "node.h"
#include "sim_client.h"
#include "window_port.h"

#include "platform/winuser.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

using namespace skypesim;

namespace {

struct Local : ::testing::Test {
    WindowPort port;
    std::unique_ptr<Node> node;
    std::unique_ptr<SimClient> client = std::make_unique<SimClient>();

    void SetUp() override
    {
        Options o;
        o.user = "alice";
        o.contacts = {{"bob", "", 0}};
        node = std::make_unique<Node>(o, port);
        std::string error;
        ASSERT_TRUE(node->start(error)) << error;
        ASSERT_TRUE(port.create(*node, error)) << error;
        client->discover(port.window());
        ASSERT_TRUE(pumpUntil([&] { return client->texts().size() == 3; }));
        EXPECT_EQ(client->skype(), port.window());
    }
};

} // namespace

TEST_F(Local, RepliesLeaveAfterTheCommandReturned)
{
    EXPECT_EQ(client->attachCodes(), (std::vector<int>{0}));
    EXPECT_EQ(client->texts(), (std::vector<std::string>{"CONNSTATUS ONLINE", "CURRENTUSERHANDLE alice",
                                                         "USERSTATUS ONLINE"}));
    EXPECT_EQ(client->send("SEARCH FRIENDS"), 1);
    EXPECT_EQ(client->send("PING"), 1);
    EXPECT_EQ(client->texts().size(), 3u) << "nothing arrives inside the command's SendMessage";
    ASSERT_TRUE(pumpUntil([&] { return client->texts().size() == 5; }));
    EXPECT_EQ(client->texts()[3], "USERS bob");
    EXPECT_EQ(client->texts()[4], "PONG");
}

TEST_F(Local, CommandsSentFromWithinANotification)
{
    // As the program does: it answers a notification with a command from
    // within the notification's SendMessage.
    std::vector<LRESULT> results;
    client->onText = [&](const std::string& s) {
        if (s == "USERS bob") {
            results.push_back(client->send("GET USER bob ONLINESTATUS"));
            results.push_back(client->send("GET CURRENTUSERHANDLE"));
        }
    };
    client->skipSeen();
    EXPECT_EQ(client->send("SEARCH FRIENDS"), 1);
    ASSERT_TRUE(pumpUntil([&] { return client->texts().size() == 6; }));
    EXPECT_EQ(results, (std::vector<LRESULT>{1, 1}));
    EXPECT_EQ(client->next(), "USERS bob");
    EXPECT_EQ(client->next(), "USER bob ONLINESTATUS OFFLINE");
    EXPECT_EQ(client->next(), "CURRENTUSERHANDLE alice");
}

TEST_F(Local, TextIsReadWithinItsByteCount)
{
    char data[] = {'P', 'I', 'N', 'G', 'X', 'X'};   // no terminator within cbData
    COPYDATASTRUCT cds{0, 4, data};
    EXPECT_EQ(SendMessageA(port.window(), WM_COPYDATA, reinterpret_cast<WPARAM>(client->window()),
                           reinterpret_cast<LPARAM>(&cds)),
              1);
    ASSERT_TRUE(pumpUntil([&] { return client->has("PONG"); }));
    COPYDATASTRUCT empty{0, 0, nullptr};
    EXPECT_EQ(SendMessageA(port.window(), WM_COPYDATA, reinterpret_cast<WPARAM>(client->window()),
                           reinterpret_cast<LPARAM>(&empty)),
              1);
    ASSERT_TRUE(pumpUntil([&] { return client->has("ERROR 1 Empty command"); }));
}

TEST_F(Local, OtherWindowsAreNotTaken)
{
    SimClient stranger;
    COPYDATASTRUCT cds{0, 5, const_cast<char*>("PING")};
    EXPECT_EQ(SendMessageA(port.window(), WM_COPYDATA, reinterpret_cast<WPARAM>(stranger.window()),
                           reinterpret_cast<LPARAM>(&cds)),
              0);
}

TEST_F(Local, GoneClientIsDetached)
{
    EXPECT_EQ(client->send("CREATE APPLICATION App1"), 1);
    ASSERT_TRUE(pumpUntil([&] { return client->has("CREATE APPLICATION App1"); }));
    EXPECT_EQ(node->engine().applicationsReport(), "App1");
    node->control("notify CALL 1 STATUS RINGING");   // on its way when the window goes
    client.reset();
    ASSERT_TRUE(pumpUntil([&] { return !node->engine().attached(); }));
    EXPECT_EQ(node->engine().applicationsReport(), "");
}

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    char desktop[] = "/tmp/skypesim-desktop-XXXXXX";
    if (mkdtemp(desktop) == nullptr)
        return 1;
    setenv("ZORVANE_DESKTOP", desktop, 1);
    InitPlatform(argc, argv);
    int rc = RUN_ALL_TESTS();
    std::system((std::string("rm -rf ") + desktop).c_str());
    return rc;
}
