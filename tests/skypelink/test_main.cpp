// Test main of the Skype link tests: a private desktop and working directory
// per process, so that broadcasts and log files stay inside the test.
#include "fakeskype.h"
#include "platform/trace.h"
#include "platform/winuser.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <unistd.h>

int main(int argc, char** argv)
{
    testing::InitGoogleTest(&argc, argv);

    char pattern[] = "/tmp/skypelink-test-XXXXXX";
    const char* dir = mkdtemp(pattern);
    if (dir == nullptr)
        return 2;
    const std::string desktop = std::string(dir) + "/desktop";
    setenv("ZORVANE_DESKTOP", desktop.c_str(), 1);
    if (chdir(dir) != 0)
        return 2;
    if (std::getenv("SKYPELINK_TEST_TRACE") == nullptr)
        setTraceEnabled(false);

    InitPlatform(argc, argv);
    setMessageBoxHandler([](HWND, const char* text, const char* caption, UINT type) {
        shownMessageBoxes().push_back({text, caption, type});
        return IDOK;
    });

    int result = RUN_ALL_TESTS();
    std::error_code ignored;
    std::filesystem::remove_all(dir, ignored);
    return result;
}
