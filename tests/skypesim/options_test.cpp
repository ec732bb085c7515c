// skypesim's command line.
#include "options.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace skypesim;

namespace {
ParseResult parse(std::vector<std::string> args, Options& o, std::string& error)
{
    std::vector<const char*> argv{"skypesim"};
    for (auto& a : args)
        argv.push_back(a.c_str());
    return parseOptions(static_cast<int>(argv.size()), argv.data(), o, error);
}
} // namespace

TEST(SkypesimOptions, FullCommandLine)
{
    Options o;
    std::string error;
    ASSERT_EQ(parse({"--user", "alice", "--contact", "bob@127.0.0.1:4711", "--contact=carol",
                     "--contact", "dave@[::1]:9", "--listen", "*:4700", "--attach", "pending:250",
                     "--offline", "--trace", "--control", "/tmp/x.ctl", "--desktop=/tmp/d"},
                    o, error),
              ParseResult::Run)
        << error;
    EXPECT_EQ(o.user, "alice");
    ASSERT_EQ(o.contacts.size(), 3u);
    EXPECT_EQ(o.contacts[0].name, "bob");
    EXPECT_EQ(o.contacts[0].host, "127.0.0.1");
    EXPECT_EQ(o.contacts[0].port, 4711);
    EXPECT_EQ(o.contacts[1].name, "carol");
    EXPECT_EQ(o.contacts[1].host, "");
    EXPECT_EQ(o.contacts[2].host, "::1");
    EXPECT_EQ(o.contacts[2].port, 9);
    EXPECT_EQ(o.listenHost, "*");
    EXPECT_EQ(o.listenPort, 4700);
    EXPECT_EQ(o.attach, AttachMode::Pending);
    EXPECT_EQ(o.pendingDelayMs, 250);
    EXPECT_TRUE(o.offline);
    EXPECT_TRUE(o.trace);
    EXPECT_EQ(o.control, "/tmp/x.ctl");
    EXPECT_EQ(o.desktop, "/tmp/d");
}

TEST(SkypesimOptions, Defaults)
{
    Options o;
    std::string error;
    ASSERT_EQ(parse({"--user", "bob"}, o, error), ParseResult::Run);
    EXPECT_EQ(o.listenHost, "127.0.0.1");
    EXPECT_EQ(o.listenPort, 0);
    EXPECT_EQ(o.attach, AttachMode::Success);
    EXPECT_FALSE(o.offline);
    EXPECT_FALSE(o.trace);
    EXPECT_TRUE(o.control.empty());
}

TEST(SkypesimOptions, AttachModes)
{
    struct Case {
        const char* arg;
        AttachMode mode;
    } cases[] = {{"success", AttachMode::Success}, {"pending", AttachMode::Pending},
                 {"refuse", AttachMode::Refuse}, {"unavailable", AttachMode::Unavailable}};
    for (const auto& c : cases) {
        Options o;
        std::string error;
        ASSERT_EQ(parse({"--user", "u", "--attach", c.arg}, o, error), ParseResult::Run) << c.arg;
        EXPECT_EQ(o.attach, c.mode) << c.arg;
    }
}

TEST(SkypesimOptions, HelpAndBadInput)
{
    Options o;
    std::string error;
    EXPECT_EQ(parse({"--help"}, o, error), ParseResult::Help);
    EXPECT_NE(std::string(usageText()).find("--contact NAME[@HOST:PORT]"), std::string::npos);

    struct Case {
        std::vector<std::string> args;
        const char* message;
    } cases[] = {
        {{}, "--user NAME is required"},
        {{"--user"}, "option --user needs a value"},
        {{"--user", "a b"}, "bad user name 'a b'"},
        {{"--user", "a", "--bogus"}, "unknown option '--bogus'"},
        {{"--user", "a", "extra"}, "unknown option 'extra'"},
        {{"--user", "a", "--contact", "b@host"}, "--contact b@host: bad address 'host'"},
        {{"--user", "a", "--contact", "b@h:0"}, "port must be 1 to 65535"},
        {{"--user", "a", "--contact", "b@h:70000"}, "port must be 1 to 65535"},
        {{"--user", "a", "--contact", "b@::1:5"}, "write IPv6 addresses as [ADDRESS]:PORT"},
        {{"--user", "a", "--contact", "b", "--contact", "b"}, "contact b given twice"},
        {{"--user", "a", "--contact", "a"}, "cannot be its own contact"},
        {{"--user", "a", "--contact", "b,c"}, "bad contact name"},
        {{"--user", "a", "--listen", "127.0.0.1"}, "--listen: bad address"},
        {{"--user", "a", "--attach", "maybe"}, "--attach: unknown mode 'maybe'"},
        {{"--user", "a", "--attach", "pending:soon"}, "the delay must be 0 to 3600000 ms"},
        {{"--user", "a", "--offline=yes"}, "option --offline takes no value"},
        {{"--user", "a", "--control", ""}, "--control needs a path"},
    };
    for (const auto& c : cases) {
        Options opt;
        std::string err;
        EXPECT_EQ(parse(c.args, opt, err), ParseResult::Error) << c.message;
        EXPECT_NE(err.find(c.message), std::string::npos) << "got: " << err;
    }
}
