#include "platform/ini.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

class Ini : public testing::Test {
protected:
    void SetUp() override
    {
        static std::atomic<int> serial{0};
        dir = fs::temp_directory_path() /
              ("zorvane-ini-" +
               std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()) + "-" +
               std::to_string(serial++));
        fs::create_directories(dir);
        path = (dir / "test.ini").string();
    }
    void TearDown() override { fs::remove_all(dir); }

    std::string read() const
    {
        std::ifstream in(path, std::ios::binary);
        std::ostringstream s;
        s << in.rdbuf();
        return s.str();
    }
    void write(const std::string& text) const { std::ofstream(path, std::ios::binary) << text; }
    int getInt(const char* section, const char* key, int def = -7) const
    {
        return static_cast<int>(GetPrivateProfileIntA(section, key, def, path.c_str()));
    }
    std::string getString(const char* section, const char* key, const char* def = "dflt",
                          DWORD size = 261) const
    {
        std::string buffer(size, '\x7f');
        DWORD n = GetPrivateProfileStringA(section, key, def, buffer.data(), size, path.c_str());
        EXPECT_EQ(n, std::string(buffer.c_str()).size());
        return buffer.c_str();
    }
    // No temporary file is left beside the settings file.
    void expectOnlyTheFile() const
    {
        int entries = 0;
        for (const auto& e : fs::directory_iterator(dir)) {
            ++entries;
            EXPECT_EQ(e.path().filename(), "test.ini");
        }
        EXPECT_LE(entries, 1);
    }

    fs::path dir;
    std::string path;
};

TEST_F(Ini, MissingFileSectionOrKeyGivesTheDefault)
{
    EXPECT_EQ(getInt("A", "B", 42), 42);
    EXPECT_EQ(getString("A", "B", "x"), "x");
    EXPECT_EQ(getString("A", "B", nullptr), "");
    write("[A]\nB=1\n");
    EXPECT_EQ(getInt("A", "C", 5), 5);
    EXPECT_EQ(getInt("Z", "B", 5), 5);
    EXPECT_FALSE(fs::exists(dir / "other.ini"));
}

TEST_F(Ini, NamesIgnoreLetterCaseAndBlanks)
{
    write("; comment=1\n[Log]\n  Count = 12 \r\nindex=3\n[SYSTEM]\nAPPMODE=1\n");
    EXPECT_EQ(getInt("LOG", "COUNT"), 12);
    EXPECT_EQ(getInt("log", "Index"), 3);
    EXPECT_EQ(getInt("system", "appmode"), 1);
    EXPECT_EQ(getInt("LOG", "APPMODE"), -7) << "keys belong to their section";
    EXPECT_EQ(getInt("", "comment"), -7) << "comments are no keys";
}

TEST_F(Ini, NamesGivenWithBlanksReadBackWhatWasWritten)
{
    // The writer stores names without the blanks around them; the reader
    // finds them again with the same arguments.
    struct {
        const char* section;
        const char* key;
    } cases[] = {{" SYSTEM", "APPMODE"}, {"SERVER\t", " FOWERDHOST1 "}, {"", " k"}, {" ", "\tk2"}};
    for (const auto& c : cases) {
        ASSERT_TRUE(WritePrivateProfileStringA(c.section, c.key, "5", path.c_str())) << c.key;
        EXPECT_EQ(getInt(c.section, c.key), 5) << "[" << c.section << "] " << c.key;
        EXPECT_EQ(getString(c.section, c.key), "5") << "[" << c.section << "] " << c.key;
    }
    write("[SYSTEM]\nAPPMODE=1\n");
    EXPECT_EQ(getInt(" system ", "\tappmode"), 1);
}

