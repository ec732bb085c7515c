#include "tunnel/ftprewrite.h"

#include "platform/trace.h"

#include <cstdio>
#include <cstring>

namespace {

constexpr char kPassivePrefix[] = "227 ENTERING PASSIVE MODE (";   // 27 characters
constexpr char kPortPrefix[] = "PORT ";                            // 5 characters
constexpr size_t kMaxDigits = 3;
constexpr int kMaxNumber = 255;
constexpr size_t kTraceLine = 120;   // most of a line shown in a trace

bool beginsWithUpper(const unsigned char* text, size_t size, const char* prefix)
{
    size_t length = std::strlen(prefix);
    if (size < length)
        return false;
    for (size_t i = 0; i < length; ++i) {
        unsigned char c = text[i];
        if (c >= 'a' && c <= 'z')
            c = static_cast<unsigned char>(c - 'a' + 'A');
        if (c != static_cast<unsigned char>(prefix[i]))
            return false;
    }
    return true;
}

bool isBlank(unsigned char c)
{
    return c == ' ' || c == '\t';
}

size_t skipBlanks(const unsigned char* text, size_t size, size_t at)
{
    while (at < size && isBlank(text[at]))
        ++at;
    return at;
}

// One to three decimal digits, 0 to 255, not followed by another digit.
bool readNumber(const unsigned char* text, size_t size, size_t* at, int* value)
{
    size_t i = *at;
    size_t digits = 0;
    int number = 0;
    while (i < size && text[i] >= '0' && text[i] <= '9') {
        if (++digits > kMaxDigits)
            return false;
        number = number * 10 + (text[i] - '0');
        ++i;
    }
    if (digits == 0 || number > kMaxNumber)
        return false;
    *at = i;
    *value = number;
    return true;
}

// The six numbers from `at`; false unless all six are sound and the right
// character follows the last.
bool readSixNumbers(const unsigned char* text, size_t size, size_t at, FtpTextKind kind, FtpDataText* found)
{
    int numbers[6];
    size_t i = skipBlanks(text, size, at);
    found->numbersStart = i;
    for (int n = 0; n < 6; ++n) {
        if (n > 0) {
            i = skipBlanks(text, size, i);
            if (i >= size || text[i] != ',')
                return false;
            i = skipBlanks(text, size, i + 1);
        }
        if (!readNumber(text, size, &i, &numbers[n]))
            return false;
    }
    found->numbersEnd = i;
    if (kind == FTP_TEXT_PASSIVE) {
        size_t close = skipBlanks(text, size, i);
        if (close >= size || text[close] != ')')
            return false;
    } else if (i >= size || !(isBlank(text[i]) || text[i] == '\r' || text[i] == '\n')) {
        return false;
    }
    found->port = numbers[4] * 256 + numbers[5];
    return true;
}

// The text that starts a line at `start`, if any.
bool textAt(const unsigned char* payload, size_t size, size_t start, FtpDataText* found)
{
    const unsigned char* line = payload + start;
    size_t rest = size - start;
    FtpTextKind kind = FTP_TEXT_NONE;
    size_t prefixLength = 0;
    if (beginsWithUpper(line, rest, kPassivePrefix)) {
        kind = FTP_TEXT_PASSIVE;
        prefixLength = sizeof kPassivePrefix - 1;
    } else if (beginsWithUpper(line, rest, kPortPrefix)) {
        kind = FTP_TEXT_PORT;
        prefixLength = sizeof kPortPrefix - 1;
    } else {
        return false;
    }
    found->kind = kind;
    found->lineStart = start;
    if (!readSixNumbers(payload, size, start + prefixLength, kind, found)) {
        trace(kind == FTP_TEXT_PASSIVE ? "A2AMODEL:Entering Passive without six sound numbers\n"
                                       : "A2AMODEL:Port Command without six sound numbers\n");
        return false;
    }
    return true;
}

// Length of the line at `start` without its line end, at most kTraceLine.
int traceLength(const unsigned char* payload, size_t size, size_t start)
{
    size_t end = start;
    while (end < size && end - start < kTraceLine && payload[end] != '\r' && payload[end] != '\n')
        ++end;
    return static_cast<int>(end - start);
}

} // namespace

FtpDataText findFtpDataText(const unsigned char* payload, size_t size, size_t from)
{
    FtpDataText found{FTP_TEXT_NONE, 0, 0, 0, 0};
    size_t start = from;
    if (start > 0 && start <= size && payload[start - 1] != '\n') {
        const void* lineFeed = std::memchr(payload + start, '\n', size - start);
        if (lineFeed == nullptr)
            return found;
        start = static_cast<size_t>(static_cast<const unsigned char*>(lineFeed) - payload) + 1;
    }
    while (start < size) {
        FtpDataText candidate{FTP_TEXT_NONE, 0, 0, 0, 0};
        if (textAt(payload, size, start, &candidate))
            return candidate;
        const void* lineFeed = std::memchr(payload + start, '\n', size - start);
        if (lineFeed == nullptr)
            break;
        start = static_cast<size_t>(static_cast<const unsigned char*>(lineFeed) - payload) + 1;
    }
    return found;
}

size_t formatFtpHostPort(uint32_t address, int port, char* out, size_t outSize)
{
    int n = std::snprintf(out, outSize, "%u,%u,%u,%u,%d,%d", address & 0xff, (address >> 8) & 0xff,
                          (address >> 16) & 0xff, (address >> 24) & 0xff, (port >> 8) & 0xff, port & 0xff);
    if (n < 0 || static_cast<size_t>(n) >= outSize)
        return 0;
    return static_cast<size_t>(n);
}

size_t rewriteFtpTexts(unsigned char* payload, size_t size, size_t capacity, uint32_t address,
                       FtpDataLinkOpener& opener)
{
    size_t from = 0;
    for (;;) {
        FtpDataText text = findFtpDataText(payload, size, from);
        if (text.kind == FTP_TEXT_NONE)
            return size;
        from = text.numbersEnd;
        trace(text.kind == FTP_TEXT_PASSIVE ? "A2AMODEL:find Entering Passive port=%d\n"
                                            : "A2AMODEL:find Port Command port=%d\n",
              text.port);
        int newPort = opener.openDataLink(text.kind, text.port);
        if (newPort < 0 || newPort > 65535 || newPort == text.port)
            continue;
        char numbers[32];
        size_t length = formatFtpHostPort(address, newPort, numbers, sizeof numbers);
        size_t oldLength = text.numbersEnd - text.numbersStart;
        if (length == 0 || size - oldLength + length > capacity) {
            trace("A2AMODEL: rewritten text would not fit in %zu bytes, left as it is\n", capacity);
            continue;
        }
        std::memmove(payload + text.numbersStart + length, payload + text.numbersEnd, size - text.numbersEnd);
        std::memcpy(payload + text.numbersStart, numbers, length);
        size = size - oldLength + length;
        from = text.numbersStart + length;
        trace("A2AMODEL make string:%.*s\n", traceLength(payload, size, text.lineStart),
              reinterpret_cast<const char*>(payload + text.lineStart));
        opener.textRewritten(FtpRewrittenText{text.kind, text.port, newPort});
    }
}
