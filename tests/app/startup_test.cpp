// Start-up: the command-line switches, the program directory, one instance
// per desktop, and a desktop that cannot be used.
#include "app/zorvanefortcpapp.h"
#include "platform/ui/uitest.h"
#include "relay/sockettcp.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <signal.h>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

struct SwitchCase {
    const char* name;
    std::vector<std::string> arguments; // after the program name
    int debug;
    int localOnlyAfter;
};

class SwitchTest : public testing::TestWithParam<SwitchCase> {};

TEST_P(SwitchTest, OnlyExactSwitchesCount)
{
    const SwitchCase& c = GetParam();
    debugMode = 0;
    localOnly = 1;
    std::vector<std::string> storage = {"/opt/zorvane/zorvanefortcp"};
    storage.insert(storage.end(), c.arguments.begin(), c.arguments.end());
    std::vector<char*> argv;
    for (std::string& s : storage)
        argv.push_back(s.data());
    applyCommandLineSwitches(static_cast<int>(argv.size()), argv.data());
    EXPECT_EQ(debugMode, c.debug);
    EXPECT_EQ(localOnly, c.localOnlyAfter);
    debugMode = 0;
    localOnly = 1;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SwitchTest,
    testing::Values(SwitchCase{"none", {}, 0, 1},
                    SwitchCase{"debug", {"-D119"}, 1, 1},
                    SwitchCase{"lower_case", {"-d119"}, 0, 1},
                    SwitchCase{"longer", {"-D1190"}, 0, 1},
                    SwitchCase{"slash", {"/D119"}, 0, 1},
                    SwitchCase{"prefix_only", {"-D11"}, 0, 1},
                    SwitchCase{"no_local_only", {"-NOLOCALONLY"}, 0, 0},
                    SwitchCase{"no_local_only_longer", {"-NOLOCALONLYX"}, 0, 1},
                    SwitchCase{"no_local_only_lower", {"-nolocalonly"}, 0, 1},
                    SwitchCase{"both", {"-D119", "-NOLOCALONLY"}, 1, 0},
                    SwitchCase{"both_reversed", {"-NOLOCALONLY", "-D119"}, 1, 0},
                    SwitchCase{"among_others", {"x", "-NOLOCALONLY", "--", "-D119", "y"}, 1, 0}),
    [](const testing::TestParamInfo<SwitchCase>& p) { return p.param.name; });

struct DirectoryCase {
    const char* path;
    const char* directory;
};

class ProgramDirectoryTest : public testing::TestWithParam<DirectoryCase> {};

TEST_P(ProgramDirectoryTest, SplitAtTheLastSlash)
{
    EXPECT_EQ(directoryOfProgram(GetParam().path), GetParam().directory);
}

INSTANTIATE_TEST_SUITE_P(Paths, ProgramDirectoryTest,
                         testing::Values(DirectoryCase{"/opt/zorvane/zorvanefortcp", "/opt/zorvane"},
                                         DirectoryCase{"zorvanefortcp", ""},
                                         DirectoryCase{"./zorvanefortcp", "."},
                                         DirectoryCase{"/zorvanefortcp", ""},
                                         DirectoryCase{"/home/ゾルヴァン/bin/zorvanefortcp",
                                                       "/home/ゾルヴァン/bin"}));

