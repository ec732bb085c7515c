#include "foundation/textutil.h"

#include <gtest/gtest.h>

#include <cstring>
#include <optional>
#include <string>
#include <vector>

namespace {

using Step = std::pair<std::string, std::optional<std::string>>; // token, rest (null: end)

// Calls nextToken until it returns null, recording each token and what was left.
std::vector<Step> split(const std::string& input, const char* delimiter, size_t outSize = 256)
{
    // A read-only text: the routine never writes into it.
    const std::string text = input;
    std::vector<Step> steps;
    const char* p = text.c_str();
    while (p && steps.size() < 50) {
        std::vector<char> out(outSize + 1, '\x7f');
        p = nextToken(p, out.data(), outSize, delimiter);
        EXPECT_EQ(out[outSize], '\x7f') << "wrote past outSize";
        steps.emplace_back(std::string(out.data()),
                           p ? std::optional<std::string>(p) : std::nullopt);
    }
    return steps;
}

struct TokenCase {
    const char* name;
    std::string text;
    const char* delimiter;
    std::vector<Step> expected;
};

const std::optional<std::string> end = std::nullopt;

TEST(NextToken, SplitsAsSkypeTextsNeed)
{
    const TokenCase cases[] = {
        {"empty text", "", ",", {{"", end}}},
        {"white space only", " \t\r\n\v\f ", ",", {{"", end}}},
        {"comma and space", "alice, bob", ",", {{"alice", " bob"}, {"bob", end}}},
        {"two commas", "a,,b", ",", {{"a", ",b"}, {"", "b"}, {"b", end}}},
        {"trailing comma", "alice,bob,", ",", {{"alice", "bob,"}, {"bob", ""}, {"", end}}},
        {"null delimiter at dot and underscore", "john.doe_1 x", nullptr,
         {{"john", "doe_1 x"}, {"doe", "1 x"}, {"1", "x"}, {"x", end}}},
        {"space delimiter keeps the whole name", "john.doe_1", " ", {{"john.doe_1", end}}},
        {"null delimiter at comma, colon, parenthesis", "a,b:c)d e", nullptr,
         {{"a", "b:c)d e"}, {"b", "c)d e"}, {"c", "d e"}, {"d", "e"}, {"e", end}}},
        {"stream list", "alice:1 bob:12", nullptr,
         {{"alice", "1 bob:12"}, {"1", "bob:12"}, {"bob", "12"}, {"12", end}}},
        {"only the delimiter's first character counts", "xaybz", "ab",
         {{"x", "ybz"}, {"ybz", end}}},
        {"other punctuation is copied with a delimiter", "USER:x.y,z", ",",
         {{"USER:x.y", "z"}, {"z", end}}},
        {"leading white space skipped, stop char not reread", "  ab  cd", ",",
         {{"ab", " cd"}, {"cd", end}}},
        {"UTF-8 stays whole", "山田, 太郎", ",", {{"山田", " 太郎"}, {"太郎", end}}},
        {"UTF-8 with null delimiter", "名前.x", nullptr, {{"名前", "x"}, {"x", end}}},
    };
    for (const TokenCase& c : cases)
        EXPECT_EQ(split(c.text, c.delimiter), c.expected) << c.name;
}

TEST(NextToken, PunctuationIsExactlyThe32AsciiSigns)
{
    int stops = 0;
    for (int b = 1; b < 256; ++b) {
        std::string text = std::string("a") + static_cast<char>(b) + "b";
        std::vector<Step> steps = split(text, nullptr);
        bool space = b == ' ' || (b >= 9 && b <= 13);
        bool alnum = (b >= '0' && b <= '9') || (b >= 'A' && b <= 'Z') || (b >= 'a' && b <= 'z');
        bool punct = b >= 33 && b <= 126 && !alnum;
        if (space || punct) {
            ASSERT_EQ(steps.size(), 2u) << "byte " << b;
            EXPECT_EQ(steps[0].first, "a") << "byte " << b;
            stops += punct;
        } else {
            ASSERT_EQ(steps.size(), 1u) << "byte " << b;
            EXPECT_EQ(steps[0].first, text) << "byte " << b;
        }
    }
    EXPECT_EQ(stops, 32);
}

TEST(NextToken, LongTokenIsCutToItsAreaAndSkipped)
{
    EXPECT_EQ(split("abcdef ghi", ",", 4), (std::vector<Step>{{"abc", "ghi"}, {"ghi", end}}));
    // 山 and 田 are three bytes each: room 4 holds 山 only, never half of 田.
    EXPECT_EQ(split("山田,x", ",", 5), (std::vector<Step>{{"山", "x"}, {"x", end}}));
    EXPECT_EQ(split("ab,c", ",", 1), (std::vector<Step>{{"", "c"}, {"", end}}));

    // Bytes that are no UTF-8 character (a run of continuation bytes) are cut
    // at the area's end, not given up to its start.
    EXPECT_EQ(split(std::string(40, '\x99') + ",x", ",", 6),
              (std::vector<Step>{{std::string(5, '\x99'), "x"}, {"x", end}}));
    EXPECT_EQ(split("a" + std::string(40, '\x99'), nullptr, 6),
              (std::vector<Step>{{"a" + std::string(4, '\x99'), end}}));

    char text[] = "abc";
    char out = 'q';
    EXPECT_EQ(nextToken(text, &out, 0, ","), nullptr);
    EXPECT_EQ(out, 'q');
}

TEST(HexToBytes, DecodesPairs)
{
    unsigned char out[4] = {0x55, 0x55, 0x55, 0x55};
    EXPECT_EQ(hexToBytes("0aFf", out, sizeof out), 2);
    EXPECT_EQ(out[0], 0x0A);
    EXPECT_EQ(out[1], 0xFF);
    EXPECT_EQ(out[2], 0x55) << "no terminator";

    EXPECT_EQ(hexToBytes("G1", out, sizeof out), 1);
    EXPECT_EQ(out[0], 0x01) << "a non-hex digit counts as 0";

    EXPECT_EQ(hexToBytes("", out, sizeof out), 0);
    EXPECT_EQ(hexToBytes("00010203", out, 4), 4);
    EXPECT_EQ(out[3], 0x03);
}

TEST(HexToBytes, EveryCharacterAsEitherDigit)
{
    // Each of the 255 non-NUL characters in the high and in the low place
    // against '7': its digit value, or 0 for anything that is not a digit.
    for (int c = 1; c < 256; ++c) {
        int want = 0;
        if (c >= '0' && c <= '9')
            want = c - '0';
        else if (c >= 'a' && c <= 'f')
            want = c - 'a' + 10;
        else if (c >= 'A' && c <= 'F')
            want = c - 'A' + 10;
        const char high[] = {static_cast<char>(c), '7', '\0'};
        const char low[] = {'7', static_cast<char>(c), '\0'};
        unsigned char out = 0x55;
        EXPECT_EQ(hexToBytes(high, &out, 1), 1);
        EXPECT_EQ(out, want * 16 + 7) << "high " << c;
        EXPECT_EQ(hexToBytes(low, &out, 1), 1);
        EXPECT_EQ(out, 0x70 + want) << "low " << c;
    }
}

TEST(HexToBytes, OddLengthOrTooLongYieldsNothing)
{
    struct {
        const char* text;
        size_t room;
        const char* traceText;
    } cases[] = {
        {"abc", 4, "受信データの文字数が奇数です\n"},
        {"0102", 1, "受信データが大きすぎます"},
        {"0102030405", 4, "受信データが大きすぎます"},
    };
    for (const auto& c : cases) {
        unsigned char out[4] = {0x55, 0x55, 0x55, 0x55};
        testing::internal::CaptureStdout();
        EXPECT_EQ(hexToBytes(c.text, out, c.room), 0) << c.text;
        std::string traced = testing::internal::GetCapturedStdout();
        EXPECT_NE(traced.find(c.traceText), std::string::npos) << c.text << ": " << traced;
        for (unsigned char b : out)
            EXPECT_EQ(b, 0x55) << c.text << ": output written";
    }
}

} // namespace