TEST_F(Ini, IntegersAreSignedDecimal)
{
    write("[N]\na=-1\nb=+17\nc=2147483647\nd=-2147483648\ne=2147483648\nf=12abc\ng=abc\nh=\n"
          "i=0x10\nj= 65536 \nk=-\n");
    struct {
        const char* key;
        int expected;
    } cases[] = {{"a", -1},          {"b", 17}, {"c", 2147483647}, {"d", -2147483647 - 1},
                 {"e", -7},          {"f", -7}, {"g", -7},         {"h", -7},
                 {"i", -7},          {"j", 65536}, {"k", -7}};
    for (const auto& c : cases)
        EXPECT_EQ(getInt("N", c.key), c.expected) << c.key;
}

TEST_F(Ini, StringsAreCutToTheBufferAndTerminated)
{
    write("[S]\nhost=abcdefghij\nempty=\nname=山田\n");
    EXPECT_EQ(getString("S", "host"), "abcdefghij");
    EXPECT_EQ(getString("S", "host", "", 5), "abcd");
    EXPECT_EQ(getString("S", "empty"), "") << "present but empty is not the default";
    EXPECT_EQ(getString("S", "name"), "山田");
    EXPECT_EQ(getString("S", "none", "127.0.0.1", 4), "127");
    char one = 'q';
    EXPECT_EQ(GetPrivateProfileStringA("S", "host", "", &one, 1, path.c_str()), 0u);
    EXPECT_EQ(one, '\0');
}

TEST_F(Ini, FirstOccurrenceCounts)
{
    write("[A]\nk=1\nk=2\n[A]\nk=3\nj=4\n");
    EXPECT_EQ(getInt("A", "k"), 1);
    ASSERT_TRUE(WritePrivateProfileStringA("A", "K", "9", path.c_str()));
    EXPECT_EQ(read(), "[A]\nK=9\nk=2\n[A]\nk=3\nj=4\n");
}

TEST_F(Ini, WriteCreatesFileSectionAndKey)
{
    ASSERT_TRUE(WritePrivateProfileStringA("LOG", "INDEX", "1", path.c_str()));
    EXPECT_EQ(read(), "[LOG]\nINDEX=1\n");
    ASSERT_TRUE(WritePrivateProfileStringA("LOG", "COUNT", "0", path.c_str()));
    ASSERT_TRUE(WritePrivateProfileStringA("SYSTEM", "APPMODE", "-1", path.c_str()));
    ASSERT_TRUE(WritePrivateProfileStringA("log", "index", "0", path.c_str()));
    ASSERT_TRUE(WritePrivateProfileStringA("CLIENT", "AUTOCONNECTUSER", "", path.c_str()));
    EXPECT_EQ(read(), "[LOG]\nindex=0\nCOUNT=0\n[SYSTEM]\nAPPMODE=-1\n[CLIENT]\nAUTOCONNECTUSER=\n");
    EXPECT_EQ(getInt("SYSTEM", "APPMODE"), -1);
    EXPECT_EQ(getString("CLIENT", "AUTOCONNECTUSER"), "");
    expectOnlyTheFile();
}

TEST_F(Ini, WriteKeepsEveryOtherLine)
{
    const std::string before = "; settings\r\n"
                               "[SYSTEM]\r\n"
                               "APPMODE = 1\r\n"
                               "junk line\r\n"
                               "\r\n"
                               "[LOG]\r\n"
                               "INDEX=1\r\n"
                               "COUNT=5";
    write(before);
    ASSERT_TRUE(WritePrivateProfileStringA("system", "SOUNDMODE", "0", path.c_str()));
    ASSERT_TRUE(WritePrivateProfileStringA("LOG", "COUNT", "6", path.c_str()));
    ASSERT_TRUE(WritePrivateProfileStringA("LOG", "NEW", "x", path.c_str()));
    EXPECT_EQ(read(), "; settings\r\n"
                      "[SYSTEM]\r\n"
                      "APPMODE = 1\r\n"
                      "junk line\r\n"
                      "SOUNDMODE=0\r\n"
                      "\r\n"
                      "[LOG]\r\n"
                      "INDEX=1\r\n"
                      "COUNT=6\r\n"
                      "NEW=x\r\n");
    expectOnlyTheFile();
}

