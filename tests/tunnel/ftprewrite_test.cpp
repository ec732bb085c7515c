// Finding the data port in FTP texts and building the rewritten texts.
#include "tunnel/ftprewrite.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cstring>
#include <ostream>
#include <string>
#include <vector>

namespace {

FtpDataText find(const std::string& text, size_t from = 0)
{
    return findFtpDataText(reinterpret_cast<const unsigned char*>(text.data()), text.size(), from);
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

class FindFtpDataText : public testing::TestWithParam<FindCase> {};

TEST_P(FindFtpDataText, ReadsTheSixNumbers)
{
    const FindCase& c = GetParam();
    FtpDataText found = find(c.text);
    EXPECT_EQ(found.kind, c.kind) << c.text;
    if (c.kind != FTP_TEXT_NONE) {
        EXPECT_EQ(found.port, c.port) << c.text;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Texts, FindFtpDataText,
    testing::Values(
        // The passive example: mixed case, closing parenthesis and full stop.
        FindCase{"227 Entering Passive Mode (192,168,0,10,4,1).\r\n", FTP_TEXT_PASSIVE, 1025},
        FindCase{"227 ENTERING PASSIVE MODE (1,2,3,4,5,6)\r\n", FTP_TEXT_PASSIVE, 5 * 256 + 6},
        FindCase{"227 entering passive mode (127,0,0,1,200,15)", FTP_TEXT_PASSIVE, 200 * 256 + 15},
        // Blanks around the commas are skipped.
        FindCase{"227 Entering Passive Mode (10, 0, 0, 2, 7, 208)\r\n", FTP_TEXT_PASSIVE, 2000},
        FindCase{"227 Entering Passive Mode ( 10 ,0,0,2,7,208 )\r\n", FTP_TEXT_PASSIVE, 2000},
        // The PORT example.
        FindCase{"PORT 10,0,0,2,7,208\r\n", FTP_TEXT_PORT, 2000},
        FindCase{"port 127,0,0,1,4,1\r\n", FTP_TEXT_PORT, 1025},
        FindCase{"PORT 0,0,0,0,255,255\n", FTP_TEXT_PORT, 65535},
        FindCase{"PORT 001,002,003,004,004,001\r\n", FTP_TEXT_PORT, 1025},
        // On a later line.
        FindCase{"200 ok\r\n227 Entering Passive Mode (1,2,3,4,5,6)\r\n", FTP_TEXT_PASSIVE, 5 * 256 + 6},
        FindCase{"NOOP\nPORT 1,2,3,4,5,6\n", FTP_TEXT_PORT, 5 * 256 + 6},
        // Numbers outside 0 to 255, signs, more than three digits, no number: no text.
        FindCase{"227 Entering Passive Mode (1,2,3,4,256,0)\r\n", FTP_TEXT_NONE, 0},
        FindCase{"PORT 1,2,3,4,-1,0\r\n", FTP_TEXT_NONE, 0},
        FindCase{"PORT 1,2,3,4,4,-1\r\n", FTP_TEXT_NONE, 0},
        FindCase{"PORT 1,2,3,4,+4,1\r\n", FTP_TEXT_NONE, 0},
        FindCase{"PORT 1,2,3,4,3,300\r\n", FTP_TEXT_NONE, 0},
        FindCase{"PORT 1,2,3,4,0004,1\r\n", FTP_TEXT_NONE, 0},
        FindCase{"PORT 1,2,3,4,x,9\r\n", FTP_TEXT_NONE, 0},
        FindCase{"PORT 1,2,3,4,4x,9\r\n", FTP_TEXT_NONE, 0},
        // Fewer than six numbers, or the sixth not ended as its text requires.
        FindCase{"227 Entering Passive Mode (1,2,3,4,5)\r\n", FTP_TEXT_NONE, 0},
        FindCase{"227 Entering Passive Mode (1,2,3,4,5,)\r\n", FTP_TEXT_NONE, 0},
        FindCase{"227 Entering Passive Mode (1,2,3,4,5,6", FTP_TEXT_NONE, 0},
        FindCase{"227 Entering Passive Mode (1,2,3,4,5,6,7)\r\n", FTP_TEXT_NONE, 0},
        FindCase{"227 Entering Passive Mode (", FTP_TEXT_NONE, 0},
        FindCase{"227 Entering Passive Mode (1", FTP_TEXT_NONE, 0},
        FindCase{"PORT 10,0,0,2\r\n", FTP_TEXT_NONE, 0},
        FindCase{"PORT 10,0,0,2,7,20", FTP_TEXT_NONE, 0},
        FindCase{"PORT 10,0,0,2,7,208,9\r\n", FTP_TEXT_NONE, 0},
        FindCase{"PORT ", FTP_TEXT_NONE, 0},
        // Neither prefix where a line starts.
        FindCase{"227 Entering Passive", FTP_TEXT_NONE, 0},
        FindCase{" 227 Entering Passive Mode (1,2,3,4,5,6)", FTP_TEXT_NONE, 0},
        FindCase{"200 PORT 1,2,3,4,5,6\r\n", FTP_TEXT_NONE, 0},
        FindCase{"200 ok\r227 Entering Passive Mode (1,2,3,4,5,6)\r\n", FTP_TEXT_NONE, 0},
        FindCase{"226 Transfer complete.\r\n", FTP_TEXT_NONE, 0},
        FindCase{"PORTX 1,2,3,4,5,6\r\n", FTP_TEXT_NONE, 0},
        FindCase{"", FTP_TEXT_NONE, 0},
        // Extended passive: the port between the delimiters, whatever the text before "(".
        FindCase{"229 Entering Extended Passive Mode (|||6446|)\r\n", FTP_TEXT_EXTENDED_PASSIVE, 6446},
        FindCase{"229 Entering extended passive mode (|||65535|).\r\n", FTP_TEXT_EXTENDED_PASSIVE, 65535},
        FindCase{"229 EPSV ok (!!!1!)\r\n", FTP_TEXT_EXTENDED_PASSIVE, 1},
        FindCase{"150 ok\r\n229 (|||2000|)\r\n", FTP_TEXT_EXTENDED_PASSIVE, 2000},
        FindCase{"229 Entering Extended Passive Mode (|||0|)\r\n", FTP_TEXT_NONE, 0},
        FindCase{"229 Entering Extended Passive Mode (|||65536|)\r\n", FTP_TEXT_NONE, 0},
        FindCase{"229 Entering Extended Passive Mode (|||000021|)\r\n", FTP_TEXT_NONE, 0},
        FindCase{"229 Entering Extended Passive Mode (||6446|)\r\n", FTP_TEXT_NONE, 0},
        FindCase{"229 Entering Extended Passive Mode (|!|6446|)\r\n", FTP_TEXT_NONE, 0},
        FindCase{"229 Entering Extended Passive Mode (|||6446!)\r\n", FTP_TEXT_NONE, 0},
        FindCase{"229 Entering Extended Passive Mode (|||6446|\r\n", FTP_TEXT_NONE, 0},
        FindCase{"229 Entering Extended Passive Mode (111644611)\r\n", FTP_TEXT_NONE, 0},
        FindCase{"229 Entering Extended Passive Mode\r\n(|||6446|)\r\n", FTP_TEXT_NONE, 0},
        FindCase{"229 Entering Extended Passive Mode (|||6", FTP_TEXT_NONE, 0},
        FindCase{"2290 (|||6446|)\r\n", FTP_TEXT_NONE, 0},
        // EPRT of IPv4; IPv6 and unsound texts are left alone.
        FindCase{"EPRT |1|132.235.1.2|6275|\r\n", FTP_TEXT_EXTENDED_PORT, 6275},
        FindCase{"eprt !1!127.0.0.1!40001!\r\n", FTP_TEXT_EXTENDED_PORT, 40001},
        FindCase{"EPRT |1|0.0.0.0|1|", FTP_TEXT_EXTENDED_PORT, 1},
        FindCase{"EPRT |2|1080::8:800:200C:417A|5282|\r\n", FTP_TEXT_NONE, 0},
        FindCase{"EPRT |1|132.235.1.256|6275|\r\n", FTP_TEXT_NONE, 0},
        FindCase{"EPRT |1|132.235.1|6275|\r\n", FTP_TEXT_NONE, 0},
        FindCase{"EPRT |1|132.235.1.2.3|6275|\r\n", FTP_TEXT_NONE, 0},
        FindCase{"EPRT |1|132.235.1.2|0|\r\n", FTP_TEXT_NONE, 0},
        FindCase{"EPRT |1|132.235.1.2|70000|\r\n", FTP_TEXT_NONE, 0},
        FindCase{"EPRT |1|132.235.1.2|6275!\r\n", FTP_TEXT_NONE, 0},
        FindCase{"EPRT |1|132.235.1.2|6275", FTP_TEXT_NONE, 0},
        FindCase{"EPRT 1|1|132.235.1.2|6275|\r\n", FTP_TEXT_NONE, 0},
        FindCase{"EPRT |1!132.235.1.2|6275|\r\n", FTP_TEXT_NONE, 0},
        FindCase{"200 EPRT |1|132.235.1.2|6275|\r\n", FTP_TEXT_NONE, 0}));

TEST(FindFtpDataTextPlace, GivesWhereTheLineAndItsNumbersStand)
{
    const std::string payload = "200 ok\r\nPORT  10,0,0,2,7,208\r\nNOOP\r\nport 1,2,3,4,0,21\r\n";
    FtpDataText first = find(payload);
    ASSERT_EQ(first.kind, FTP_TEXT_PORT);
    EXPECT_EQ(first.lineStart, 8u);
    EXPECT_EQ(payload.substr(first.numbersStart, first.numbersEnd - first.numbersStart), "10,0,0,2,7,208");
    EXPECT_EQ(first.port, 2000);
    // Looking on from behind it finds the next one, and then none.
    FtpDataText second = find(payload, first.numbersEnd);
    ASSERT_EQ(second.kind, FTP_TEXT_PORT);
    EXPECT_EQ(payload.substr(second.lineStart, 4), "port");
    EXPECT_EQ(second.port, 21);
    EXPECT_EQ(find(payload, second.numbersEnd).kind, FTP_TEXT_NONE);
    // A start inside a line looks from the next line on.
    EXPECT_EQ(find(payload, 1).lineStart, 8u);
    EXPECT_EQ(find(payload, payload.size()).kind, FTP_TEXT_NONE);
    EXPECT_EQ(find(payload, payload.size() + 5).kind, FTP_TEXT_NONE);
}

TEST(FindFtpDataTextSplit, AReplySplitOverTwoPacketsIsATextOnlyWhenWhole)
{
    const std::string reply = "227 Entering Passive Mode (192,168,0,10,4,1).\r\n";
    const size_t closing = reply.find(')');
    for (size_t cut = 1; cut < reply.size(); ++cut) {
        std::string first = reply.substr(0, cut);
        std::string second = reply.substr(cut);
        // The first part counts only once it holds the closing parenthesis.
        EXPECT_EQ(find(first).kind, cut > closing ? FTP_TEXT_PASSIVE : FTP_TEXT_NONE) << cut;
        EXPECT_EQ(find(second).kind, FTP_TEXT_NONE) << cut;
    }
}

TEST(FindFtpDataTextBounds, LooksOnlyAtTheGivenBytes)
{
    const std::string reply = "227 Entering Passive Mode (192,168,0,10,4,1)";
    // Only the first `size` bytes count: the closing parenthesis is cut off.
    EXPECT_EQ(findFtpDataText(reinterpret_cast<const unsigned char*>(reply.data()), reply.size() - 1, 0).kind,
              FTP_TEXT_NONE);
    std::string withNul = "PORT 1,2,3,4";
    withNul.push_back('\0');
    withNul += ",5,6\r\n";
    EXPECT_EQ(find(withNul).kind, FTP_TEXT_NONE);
    // Long numbers are refused, not cut into a port.
    std::string longNumber = "PORT 1,2,3,4," + std::string(5000, '9') + ",7\r\n";
    EXPECT_EQ(find(longNumber).kind, FTP_TEXT_NONE);
    std::string zeros = "PORT 1,2,3,4," + std::string(1000, '0') + "4,1\r\n";
    EXPECT_EQ(find(zeros).kind, FTP_TEXT_NONE);
}

uint32_t address(int a, int b, int c, int d)
{
    return static_cast<uint32_t>(a) | static_cast<uint32_t>(b) << 8 | static_cast<uint32_t>(c) << 16 |
           static_cast<uint32_t>(d) << 24;
}

TEST(FormatFtpHostPort, AddressFirstOctetFirstThenThePortBytes)
{
    char out[32];
    EXPECT_EQ(formatFtpHostPort(address(10, 0, 0, 5), 50000, out, sizeof out), 15u);
    EXPECT_EQ(std::string(out), "10,0,0,5,195,80");
    formatFtpHostPort(address(255, 255, 255, 255), 65535, out, sizeof out);
    EXPECT_EQ(std::string(out), "255,255,255,255,255,255");
    formatFtpHostPort(0, 1, out, sizeof out);
    EXPECT_EQ(std::string(out), "0,0,0,0,0,1");
    char small[10];
    EXPECT_EQ(formatFtpHostPort(address(10, 0, 0, 5), 50000, small, sizeof small), 0u);
}

// Answers openDataLink with a fixed port (-2: the port given) and records the calls.
class RecordingOpener final : public FtpDataLinkOpener {
public:
    explicit RecordingOpener(int answer) : result(answer) {}
    int openDataLink(FtpTextKind kind, int port) override
    {
        opened.push_back(std::to_string(kind) + ":" + std::to_string(port));
        return result == -2 ? port : result;
    }
    void textRewritten(const FtpRewrittenText& text) override
    {
        rewritten.push_back(std::to_string(text.kind) + ":" + std::to_string(text.announced) + "/" +
                            std::to_string(text.written));
    }
    int result;
    std::vector<std::string> opened;
    std::vector<std::string> rewritten;
};

struct RewriteCase {
    const char* name;
    std::string payload;
    int answer;             // what openDataLink answers
    size_t room;            // capacity beyond the payload's size
    std::string expected;
    std::vector<std::string> opened;      // "kind:port"
    std::vector<std::string> rewritten;   // "kind:announced/written"
};

void PrintTo(const RewriteCase& c, std::ostream* out)
{
    *out << c.name;
}

class RewriteFtpTexts : public testing::TestWithParam<RewriteCase> {};

TEST_P(RewriteFtpTexts, ReplacesTheNumbersAndKeepsEveryOtherByte)
{
    const RewriteCase& c = GetParam();
    std::vector<unsigned char> buffer(c.payload.begin(), c.payload.end());
    buffer.resize(c.payload.size() + c.room, '#');
    RecordingOpener opener(c.answer);
    size_t size = rewriteFtpTexts(buffer.data(), c.payload.size(), c.payload.size() + c.room,
                                  address(10, 0, 0, 5), opener);
    ASSERT_LE(size, buffer.size());
    EXPECT_EQ(std::string(buffer.begin(), buffer.begin() + static_cast<long>(size)), c.expected);
    // Nothing is written beyond the capacity.
    EXPECT_EQ(buffer.size(), c.payload.size() + c.room);
    EXPECT_EQ(opener.opened, c.opened);
    EXPECT_EQ(opener.rewritten, c.rewritten);
}

const std::string kPort = "PORT 192,168,1,20,7,208\r\n";
const std::string kPassive = "227 Entering Passive Mode (192,168,0,10,4,1).\r\n";

INSTANTIATE_TEST_SUITE_P(
    Payloads, RewriteFtpTexts,
    testing::Values(
        RewriteCase{"Port", kPort, 50000, 64, "PORT 10,0,0,5,195,80\r\n", {"2:2000"}, {"2:2000/50000"}},
        RewriteCase{"PortThenCommands", kPort + "NOOP\r\nLIST\r\n", 50000, 64, "PORT 10,0,0,5,195,80\r\nNOOP\r\nLIST\r\n",
                    {"2:2000"}, {"2:2000/50000"}},
        // The prefix, the closing parenthesis and the full stop stay as they came.
        RewriteCase{"PassiveThenALine", kPassive + "150 ok\r\n", 50000, 64,
                    "227 Entering Passive Mode (10,0,0,5,195,80).\r\n150 ok\r\n", {"1:1025"}, {"1:1025/50000"}},
        RewriteCase{"PassiveOnTheSecondLine", "200 ok\r\n" + kPassive, 50000, 64,
                    "200 ok\r\n227 Entering Passive Mode (10,0,0,5,195,80).\r\n", {"1:1025"}, {"1:1025/50000"}},
        // A text that grows and one that shrinks, each with the bytes behind it.
        RewriteCase{"Grows", "PORT 1,2,3,4,0,21\r\nNOOP\r\n", 50000, 64, "PORT 10,0,0,5,195,80\r\nNOOP\r\n", {"2:21"},
                    {"2:21/50000"}},
        RewriteCase{"Shrinks", "PORT 192,168,100,200,195,80\r\nNOOP\r\n", 21, 0, "PORT 10,0,0,5,0,21\r\nNOOP\r\n",
                    {"2:50000"}, {"2:50000/21"}},
        // Every text of the payload, each once.
        RewriteCase{"TwoTexts", kPassive + "PORT 1,2,3,4,0,21\r\n", 50000, 64,
                    "227 Entering Passive Mode (10,0,0,5,195,80).\r\nPORT 10,0,0,5,195,80\r\n", {"1:1025", "2:21"},
                    {"1:1025/50000", "2:21/50000"}},
        // Left alone: the opener keeps the port or fails, or the text would not fit.
        RewriteCase{"SamePort", kPort, -2, 64, kPort, {"2:2000"}, {}},
        RewriteCase{"OpenFails", kPort, -1, 64, kPort, {"2:2000"}, {}},
        RewriteCase{"NoRoom", "PORT 1,2,3,4,0,21\r\nNOOP\r\n", 50000, 2, "PORT 1,2,3,4,0,21\r\nNOOP\r\n", {"2:21"}, {}},
        RewriteCase{"ExactRoom", "PORT 1,2,3,4,0,21\r\n", 50000, 3, "PORT 10,0,0,5,195,80\r\n", {"2:21"},
                    {"2:21/50000"}},
        // No sound text: nothing opened.
        RewriteCase{"NumbersOutOfRange", "PORT 1,2,3,4,4,-1\r\nPORT 1,2,3,4,3,300\r\n", 50000, 64,
                    "PORT 1,2,3,4,4,-1\r\nPORT 1,2,3,4,3,300\r\n", {}, {}},
        RewriteCase{"Empty", "", 50000, 64, "", {}, {}},
        // Extended texts: only the port (229) or the address and port (EPRT) change.
        RewriteCase{"ExtendedPassive", "229 Entering Extended Passive Mode (|||6446|)\r\n", 50000, 64,
                    "229 Entering Extended Passive Mode (|||50000|)\r\n", {"3:6446"}, {"3:6446/50000"}},
        RewriteCase{"ExtendedPassiveShrinks", "229 ok (!!!65000!).\r\n150 go\r\n", 21, 0,
                    "229 ok (!!!21!).\r\n150 go\r\n", {"3:65000"}, {"3:65000/21"}},
        RewriteCase{"Eprt", "EPRT |1|132.235.1.2|6275|\r\nRETR x\r\n", 50000, 64,
                    "EPRT |1|10.0.0.5|50000|\r\nRETR x\r\n", {"4:6275"}, {"4:6275/50000"}},
        RewriteCase{"EprtOtherDelimiter", "eprt #1#1.2.3.4#9#\r\n", 50000, 64, "eprt #1#10.0.0.5#50000#\r\n",
                    {"4:9"}, {"4:9/50000"}},
        RewriteCase{"EprtNoRoom", "EPRT |1|1.2.3.4|9|\r\n", 50000, 4, "EPRT |1|1.2.3.4|9|\r\n", {"4:9"}, {}},
        RewriteCase{"EprtOfIpv6", "EPRT |2|::1|5282|\r\n", 50000, 64, "EPRT |2|::1|5282|\r\n", {}, {}},
        RewriteCase{"EveryKind", "PORT 1,2,3,4,0,21\r\nEPRT |1|1.2.3.4|22|\r\n" + kPassive + "229 (|||23|)\r\n", 50000,
                    64,
                    "PORT 10,0,0,5,195,80\r\nEPRT |1|10.0.0.5|50000|\r\n227 Entering Passive Mode "
                    "(10,0,0,5,195,80).\r\n229 (|||50000|)\r\n",
                    {"2:21", "4:22", "1:1025", "3:23"}, {"2:21/50000", "4:22/50000", "1:1025/50000", "3:23/50000"}}),
    [](const testing::TestParamInfo<RewriteCase>& param) { return std::string(param.param.name); });

} // namespace
