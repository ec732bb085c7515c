// Finding the data port in FTP texts and building the rewritten texts.
#include "tunnel/ftprewrite.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cstring>
#include <ostream>
#include <string>

namespace {

FtpDataPort find(const std::string& text)
{
    return findFtpDataPort(reinterpret_cast<const unsigned char*>(text.data()), text.size());
}

struct FindCase {
    const char* text;
    FtpTextKind kind;
    long long port;
};

// Readable test names: the text with everything but letters and digits as "_".
void PrintTo(const FindCase& c, std::ostream* out)
{
    std::string name;
    for (const char* p = c.text; *p != '\0' && name.size() < 48; ++p)
        name.push_back(std::isalnum(static_cast<unsigned char>(*p)) ? *p : '_');
    *out << (name.empty() ? std::string("empty") : name);
}

class FindFtpDataPort : public testing::TestWithParam<FindCase> {};

TEST_P(FindFtpDataPort, ReadsTheSixNumbers)
{
    const FindCase& c = GetParam();
    FtpDataPort found = find(c.text);
    EXPECT_EQ(found.kind, c.kind) << c.text;
    if (c.kind != FTP_TEXT_NONE) {
        EXPECT_EQ(found.port, c.port) << c.text;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Texts, FindFtpDataPort,
    testing::Values(
        // The passive example: mixed case, closing parenthesis and full stop.
        FindCase{"227 Entering Passive Mode (192,168,0,10,4,1).\r\n", FTP_TEXT_PASSIVE, 1025},
        FindCase{"227 ENTERING PASSIVE MODE (1,2,3,4,5,6)\r\n", FTP_TEXT_PASSIVE, 5 * 256 + 6},
        FindCase{"227 entering passive mode (127,0,0,1,200,15)", FTP_TEXT_PASSIVE, 200 * 256 + 15},
        // Blanks after the commas are skipped.
        FindCase{"227 Entering Passive Mode (10, 0, 0, 2, 7, 208)\r\n", FTP_TEXT_PASSIVE, 2000},
        // The PORT example.
        FindCase{"PORT 10,0,0,2,7,208\r\n", FTP_TEXT_PORT, 2000},
        FindCase{"port 127,0,0,1,4,1\r\n", FTP_TEXT_PORT, 1025},
        // Numbers that give a port above 65,535 or below 0 are read as they are.
        FindCase{"227 Entering Passive Mode (1,2,3,4,256,0)\r\n", FTP_TEXT_PASSIVE, 65536},
        FindCase{"PORT 1,2,3,4,-1,0\r\n", FTP_TEXT_PORT, -256},
        // A token that is no number counts as 0.
        FindCase{"PORT 1,2,3,4,x,9\r\n", FTP_TEXT_PORT, 9},
        // Fewer than six numbers: no data port.
        FindCase{"227 Entering Passive Mode (1,2,3,4,5)\r\n", FTP_TEXT_NONE, 0},
        FindCase{"227 Entering Passive Mode (1,2,3,4,5,)\r\n", FTP_TEXT_NONE, 0},
        FindCase{"227 Entering Passive Mode (", FTP_TEXT_NONE, 0},
        FindCase{"227 Entering Passive Mode (1", FTP_TEXT_NONE, 0},
        FindCase{"PORT 10,0,0,2\r\n", FTP_TEXT_NONE, 0},
        FindCase{"PORT ", FTP_TEXT_NONE, 0},
        // Neither prefix at the very start.
        FindCase{"227 Entering Passive", FTP_TEXT_NONE, 0},
        FindCase{" 227 Entering Passive Mode (1,2,3,4,5,6)", FTP_TEXT_NONE, 0},
        FindCase{"226 Transfer complete.\r\n", FTP_TEXT_NONE, 0},
        FindCase{"PORTX 1,2,3,4,5,6\r\n", FTP_TEXT_NONE, 0},
        FindCase{"", FTP_TEXT_NONE, 0}));

TEST(FindFtpDataPortSplit, AReplySplitOverTwoPacketsIsNeitherHalf)
{
    const std::string reply = "227 Entering Passive Mode (192,168,0,10,4,1).\r\n";
    for (size_t cut = 1; cut < reply.size(); ++cut) {
        std::string first = reply.substr(0, cut);
        std::string second = reply.substr(cut);
        // The first part is a data port only when it already holds all six numbers.
        if (cut <= 42) {
            EXPECT_EQ(find(first).kind, FTP_TEXT_NONE) << cut;
        }
        EXPECT_EQ(find(second).kind, FTP_TEXT_NONE) << cut;
    }
}

TEST(FindFtpDataPortBounds, LooksOnlyAtTheGivenBytesAndStopsAtNul)
{
    const std::string reply = "227 Entering Passive Mode (192,168,0,10,4,1)";
    // Only the first `size` bytes count: the sixth number is cut off.
    EXPECT_EQ(findFtpDataPort(reinterpret_cast<const unsigned char*>(reply.data()), reply.size() - 3).kind,
              FTP_TEXT_NONE);
    std::string withNul = "PORT 1,2,3,4";
    withNul.push_back('\0');
    withNul += ",5,6\r\n";
    EXPECT_EQ(find(withNul).kind, FTP_TEXT_NONE);
    // Tokens longer than their holder are cut, not overrun.
    std::string longNumber = "PORT 1,2,3,4," + std::string(5000, '9') + ",7\r\n";
    FtpDataPort found = find(longNumber);
    EXPECT_EQ(found.kind, FTP_TEXT_PORT);
    EXPECT_FALSE(ftpPortInRange(found.port));
}

TEST(FtpPortInRange, ZeroTo65535)
{
    EXPECT_TRUE(ftpPortInRange(0));
    EXPECT_TRUE(ftpPortInRange(65535));
    EXPECT_FALSE(ftpPortInRange(65536));
    EXPECT_FALSE(ftpPortInRange(-1));
}

uint32_t address(int a, int b, int c, int d)
{
    return static_cast<uint32_t>(a) | static_cast<uint32_t>(b) << 8 | static_cast<uint32_t>(c) << 16 |
           static_cast<uint32_t>(d) << 24;
}

TEST(BuildFtpText, PassiveReplyOf45Bytes)
{
    char out[128];
    size_t length = buildFtpText(FTP_TEXT_PASSIVE, address(10, 0, 0, 5), 50000, out, sizeof out);
    EXPECT_EQ(std::string(out), "227 ENTERING PASSIVE MODE (10,0,0,5,195,80)\r\n");
    EXPECT_EQ(length, 45u);
}

TEST(BuildFtpText, PortCommand)
{
    char out[128];
    size_t length = buildFtpText(FTP_TEXT_PORT, address(192, 168, 1, 20), 2000, out, sizeof out);
    EXPECT_EQ(std::string(out), "PORT 192,168,1,20,7,208\r\n");
    EXPECT_EQ(length, std::strlen(out));
}

TEST(BuildFtpText, UnknownAddressAndTooSmallBuffer)
{
    char out[128];
    buildFtpText(FTP_TEXT_PORT, 0, 1, out, sizeof out);
    EXPECT_EQ(std::string(out), "PORT 0,0,0,0,0,1\r\n");
    char small[10];
    EXPECT_EQ(buildFtpText(FTP_TEXT_PASSIVE, address(10, 0, 0, 5), 50000, small, sizeof small), 0u);
    EXPECT_EQ(buildFtpText(FTP_TEXT_NONE, 0, 1, out, sizeof out), 0u);
}

} // namespace