TEST_F(Ini, BadInputIsRefusedAndTheFileKept)
{
    write("[A]\nk=1\n");
    const char* p = path.c_str();
    EXPECT_FALSE(WritePrivateProfileStringA("A", "k", "two\nlines", p));
    EXPECT_FALSE(WritePrivateProfileStringA("A", "k", "cr\r", p));
    EXPECT_FALSE(WritePrivateProfileStringA("A]", "k", "1", p));
    EXPECT_FALSE(WritePrivateProfileStringA("A", "k=x", "1", p));
    EXPECT_FALSE(WritePrivateProfileStringA("A", " ", "1", p));
    EXPECT_FALSE(WritePrivateProfileStringA("A", "[k", "1", p));
    EXPECT_FALSE(WritePrivateProfileStringA(nullptr, "k", "1", p));
    EXPECT_FALSE(WritePrivateProfileStringA("A", nullptr, "1", p));
    EXPECT_FALSE(WritePrivateProfileStringA("A", "k", nullptr, p));
    EXPECT_FALSE(WritePrivateProfileStringA("A", "k", "1", nullptr));
    EXPECT_EQ(read(), "[A]\nk=1\n");
}

TEST_F(Ini, FailedReplaceLeavesNoTrace)
{
    // The target is a directory: nothing can replace it.
    fs::create_directory(path);
    EXPECT_FALSE(WritePrivateProfileStringA("A", "k", "1", path.c_str()));
    EXPECT_TRUE(fs::is_directory(path));
    // A directory that does not exist.
    std::string missing = (dir / "no" / "such.ini").string();
    EXPECT_FALSE(WritePrivateProfileStringA("A", "k", "1", missing.c_str()));
    int entries = 0;
    for (const auto& e : fs::directory_iterator(dir)) {
        (void)e;
        ++entries;
    }
    EXPECT_EQ(entries, 1) << "no temporary file left behind";
}

TEST_F(Ini, WriteReplacesTheFileWhole)
{
    write("[A]\nk=1\n");
    fs::permissions(path, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    // Holding the old file open: its content stays the old version (a new
    // file took its name), which is what makes the write atomic.
    std::ifstream old(path, std::ios::binary);
    ASSERT_TRUE(WritePrivateProfileStringA("A", "k", "2", path.c_str()));
    std::ostringstream s;
    s << old.rdbuf();
    EXPECT_EQ(s.str(), "[A]\nk=1\n");
    EXPECT_EQ(read(), "[A]\nk=2\n");
    EXPECT_EQ(fs::status(path).permissions(), fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read)
        << "permissions kept";
    expectOnlyTheFile();
}

TEST_F(Ini, WriteGoesThroughASymbolicLink)
{
    fs::path real = dir / "real.ini";
    std::ofstream(real) << "[A]\nk=1\n";
    fs::create_symlink(real, path);
    ASSERT_TRUE(WritePrivateProfileStringA("A", "k", "2", path.c_str()));
    EXPECT_TRUE(fs::is_symlink(path));
    EXPECT_EQ(read(), "[A]\nk=2\n");
}

// Names with blanks at their edges: what the writer stores the reader finds,
// under the blank-edged names and the bare ones.
TEST_F(Ini, ReaderAndWriterAgreeOnBlankEdgedNames)
{
    struct Case {
        const char* section;
        const char* key;
    } cases[] = {{" SYSTEM", "APPMODE"}, {"SYSTEM ", " APPMODE"}, {"\tSYSTEM\t", "APPMODE\t"},
                 {"  SYSTEM  ", "  APPMODE  "}, {"SYSTEM", "APPMODE"}};
    int value = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string("[") + c.section + "] '" + c.key + "'");
        ++value;
        ASSERT_TRUE(
            WritePrivateProfileStringA(c.section, c.key, std::to_string(value).c_str(), path.c_str()));
        EXPECT_EQ(getInt(c.section, c.key), value);
        EXPECT_EQ(getString(c.section, c.key), std::to_string(value));
        EXPECT_EQ(getInt("SYSTEM", "APPMODE"), value);
        EXPECT_EQ(read(), "[SYSTEM]\nAPPMODE=" + std::to_string(value) + "\n") << "one key";
    }
}

