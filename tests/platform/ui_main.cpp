// The framework tests' main: a desktop of their own, the user interface
// started (offscreen), the test resources installed.
#include "ui_support.h"

#include "platform/ui/winapp.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include <stdlib.h>

int main(int argc, char** argv)
{
    testing::InitGoogleTest(&argc, argv);
    char pattern[] = "/tmp/zorvane-uitest-XXXXXX";
    const char* desktop = mkdtemp(pattern);
    if (!desktop)
        return 1;
    setenv("ZORVANE_DESKTOP", desktop, 1);
    InitPlatformGui(argc, argv);
    uitesting::installResources();
    int result = RUN_ALL_TESTS();
    std::error_code ec;
    std::filesystem::remove_all(desktop, ec);
    return result;
}
