#include "platform/ini.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

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

} // namespace