std::string readFile(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

// The program in a directory of its own, run on the given desktop: offscreen,
// or (noDisplay) with no display in its environment and no platform chosen.
class ProgramRun {
public:
    ProgramRun(const std::filesystem::path& directory, const std::string& desktop,
               const std::vector<std::string>& arguments = {}, bool noDisplay = false)
        : folder(directory)
    {
        std::filesystem::create_directories(folder);
        std::filesystem::path program = folder / "zorvanefortcp";
        std::filesystem::create_symlink(ZORVANEFORTCP_PATH, program);
        pid = fork();
        if (pid == 0) {
            setenv("ZORVANE_DESKTOP", desktop.c_str(), 1);
            if (noDisplay) {
                unsetenv("QT_QPA_PLATFORM");
                unsetenv("DISPLAY");
                unsetenv("WAYLAND_DISPLAY");
            } else {
                setenv("QT_QPA_PLATFORM", "offscreen", 1);
            }
            int output = ::open((folder / "output.txt").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            dup2(output, 1);
            dup2(output, 2);
            std::vector<std::string> storage = {program.string()};
            storage.insert(storage.end(), arguments.begin(), arguments.end());
            std::vector<char*> argv;
            for (std::string& a : storage)
                argv.push_back(a.data());
            argv.push_back(nullptr);
            execv(program.c_str(), argv.data());
            _exit(127);
        }
    }
    ~ProgramRun()
    {
        if (pid > 0 && !ended()) {
            kill(pid, SIGKILL);
            waitpid(pid, nullptr, 0);
        }
    }
    // True once its start line is in its event log.
    bool waitStarted(int ms)
    {
        auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        while (std::chrono::steady_clock::now() < deadline) {
            if (readFile(folder / "LOG0.log").find(":EV:ZorvaneForTCP ") != std::string::npos)
                return true;
            if (ended())
                return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        return false;
    }
    bool ended()
    {
        if (status >= 0)
            return true;
        int raw = 0;
        if (waitpid(pid, &raw, WNOHANG) == pid) {
            status = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128;
            return true;
        }
        return false;
    }
    int waitExit(int ms)
    {
        auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        while (!ended() && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        return status;
    }

    std::filesystem::path folder;
    pid_t pid = -1;
    int status = -1;
};

TEST(StartUp, SecondInstanceShowsTheBoxAndEndsWhileTheFirstRunsOn)
{
    const char* desktop = std::getenv("ZORVANE_DESKTOP");
    ASSERT_NE(desktop, nullptr);
    std::filesystem::path base = std::filesystem::current_path() / "second-instance";
    ProgramRun first(base / "program", desktop);
    ASSERT_TRUE(first.waitStarted(20000)) << "the first instance did not start";

    uitest::MessageBoxRecorder boxes;
    EXPECT_EQ(theApp.InitInstance(), -1);
    ASSERT_EQ(boxes.calls().size(), 1u);
    EXPECT_EQ(boxes.calls()[0].text, "     既に起動されています.     ");
    EXPECT_EQ(boxes.calls()[0].caption, "２重起動");
    EXPECT_EQ(theApp.ExitInstance(), 1);
    EXPECT_FALSE(first.ended()) << "the first instance goes on";
}

// The toolkit's own switches, anywhere among the program's: the program
// starts, and its switch loop sees only what the toolkit left.
struct ToolkitSwitchCase {
    const char* name;
    std::vector<std::string> arguments;
    std::vector<std::string> seen; // as the program traces them
};

void PrintTo(const ToolkitSwitchCase& c, std::ostream* os) { *os << c.name; }

class ToolkitSwitchTest : public testing::TestWithParam<ToolkitSwitchCase> {};

TEST_P(ToolkitSwitchTest, ProgramStartsAndSeesWhatIsLeft)
{
    const ToolkitSwitchCase& c = GetParam();
    const char* desktop = std::getenv("ZORVANE_DESKTOP");
    ASSERT_NE(desktop, nullptr);
    std::filesystem::path base = std::filesystem::current_path() / c.name;
    std::filesystem::path folder = base / "program";
    {
        ProgramRun run(folder, desktop, c.arguments);
        EXPECT_TRUE(run.waitStarted(20000)) << "ended with " << run.status << ": "
                                            << readFile(folder / "output.txt");
        EXPECT_FALSE(run.ended()) << "status " << run.status;
    }
    std::string output = readFile(folder / "output.txt");
    std::string expected;
    for (size_t i = 0; i < c.seen.size(); ++i)
        expected += std::to_string(i + 1) + "番目の引数=" + c.seen[i] + "\n";
    std::string traced;
    std::istringstream lines(output);
    for (std::string line; std::getline(lines, line);)
        if (line.find("番目の引数=") != std::string::npos)
            traced += line + "\n";
    EXPECT_EQ(traced, expected) << output;
    bool debug = std::find(c.seen.begin(), c.seen.end(), "-D119") != c.seen.end();
    EXPECT_EQ(output.find("DEBUGMODE ON") != std::string::npos, debug) << output;
}

INSTANTIATE_TEST_SUITE_P(
    Lists, ToolkitSwitchTest,
    testing::Values(
        ToolkitSwitchCase{"reverse_then_debug", {"-reverse", "-D119"}, {"-D119"}},
        ToolkitSwitchCase{"platform", {"-platform", "offscreen"}, {}},
        ToolkitSwitchCase{"platform_among_switches", {"-NOLOCALONLY", "-platform", "offscreen", "-D119"},
                          {"-NOLOCALONLY", "-D119"}},
        ToolkitSwitchCase{"session", {"-session", "abc", "-D119"}, {"-D119"}},
        ToolkitSwitchCase{"style", {"-D119", "-style", "fusion"}, {"-D119"}},
        ToolkitSwitchCase{"all_mixed", {"x", "-reverse", "-D119", "-style", "fusion", "-platform", "offscreen", "y"},
                          {"x", "-D119", "y"}},
        ToolkitSwitchCase{"only_ours", {"-D119", "-NOLOCALONLY"}, {"-D119", "-NOLOCALONLY"}}),
    [](const testing::TestParamInfo<ToolkitSwitchCase>& p) { return p.param.name; });

// Without a display in the environment the program runs offscreen, unless
// its command line names a platform or a display: the toolkit's switch wins.
// "%d" stands for a display number no X server has.
struct DisplayChoiceCase {
    const char* name;
    std::vector<std::string> arguments;
    const char* traced; // a line of the program's output
    bool offscreen;     // it says it found no display and runs offscreen
};

void PrintTo(const DisplayChoiceCase& c, std::ostream* os) { *os << c.name; }

class DisplayChoiceTest : public testing::TestWithParam<DisplayChoiceCase> {};

std::string unusedDisplay()
{
    for (int n = 8917;; ++n)
        if (!std::filesystem::exists("/tmp/.X11-unix/X" + std::to_string(n)) &&
            !std::filesystem::exists("/tmp/.X" + std::to_string(n) + "-lock"))
            return ":" + std::to_string(n);
}

std::string withDisplay(std::string text, const std::string& display)
{
    for (size_t at; (at = text.find("%d")) != std::string::npos;)
        text.replace(at, 2, display);
    return text;
}

TEST_P(DisplayChoiceTest, CommandLineWinsOverTheEnvironment)
{
    const DisplayChoiceCase& c = GetParam();
    const char* desktop = std::getenv("ZORVANE_DESKTOP");
    ASSERT_NE(desktop, nullptr);
    std::string display = unusedDisplay();
    std::vector<std::string> arguments;
    for (const std::string& a : c.arguments)
        arguments.push_back(withDisplay(a, display));
    std::filesystem::path folder = std::filesystem::current_path() / "display-choice" / c.name;
    {
        ProgramRun run(folder, desktop, arguments, true);
        // A display that is not there ends the program at once; otherwise it runs.
        if (!run.waitStarted(20000))
            run.waitExit(20000);
    }
    std::string output = readFile(folder / "output.txt");
    EXPECT_NE(output.find(withDisplay(c.traced, display)), std::string::npos) << output;
    EXPECT_EQ(output.find("display: none found") != std::string::npos, c.offscreen) << output;
    EXPECT_EQ(output.find("display: running offscreen") != std::string::npos, c.offscreen) << output;
}

INSTANTIATE_TEST_SUITE_P(
    Switches, DisplayChoiceTest,
    testing::Values(
        DisplayChoiceCase{"none", {"-D119"}, "display: running offscreen", true},
        DisplayChoiceCase{"display", {"-display", "%d", "-D119"}, "could not connect to display %d", false},
        DisplayChoiceCase{"display_two_dashes", {"-D119", "--display", "%d"}, "could not connect to display %d",
                          false},
        DisplayChoiceCase{"platform", {"-platform", "minimal", "-D119"}, "display: minimal", false},
        DisplayChoiceCase{"platform_without_a_name", {"-D119", "-platform"}, "display: running offscreen", true}),
    [](const testing::TestParamInfo<DisplayChoiceCase>& p) { return p.param.name; });

TEST(StartUp, UnusableDesktopSaysWhyAndEndsWithAnError)
{
    std::filesystem::path base = std::filesystem::current_path() / "open-desktop";
    std::filesystem::path desktop = base / "desktop";
    std::filesystem::create_directories(desktop);
    ::chmod(desktop.c_str(), 0755); // open to others: refused
    ProgramRun run(base / "program", desktop.string());
    EXPECT_EQ(run.waitExit(20000), 1);
    EXPECT_FALSE(std::filesystem::exists(base / "program" / "LOG0.log")) << "no window ran";
    // Offscreen, the message box goes to standard error.
    std::string output = readFile(base / "program" / "output.txt");
    EXPECT_NE(output.find("ZorvaneForTcp cannot start: "), std::string::npos) << output;
    EXPECT_NE(output.find(desktop.string()), std::string::npos) << output;
}

} // namespace