// The file keeps its owner, group and mode (run as root, the owner is
// another user's).
TEST_F(Ini, WriteKeepsOwnerAndMode)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root to give a file away";
    struct Case {
        uid_t uid;
        gid_t gid;
        mode_t mode;
    } cases[] = {{12345, 54321, 0640}, {0, 54321, 0660}, {12345, 0, 0600}, {0, 0, 0644}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.uid) + ":" + std::to_string(c.gid) + " mode " +
                     std::to_string(c.mode));
        write("[A]\nk=1\n");
        ASSERT_EQ(chown(path.c_str(), c.uid, c.gid), 0);
        ASSERT_EQ(chmod(path.c_str(), c.mode), 0);
        ASSERT_TRUE(WritePrivateProfileStringA("A", "k", "2", path.c_str()));
        struct stat st {};
        ASSERT_EQ(stat(path.c_str(), &st), 0);
        EXPECT_EQ(st.st_uid, c.uid);
        EXPECT_EQ(st.st_gid, c.gid);
        EXPECT_EQ(st.st_mode & 07777, c.mode);
        EXPECT_EQ(read(), "[A]\nk=2\n");
        expectOnlyTheFile();
        fs::remove(path);
    }
}

// A user who may write the file but cannot give a new one its owner (the
// file is another user's, writable for the group) rewrites it in place: the
// owner stays. Run as root, the writer is a child that became that user.
TEST_F(Ini, AWriterWhoCannotKeepTheOwnerRewritesInPlace)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root to act as another user";
    write("[A]\nk=1\n");
    ASSERT_EQ(chown(path.c_str(), 4242, 54321), 0);
    ASSERT_EQ(chmod(path.c_str(), 0660), 0);
    ASSERT_EQ(chmod(dir.c_str(), 0777), 0);
    struct stat before {};
    ASSERT_EQ(stat(path.c_str(), &before), 0);
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        bool ok = setgid(54321) == 0 && setuid(12345) == 0 &&
                  WritePrivateProfileStringA("A", "k", "2", path.c_str());
        _exit(ok ? 0 : 1);
    }
    int status = -1;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the write failed";
    struct stat after {};
    ASSERT_EQ(stat(path.c_str(), &after), 0);
    EXPECT_EQ(after.st_uid, 4242u);
    EXPECT_EQ(after.st_gid, 54321u);
    EXPECT_EQ(after.st_mode & 07777, 0660u);
    EXPECT_EQ(after.st_ino, before.st_ino);
    EXPECT_EQ(read(), "[A]\nk=2\n");
    expectOnlyTheFile();
}

