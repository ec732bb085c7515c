#include "tunnel/ftprewrite.h"

#include "foundation/textutil.h"
#include "platform/trace.h"

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

constexpr char kPassivePrefix[] = "227 ENTERING PASSIVE MODE (";   // 27 characters
constexpr char kPortPrefix[] = "PORT ";                            // 5 characters
constexpr size_t kTextLimit = 10367;   // longest part of a payload that is looked at
constexpr size_t kTokenSize = 128;

bool beginsWithUpper(const char* text, const char* prefix)
{
    for (size_t i = 0; prefix[i] != '\0'; ++i) {
        char c = text[i];
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
        if (c != prefix[i])
            return false;
    }
    return true;
}

// "%d" of a token: leading number, 0 when there is none; clamped to int.
long long tokenNumber(const char* token)
{
    long value = std::strtol(token, nullptr, 10);
    if (value > INT_MAX)
        value = INT_MAX;
    if (value < INT_MIN)
        value = INT_MIN;
    return value;
}

// Five tokens ended by ',' (the fifth is the high byte), then one ended by
// `lastDelimiter` (null: any punctuation). False when the text ends before the
// sixth number.
bool readPortNumbers(char* text, const char* lastDelimiter, long long* high, long long* low)
{
    char token[kTokenSize];
    char* p = text;
    for (int i = 0; i < 5; ++i) {
        p = nextToken(p, token, sizeof token, ",");
        if (p == nullptr)
            return false;
    }
    *high = tokenNumber(token);
    nextToken(p, token, sizeof token, lastDelimiter);
    if (token[0] == '\0')
        return false;
    *low = tokenNumber(token);
    return true;
}

} // namespace

FtpDataPort findFtpDataPort(const unsigned char* payload, size_t size)
{
    FtpDataPort result{FTP_TEXT_NONE, 0};
    // A terminated copy of the text, so that the numbers are read within it.
    char text[kTextLimit + 1];
    size_t length = 0;
    size_t limit = size < kTextLimit ? size : kTextLimit;
    while (length < limit && payload[length] != 0) {
        text[length] = static_cast<char>(payload[length]);
        ++length;
    }
    text[length] = '\0';

    long long high = 0;
    long long low = 0;
    if (length >= sizeof kPassivePrefix - 1 && beginsWithUpper(text, kPassivePrefix)) {
        // The numbers are read from one character past the first one after "(".
        char* numbers = length > 28 ? text + 28 : text + length;
        if (!readPortNumbers(numbers, ")", &high, &low)) {
            trace("A2AMODEL:Entering Passive without six numbers\n");
            return result;
        }
        trace("A2AMODEL iport1=%lld\n", high);
        trace("A2AMODEL iport2=%lld\n", low);
        result.kind = FTP_TEXT_PASSIVE;
        result.port = high * 256 + low;
        trace("A2AMODEL:find Entering Passive port=%lld\n", result.port);
        return result;
    }
    if (length >= sizeof kPortPrefix - 1 && beginsWithUpper(text, kPortPrefix)) {
        char* numbers = length > 6 ? text + 6 : text + length;
        if (!readPortNumbers(numbers, nullptr, &high, &low)) {
            trace("A2AMODEL:Port Command without six numbers\n");
            return result;
        }
        result.kind = FTP_TEXT_PORT;
        result.port = high * 256 + low;
        trace("A2AMODEL:find Port Command port=%lld\n", result.port);
        return result;
    }
    return result;
}

bool ftpPortInRange(long long port)
{
    return port >= 0 && port <= 65535;
}

size_t buildFtpText(FtpTextKind kind, uint32_t address, int port, char* out, size_t outSize)
{
    const char* format = nullptr;
    const char* prefix = nullptr;
    if (kind == FTP_TEXT_PASSIVE) {
        format = "%s%d,%d,%d,%d,%d,%d)\r\n";
        prefix = kPassivePrefix;
    } else if (kind == FTP_TEXT_PORT) {
        format = "%s%d,%d,%d,%d,%d,%d\r\n";
        prefix = kPortPrefix;
    } else {
        return 0;
    }
    int n = std::snprintf(out, outSize, format, prefix, static_cast<int>(address & 0xff),
                          static_cast<int>((address >> 8) & 0xff), static_cast<int>((address >> 16) & 0xff),
                          static_cast<int>((address >> 24) & 0xff), (port >> 8) & 0xff, port & 0xff);
    if (n < 0 || static_cast<size_t>(n) >= outSize)
        return 0;
    if (kind == FTP_TEXT_PASSIVE)
        trace("A2AMODEL make string:%s", out);
    else
        trace("A2AMODEL: make string:%s", out);
    return static_cast<size_t>(n);
}
