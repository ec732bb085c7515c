#include "foundation/textutil.h"

#include "platform/trace.h"

#include <cstring>

namespace {

bool isSpace(unsigned char c) { return c == ' ' || (c >= 9 && c <= 13); }

bool isPunct(unsigned char c)
{
    return c >= 33 && c <= 126 && !(c >= '0' && c <= '9') && !(c >= 'A' && c <= 'Z') &&
           !(c >= 'a' && c <= 'z');
}

// Value of each byte as a hexadecimal digit; every other byte counts 0.
struct HexValues {
    unsigned char value[256] = {};
    constexpr HexValues()
    {
        for (int c = '0'; c <= '9'; ++c)
            value[c] = static_cast<unsigned char>(c - '0');
        for (int c = 'A'; c <= 'F'; ++c)
            value[c] = static_cast<unsigned char>(c - 'A' + 10);
        for (int c = 'a'; c <= 'f'; ++c)
            value[c] = static_cast<unsigned char>(c - 'a' + 10);
    }
};
constexpr HexValues kHexValues;

unsigned hexValue(char c) { return kHexValues.value[static_cast<unsigned char>(c)]; }

bool isContinuation(unsigned char c) { return (c & 0xC0) == 0x80; }

// Where to cut text[0..n) when text[n] continues a UTF-8 character: before
// that character's start (its lead byte and at most two continuation bytes
// lie before the cut). Continuation bytes without such a start are no
// character; the cut stays at n then.
size_t characterStart(const char* text, size_t n)
{
    size_t k = n;
    while (k > 0 && n - k < 2 && isContinuation(static_cast<unsigned char>(text[k - 1])))
        --k;
    if (k > 0 && static_cast<unsigned char>(text[k - 1]) >= 0xC0)
        return k - 1;
    return n;
}

} // namespace

const char* nextToken(const char* text, char* out, size_t outSize, const char* delimiter)
{
    size_t room = outSize > 0 ? outSize - 1 : 0;
    size_t n = 0;
    bool cut = false;
    const char* result = nullptr;
    if (text) {
        const unsigned char* p = reinterpret_cast<const unsigned char*>(text);
        while (isSpace(*p))
            ++p;
        for (;; ++p) {
            unsigned char c = *p;
            if (c == '\0')
                break;
            bool stop = isSpace(c) || (delimiter ? c == static_cast<unsigned char>(delimiter[0])
                                                 : isPunct(c));
            if (stop) {
                result = reinterpret_cast<const char*>(p + 1);
                break;
            }
            if (!cut && n < room) {
                out[n++] = static_cast<char>(c);
            } else if (!cut) {
                cut = true;
                // Drop a UTF-8 character that would be split by the cut.
                if (isContinuation(c))
                    n = characterStart(out, n);
            }
        }
    }
    if (outSize > 0)
        out[n] = '\0';
    if (cut)
        trace("nextToken: token cut to %zu bytes\n", n);
    return result;
}

int hexToBytes(const char* text, unsigned char* out, size_t outSize)
{
    size_t length = text ? std::strlen(text) : 0;
    if (length % 2 != 0) {
        trace("受信データの文字数が奇数です\n");
        return 0;
    }
    size_t count = length / 2;
    if (count > outSize) {
        trace("受信データが大きすぎます:%zu bytes, room %zu\n", count, outSize);
        return 0;
    }
    for (size_t k = 0; k < count; ++k)
        out[k] = static_cast<unsigned char>((hexValue(text[2 * k]) << 4) | hexValue(text[2 * k + 1]));
    return static_cast<int>(count);
}

size_t copyText(char* out, size_t outSize, const char* text)
{
    if (outSize == 0)
        return 0;
    size_t room = outSize - 1;
    size_t n = 0;
    if (text) {
        while (n < room && text[n] != '\0')
            ++n;
        if (n == room && text[n] != '\0' && isContinuation(static_cast<unsigned char>(text[n])))
            n = characterStart(text, n);
        std::memcpy(out, text, n);
    }
    out[n] = '\0';
    return n;
}