// A file without any write permission bit is read-only, as the Windows
// attribute: the write fails and the file stays as it was (root included).
TEST_F(Ini, ReadOnlyFileIsNotWritten)
{
    const mode_t modes[] = {0444, 0400, 0500, 0555};
    for (mode_t mode : modes) {
        SCOPED_TRACE(std::to_string(mode));
        write("[A]\nk=1\n");
        ASSERT_EQ(chmod(path.c_str(), mode), 0);
        EXPECT_FALSE(WritePrivateProfileStringA("A", "k", "2", path.c_str()));
        EXPECT_FALSE(WritePrivateProfileStringA("B", "new", "2", path.c_str()));
        EXPECT_EQ(read(), "[A]\nk=1\n");
        struct stat st {};
        ASSERT_EQ(stat(path.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 07777, mode);
        expectOnlyTheFile();
        chmod(path.c_str(), 0600);
        fs::remove(path);
    }
    // One write bit, for anybody, makes it writable.
    write("[A]\nk=1\n");
    ASSERT_EQ(chmod(path.c_str(), geteuid() == 0 ? 0424 : 0644), 0);
    EXPECT_TRUE(WritePrivateProfileStringA("A", "k", "2", path.c_str()));
    EXPECT_EQ(read(), "[A]\nk=2\n");
}

// Links are written through: a symbolic link stays a link (dangling ones and
// chains included) and the file it names gets the text; a hard-linked file
// keeps its inode, so every name sees the new text.
TEST_F(Ini, WriteGoesThroughLinksToTheirTarget)
{
    fs::create_directory(dir / "sub");
    const fs::path real = dir / "sub" / "real.ini";
    struct Case {
        const char* name;
        std::function<void()> make;
    } cases[] = {
        {"symbolic link", [&] {
             std::ofstream(real) << "[A]\nk=1\n";
             fs::create_symlink(real, path);
         }},
        {"relative symbolic link", [&] {
             std::ofstream(real) << "[A]\nk=1\n";
             fs::create_symlink("sub/real.ini", path);
         }},
        {"chain of links", [&] {
             std::ofstream(real) << "[A]\nk=1\n";
             fs::create_symlink("real.ini", dir / "sub" / "middle.ini");
             fs::create_symlink(dir / "sub" / "middle.ini", path);
         }},
        {"dangling symbolic link", [&] { fs::create_symlink("sub/real.ini", path); }},
        {"hard link", [&] {
             std::ofstream(real) << "[A]\nk=1\n";
             fs::create_hard_link(real, path);
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        c.make();
        struct stat before {};
        bool existed = stat(real.c_str(), &before) == 0;
        ASSERT_TRUE(WritePrivateProfileStringA("A", "k", "2", path.c_str()));
        ASSERT_TRUE(WritePrivateProfileStringA("A", "j", "3", path.c_str()));
        EXPECT_EQ(read(), "[A]\nk=2\nj=3\n");
        std::ifstream in(real, std::ios::binary);
        std::ostringstream text;
        text << in.rdbuf();
        EXPECT_EQ(text.str(), "[A]\nk=2\nj=3\n") << "the target holds the text";
        if (std::string(c.name) == "hard link") {
            struct stat after {};
            ASSERT_EQ(stat(real.c_str(), &after), 0);
            EXPECT_EQ(after.st_ino, before.st_ino) << "the same file";
            EXPECT_EQ(after.st_nlink, 2u);
            EXPECT_FALSE(fs::is_symlink(path));
        } else {
            EXPECT_TRUE(fs::is_symlink(path)) << "the link stays a link";
            (void)existed;
        }
        int entries = 0;
        for (const auto& e : fs::directory_iterator(dir / "sub")) {
            (void)e;
            ++entries;
        }
        EXPECT_EQ(entries, fs::exists(dir / "sub" / "middle.ini") ? 2 : 1)
            << "nothing left beside the target";
        fs::remove(path);
        fs::remove_all(dir / "sub");
        fs::create_directory(dir / "sub");
    }
}

// A crash in the middle of rewriting a hard-linked file in place leaves the
// whole new text in "<file>.pending" beside it: readers take that, and the
// next write starts from it and removes it.
TEST_F(Ini, AnInterruptedInPlaceWriteIsCompletedFromItsPendingCopy)
{
    write("[A]\nk=2\nj=");           // cut short
    std::ofstream(path + ".pending", std::ios::binary) << "[A]\nk=2\nj=3\n";
    EXPECT_EQ(getInt("A", "j"), 3);
    EXPECT_EQ(getString("A", "k"), "2");
    ASSERT_TRUE(WritePrivateProfileStringA("A", "i", "4", path.c_str()));
    EXPECT_EQ(read(), "[A]\nk=2\nj=3\ni=4\n");
    expectOnlyTheFile();
}

} // namespace
