// The desktop directory's rules and the named mutex.
#include "platform/desktop.h"
#include "platform/namedmutex.h"
#include "winmsg_support.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <sys/stat.h>
#include <unistd.h>

using namespace winmsgtest;

namespace {

mode_t modeOf(const std::string& path)
{
    struct stat st{};
    stat(path.c_str(), &st);
    return st.st_mode & 07777;
}

// Sets or clears an environment variable for the scope.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const char* value) : name_(name)
    {
        if (const char* old = std::getenv(name)) {
            had_ = true;
            old_ = old;
        }
        if (value)
            setenv(name, value, 1);
        else
            unsetenv(name);
    }
    ~ScopedEnv()
    {
        if (had_)
            setenv(name_, old_.c_str(), 1);
        else
            unsetenv(name_);
    }

private:
    const char* name_;
    bool had_ = false;
    std::string old_;
};

} // namespace

TEST(WinmsgDesktop, TheDirectoryComesFromTheEnvironment)
{
    {
        ScopedEnv own("ZORVANE_DESKTOP", "/somewhere/desk");
        ScopedEnv runtime("XDG_RUNTIME_DIR", "/run/user/1000");
        EXPECT_EQ(desktopDirectoryFromEnvironment(), "/somewhere/desk");
    }
    {
        ScopedEnv own("ZORVANE_DESKTOP", nullptr);
        ScopedEnv runtime("XDG_RUNTIME_DIR", "/run/user/1000");
        EXPECT_EQ(desktopDirectoryFromEnvironment(), "/run/user/1000/zorvane-desktop");
    }
    {
        ScopedEnv own("ZORVANE_DESKTOP", "");
        ScopedEnv runtime("XDG_RUNTIME_DIR", nullptr);
        EXPECT_EQ(desktopDirectoryFromEnvironment(),
                  "/tmp/zorvane-desktop-" + std::to_string(geteuid()));
    }
    EXPECT_EQ(desktopDirectory(), testDesktop());
    EXPECT_TRUE(desktopError().empty());
}

TEST(WinmsgDesktop, ANewDirectoryIsPrivateWhateverTheUmask)
{
    const std::string base = makeTempDir("base");
    mode_t old = umask(0);
    std::string error;
    const std::string dir = base + "/desk";
    EXPECT_TRUE(prepareDesktopDirectory(dir, error)) << error;
    umask(old);
    EXPECT_EQ(modeOf(dir), 0700u);
    EXPECT_TRUE(prepareDesktopDirectory(dir, error)) << "an existing private one is taken";
    EXPECT_FALSE(prepareDesktopDirectory(base + "/missing/desk", error));
    EXPECT_FALSE(error.empty());
}

TEST(WinmsgDesktop, ADirectoryOpenToOthersOrNotADirectoryIsRefused)
{
    const std::string base = makeTempDir("modes");
    struct Case {
        mode_t mode;
        bool taken;
    };
    const Case cases[] = {{0700, true}, {0750, false}, {0705, false}, {0701, false},
                          {0710, false}, {0777, false}, {0720, false}};
    int n = 0;
    for (const Case& c : cases) {
        std::string dir = base + "/d" + std::to_string(n++);
        ASSERT_EQ(mkdir(dir.c_str(), 0700), 0);
        ASSERT_EQ(chmod(dir.c_str(), c.mode), 0);
        std::string error;
        EXPECT_EQ(prepareDesktopDirectory(dir, error), c.taken) << std::oct << c.mode;
        if (!c.taken) {
            EXPECT_NE(error.find("open to others"), std::string::npos) << error;
        }
    }
    const std::string file = base + "/file";
    fclose(fopen(file.c_str(), "w"));
    std::string error;
    EXPECT_FALSE(prepareDesktopDirectory(file, error));
    EXPECT_NE(error.find("not a directory"), std::string::npos) << error;
    EXPECT_FALSE(prepareDesktopDirectory("", error));

    // A link of ours to a private directory of ours is fine.
    const std::string link = base + "/link";
    ASSERT_EQ(symlink((base + "/d0").c_str(), link.c_str()), 0);
    EXPECT_TRUE(prepareDesktopDirectory(link, error)) << error;
}

TEST(WinmsgDesktop, ADirectoryOfAnotherUserIsRefused)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root to give a directory away";
    const std::string base = makeTempDir("foreign");
    const std::string dir = base + "/desk";
    ASSERT_EQ(mkdir(dir.c_str(), 0700), 0);
    ASSERT_EQ(chown(dir.c_str(), 65534, 65534), 0);
    std::string error;
    EXPECT_FALSE(prepareDesktopDirectory(dir, error));
    EXPECT_NE(error.find("another user"), std::string::npos) << error;

    // Nor a link that another user planted.
    const std::string own = base + "/own";
    ASSERT_EQ(mkdir(own.c_str(), 0700), 0);
    const std::string link = base + "/planted";
    ASSERT_EQ(symlink(own.c_str(), link.c_str()), 0);
    ASSERT_EQ(lchown(link.c_str(), 65534, 65534), 0);
    EXPECT_FALSE(prepareDesktopDirectory(link, error));
}

TEST(WinmsgMutex, OneHolderPerNameAcrossProcesses)
{
    const char* name = "__ZORVANEFORTCP_TESSIVARNEL__";
    HANDLE first = CreateMutexA(nullptr, TRUE, name);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(GetLastError(), ERROR_SUCCESS);

    {
        Child probe({"mutex", name, "probe"});
        EXPECT_EQ(probe.readLine(), "MUTEX EXISTS");
    }
    HANDLE second = CreateMutexA(nullptr, TRUE, name);
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS) << "in the same process too";
    EXPECT_TRUE(CloseHandle(second));
    {
        Child probe({"mutex", name, "probe"});
        EXPECT_EQ(probe.readLine(), "MUTEX EXISTS") << "closing the second handle keeps the lock";
    }
    EXPECT_TRUE(CloseHandle(first));
    {
        Child probe({"mutex", name, "probe"});
        EXPECT_EQ(probe.readLine(), "MUTEX OWNER");
    }

    // Held by another process until it ends.
    Child holder({"mutex", name, "hold"});
    ASSERT_EQ(holder.readLine(), "MUTEX OWNER");
    HANDLE again = CreateMutexA(nullptr, TRUE, name);
    EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
    CloseHandle(again);
    holder.kill();
    HANDLE after = CreateMutexA(nullptr, TRUE, name);
    EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
    CloseHandle(after);

    // Names are kept apart, whatever their characters.
    HANDLE a = CreateMutexA(nullptr, TRUE, "Global\\one/two");
    EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
    HANDLE b = CreateMutexA(nullptr, TRUE, "Global_one_two");
    EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
    HANDLE c = CreateMutexA(nullptr, TRUE, std::string(400, 'x').c_str());
    EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
    HANDLE d = CreateMutexA(nullptr, TRUE, (std::string(400, 'x') + "y").c_str());
    EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
    for (HANDLE h : {a, b, c, d})
        EXPECT_TRUE(CloseHandle(h));

    int notAHandle = 0;
    EXPECT_FALSE(CloseHandle(&notAHandle));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
}

TEST(WinmsgMutex, NoDesktopNoMutex)
{
    const std::string open = makeTempDir("open");
    ASSERT_EQ(chmod(open.c_str(), 0755), 0);
    Child child({"mutex", "x", "probe"}, open);
    EXPECT_EQ(child.readLine(), "MUTEX ERROR 5");
}