TEST(CopyText, CutsToItsAreaOnACharacterBoundary)
{
    struct Case {
        const char* text;
        size_t size;
        const char* expected;
    };
    const Case cases[] = {
        {"alice", 10, "alice"},
        {"alice", 6, "alice"},
        {"alice", 5, "alic"},
        {"alice", 1, ""},
        {nullptr, 4, ""},
        {"ab\xe3\x81\x82", 5, "ab"},           // the 3-byte character does not fit whole
        {"ab\xe3\x81\x82", 6, "ab\xe3\x81\x82"},
        {"\xf0\x9f\x98\x80z", 4, ""},            // a 4-byte character cut after 3
        // A run of continuation bytes is no character: cut where the area ends.
        {"\x99\x99\x99\x99\x99\x99\x99", 5, "\x99\x99\x99\x99"},
        {"a\xe3\x81\x99\x99\x99\x99", 6, "a\xe3\x81\x99\x99"},
    };
    for (const Case& c : cases) {
        char out[16];
        std::memset(out, 'x', sizeof out);
        size_t n = copyText(out, c.size, c.text);
        EXPECT_STREQ(out, c.expected) << (c.text ? c.text : "(null)") << " into " << c.size;
        EXPECT_EQ(n, std::strlen(c.expected));
    }
}
