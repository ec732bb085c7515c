#include "tunnel/ftprewrite.h"

#include "platform/trace.h"

#include <cstdio>
#include <cstring>
#include <initializer_list>

namespace {

constexpr char kPassivePrefix[] = "227 ENTERING PASSIVE MODE (";   // 27 characters
constexpr char kPortPrefix[] = "PORT ";                            // 5 characters
constexpr char kExtendedPassivePrefix[] = "229 ";
constexpr char kExtendedPortPrefix[] = "EPRT ";
constexpr size_t kMaxDigits = 3;
constexpr int kMaxNumber = 255;
constexpr size_t kMaxPortDigits = 5;
constexpr int kMaxPort = 65535;
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

// One to maxDigits decimal digits, at most maxValue, not followed by another digit.
bool readDecimal(const unsigned char* text, size_t size, size_t* at, size_t maxDigits, int maxValue, int* value)
{
    size_t i = *at;
    size_t digits = 0;
    int number = 0;
    while (i < size && text[i] >= '0' && text[i] <= '9') {
        if (++digits > maxDigits)
            return false;
        number = number * 10 + (text[i] - '0');
        ++i;
    }
    if (digits == 0 || number > maxValue)
        return false;
    *at = i;
    *value = number;
    return true;
}

// One to three decimal digits, 0 to 255.
bool readNumber(const unsigned char* text, size_t size, size_t* at, int* value)
{
    return readDecimal(text, size, at, kMaxDigits, kMaxNumber, value);
}

// A data port of an extended text: one to five digits, 1 to 65535.
bool readPort(const unsigned char* text, size_t size, size_t* at, int* value)
{
    return readDecimal(text, size, at, kMaxPortDigits, kMaxPort, value) && *value > 0;
}

// The delimiter of an extended text: printable, not a blank, not a digit.
bool isDelimiter(unsigned char c)
{
    return c > ' ' && c < 0x7f && !(c >= '0' && c <= '9');
}

bool charAt(const unsigned char* text, size_t size, size_t at, unsigned char c)
{
    return at < size && text[at] == c;
}

// "(|||port|)" after the first "(" of the line that `at` is in.
bool readExtendedPassive(const unsigned char* text, size_t size, size_t at, FtpDataText* found)
{
    size_t open = at;
    while (open < size && text[open] != '(' && text[open] != '\n')
        ++open;
    if (!charAt(text, size, open, '(') || open + 1 >= size)
        return false;
    unsigned char d = text[open + 1];
    if (!isDelimiter(d) || !charAt(text, size, open + 2, d) || !charAt(text, size, open + 3, d))
        return false;
    size_t i = open + 4;
    found->numbersStart = i;
    int port = 0;
    if (!readPort(text, size, &i, &port) || !charAt(text, size, i, d) || !charAt(text, size, i + 1, ')'))
        return false;
    found->numbersEnd = i;
    found->port = port;
    found->delimiter = static_cast<char>(d);
    return true;
}

// "|1|a.b.c.d|port|" from `at`, blanks before it skipped. Another network
// protocol than 1 (IPv4) is no text.
bool readExtendedPort(const unsigned char* text, size_t size, size_t at, FtpDataText* found)
{
    size_t i = skipBlanks(text, size, at);
    if (i >= size || !isDelimiter(text[i]))
        return false;
    unsigned char d = text[i];
    if (!charAt(text, size, i + 1, '1') || !charAt(text, size, i + 2, d))
        return false;
    i += 3;
    found->numbersStart = i;
    int number = 0;
    for (int n = 0; n < 4; ++n) {
        if (n > 0 && !charAt(text, size, i++, '.'))
            return false;
        if (!readNumber(text, size, &i, &number))
            return false;
    }
    int port = 0;
    if (!charAt(text, size, i, d))
        return false;
    ++i;
    if (!readPort(text, size, &i, &port) || !charAt(text, size, i, d))
        return false;
    found->numbersEnd = i;
    found->port = port;
    found->delimiter = static_cast<char>(d);
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

struct KindText {
    const char* prefix;
    const char* name;   // in traces
};

constexpr KindText kKindTexts[] = {
    {"", ""},
    {kPassivePrefix, "Entering Passive"},
    {kPortPrefix, "Port Command"},
    {kExtendedPassivePrefix, "Extended Passive"},
    {kExtendedPortPrefix, "Eprt Command"},
};

// The text that starts a line at `start`, if any.
bool textAt(const unsigned char* payload, size_t size, size_t start, FtpDataText* found)
{
    const unsigned char* line = payload + start;
    size_t rest = size - start;
    FtpTextKind kind = FTP_TEXT_NONE;
    const char* prefix = nullptr;
    for (FtpTextKind k : {FTP_TEXT_PASSIVE, FTP_TEXT_PORT, FTP_TEXT_EXTENDED_PASSIVE, FTP_TEXT_EXTENDED_PORT}) {
        const char* p = kKindTexts[k].prefix;
        if (beginsWithUpper(line, rest, p)) {
            kind = k;
            prefix = p;
            break;
        }
    }
    if (kind == FTP_TEXT_NONE)
        return false;
    found->kind = kind;
    found->lineStart = start;
    size_t at = start + std::strlen(prefix);
    bool sound = kind == FTP_TEXT_EXTENDED_PASSIVE ? readExtendedPassive(payload, size, at, found)
                 : kind == FTP_TEXT_EXTENDED_PORT  ? readExtendedPort(payload, size, at, found)
                                                   : readSixNumbers(payload, size, at, kind, found);
    if (!sound) {
        trace("A2AMODEL:%s without a sound address and port\n", kKindTexts[kind].name);
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

bool isFtpClientText(FtpTextKind kind)
{
    return kind == FTP_TEXT_PORT || kind == FTP_TEXT_EXTENDED_PORT;
}

FtpDataText findFtpDataText(const unsigned char* payload, size_t size, size_t from)
{
    FtpDataText found{FTP_TEXT_NONE, 0, 0, 0, 0, 0};
    size_t start = from;
    if (start > 0 && start <= size && payload[start - 1] != '\n') {
        const void* lineFeed = std::memchr(payload + start, '\n', size - start);
        if (lineFeed == nullptr)
            return found;
        start = static_cast<size_t>(static_cast<const unsigned char*>(lineFeed) - payload) + 1;
    }
    while (start < size) {
        FtpDataText candidate{FTP_TEXT_NONE, 0, 0, 0, 0, 0};
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

size_t formatFtpDataNumbers(const FtpDataText& text, uint32_t address, int port, char* out, size_t outSize)
{
    int n = 0;
    switch (text.kind) {
    case FTP_TEXT_PASSIVE:
    case FTP_TEXT_PORT:
        return formatFtpHostPort(address, port, out, outSize);
    case FTP_TEXT_EXTENDED_PASSIVE:
        n = std::snprintf(out, outSize, "%d", port);
        break;
    case FTP_TEXT_EXTENDED_PORT:
        n = std::snprintf(out, outSize, "%u.%u.%u.%u%c%d", address & 0xff, (address >> 8) & 0xff,
                          (address >> 16) & 0xff, (address >> 24) & 0xff, text.delimiter, port);
        break;
    default:
        return 0;
    }
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
        trace("A2AMODEL:find %s port=%d\n", kKindTexts[text.kind].name, text.port);
        int newPort = opener.openDataLink(text.kind, text.port);
        if (newPort < 0 || newPort > 65535 || newPort == text.port)
            continue;
        char numbers[32];
        size_t length = formatFtpDataNumbers(text, address, newPort, numbers, sizeof numbers);
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
