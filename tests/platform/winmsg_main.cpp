// The tests' main: a desktop of their own, the platform initialised.
#include "winmsg_support.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <signal.h>

// The tests run in a desktop of their own, removed at exit.
int main(int argc, char** argv)
{
    testing::InitGoogleTest(&argc, argv);
    signal(SIGPIPE, SIG_IGN);
    winmsgtest::ownDesktop = winmsgtest::makeTempDir("desktop");
    setenv("ZORVANE_DESKTOP", winmsgtest::ownDesktop.c_str(), 1);
    InitPlatform(argc, argv);
    int result = RUN_ALL_TESTS();
    for (auto& dir : winmsgtest::tempDirectories()) {
        std::error_code ec;
        std::filesystem::permissions(dir, std::filesystem::perms::owner_all, ec);
        std::filesystem::remove_all(dir, ec);
    }
    return result;
}
