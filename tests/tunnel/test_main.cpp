// Test main of the tunnel tests: a private desktop and working directory per
// process, so that broadcasts and log files stay inside the test.
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

    char pattern[] = "/tmp/tunnel-test-XXXXXX";
    const char* dir = mkdtemp(pattern);
    if (dir == nullptr)
        return 2;
    const std::string desktop = std::string(dir) + "/desktop";
    setenv("ZORVANE_DESKTOP", desktop.c_str(), 1);
    if (chdir(dir) != 0)
        return 2;
    if (std::getenv("TUNNEL_TEST_TRACE") == nullptr)
        setTraceEnabled(false);

    InitPlatform(argc, argv);
    // The link's window class can be registered once per process; later
    // tests meet its message box.
    setMessageBoxHandler([](HWND, const char*, const char*, UINT) { return IDOK; });

    int result = RUN_ALL_TESTS();
    std::error_code ignored;
    std::filesystem::remove_all(dir, ignored);
    return result;
}
