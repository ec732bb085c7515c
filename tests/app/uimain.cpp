// Test main for the program's windows: the user-interface platform (offscreen
// under ctest), the program's resources, a private desktop and working
// directory per process. Trace output is off unless ZORVANE_TEST_TRACE is set.
#include "app/resources/resources.h"
#include "platform/fileapi.h"
#include "platform/trace.h"
#include "platform/ui/resource.h"
#include "platform/ui/winapp.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <unistd.h>

int main(int argc, char** argv)
{
    testing::InitGoogleTest(&argc, argv);
    char pattern[] = "/tmp/zorvane-uitest-XXXXXX";
    const char* dir = mkdtemp(pattern);
    if (dir == nullptr)
        return 2;
    const std::string desktop = std::string(dir) + "/desktop";
    setenv("ZORVANE_DESKTOP", desktop.c_str(), 1);
    if (chdir(dir) != 0)
        return 2;
    if (std::getenv("ZORVANE_TEST_TRACE") == nullptr)
        setTraceEnabled(false);
    setModuleFileName(argv[0]);
    AfxSetResourceModule(programResources());
    InitPlatformGui(argc, argv);
    int result = RUN_ALL_TESTS();
    std::error_code ignored;
    std::filesystem::remove_all(dir, ignored);
    return result;
}
