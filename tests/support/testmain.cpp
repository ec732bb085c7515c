// Test main for tests that use the window layer: a private desktop and working
// directory per process, so that broadcasts and log files stay inside the
// test. Trace output is off unless ZORVANE_TEST_TRACE (or the older
// SKYPELINK_TEST_TRACE / TUNNEL_TEST_TRACE) is set. Message boxes are
// recorded and answered with IDOK: the link's window class can be registered
// once per process, so later tests meet its message box.
#include "testmain.h"

#include "platform/trace.h"
#include "platform/winuser.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <unistd.h>

std::vector<ShownMessageBox>& shownMessageBoxes()
{
    static std::vector<ShownMessageBox> boxes;
    return boxes;
}

int main(int argc, char** argv)
{
    testing::InitGoogleTest(&argc, argv);

    char pattern[] = "/tmp/zorvane-test-XXXXXX";
    const char* dir = mkdtemp(pattern);
    if (dir == nullptr)
        return 2;
    const std::string desktop = std::string(dir) + "/desktop";
    setenv("ZORVANE_DESKTOP", desktop.c_str(), 1);
    if (chdir(dir) != 0)
        return 2;
    if (std::getenv("ZORVANE_TEST_TRACE") == nullptr && std::getenv("SKYPELINK_TEST_TRACE") == nullptr &&
        std::getenv("TUNNEL_TEST_TRACE") == nullptr)
        setTraceEnabled(false);

    InitPlatform(argc, argv);
    setMessageBoxHandler([](HWND, const char* text, const char* caption, UINT type) {
        shownMessageBoxes().push_back({text ? text : "", caption ? caption : "", type});
        return IDOK;
    });

    int result = RUN_ALL_TESTS();
    std::error_code ignored;
    std::filesystem::remove_all(dir, ignored);
    return result;
}
