// The text utilities on arbitrary text: nextToken in every delimiter form and
// with areas of several sizes, hexToBytes into an area of exact size, and
// copyText. Each result is checked against what the routine promises.
#include "foundation/textutil.h"
#include "platform/trace.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

namespace {

bool isSpace(unsigned char c) { return c == ' ' || (c >= 9 && c <= 13); }
bool isPunct(unsigned char c)
{
    return c >= 33 && c <= 126 && !(c >= '0' && c <= '9') && !(c >= 'A' && c <= 'Z') &&
           !(c >= 'a' && c <= 'z');
}
bool isContinuation(unsigned char c) { return (c & 0xC0) == 0x80; }

// A broken promise: named on standard error, then the run stops as on a crash.
void failed(const char* what, int line)
{
    std::fprintf(stderr, "fuzz check failed (line %d): %s\n", line, what);
    std::abort();
}
#define check(condition) ((condition) ? (void)0 : failed(#condition, __LINE__))

// The token as the routine defines it, uncut: its start and end in text.
struct Token {
    size_t start;
    size_t end;    // stop character or NUL
    bool atEnd;    // ended by the NUL
};

Token referenceToken(const std::string& text, size_t from, const char* delimiter)
{
    size_t p = from;
    while (p < text.size() && isSpace(static_cast<unsigned char>(text[p])))
        ++p;
    size_t start = p;
    for (; p < text.size(); ++p) {
        unsigned char c = static_cast<unsigned char>(text[p]);
        bool stop = isSpace(c) ||
                    (delimiter ? c == static_cast<unsigned char>(delimiter[0]) : isPunct(c));
        if (stop)
            return {start, p, false};
    }
    return {start, p, true};
}

// A cut copy is a prefix of the whole that ends on a character boundary.
void checkCut(const std::string& whole, const char* out, size_t outSize)
{
    size_t n = std::strlen(out);
    check(n + 1 <= outSize);
    check(whole.compare(0, n, out, n) == 0);
    if (whole.size() + 1 <= outSize) {
        check(n == whole.size());
        return;
    }
    // Cut: at most the bytes of the one character that the area's end splits
    // (a UTF-8 character has at most 4 bytes) are given up.
    check(n + 1 + 3 >= outSize);
    if (n + 1 < outSize) {
        check(isContinuation(static_cast<unsigned char>(whole[outSize - 1])));
    }
}

void walkTokens(const std::string& text, const char* delimiter, size_t outSize)
{
    std::unique_ptr<char[]> out(new char[outSize]);
    const std::string before = text;
    const char* p = text.c_str();
    size_t from = 0;
    for (int guard = 0; guard <= static_cast<int>(text.size()) + 1; ++guard) {
        Token ref = referenceToken(text, from, delimiter);
        const char* next = nextToken(p, out.get(), outSize, delimiter);
        check(text == before); // the text is only read
        std::string whole = text.substr(ref.start, ref.end - ref.start);
        checkCut(whole, out.get(), outSize);
        if (next == nullptr) {
            check(ref.atEnd);
            return;
        }
        check(!ref.atEnd);
        check(next == text.c_str() + ref.end + 1);
        p = next;
        from = ref.end + 1;
    }
    check(false); // every call moves on
}

int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return 0;
}

void checkHex(const std::string& text, size_t outSize)
{
    // Exactly outSize bytes, so that a write past them is caught.
    std::unique_ptr<unsigned char[]> out(new unsigned char[outSize + 1]);
    std::memset(out.get(), 0x5a, outSize + 1);
    int n = hexToBytes(text.c_str(), out.get(), outSize);
    size_t length = std::strlen(text.c_str());
    if (length % 2 != 0 || length / 2 > outSize) {
        check(n == 0);
        for (size_t i = 0; i <= outSize; ++i)
            check(out[i] == 0x5a);
        return;
    }
    check(n == static_cast<int>(length / 2));
    for (size_t k = 0; k < length / 2; ++k)
        check(out[k] == 16 * hexValue(text[2 * k]) + hexValue(text[2 * k + 1]));
    check(out[outSize] == 0x5a);
}

void checkCopy(const std::string& text, size_t outSize)
{
    std::unique_ptr<char[]> out(new char[outSize]);
    size_t n = copyText(out.get(), outSize, text.c_str());
    std::string whole(text.c_str());
    check(n == std::strlen(out.get()));
    checkCut(whole, out.get(), outSize);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    setTraceEnabled(false);
    return 0;
}

// First byte: the size of the token and copy areas (1-64, or the callers'
// 128, 256 and 1024 bytes); second byte: the delimiter (0: none). The rest is
// the text.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 2)
        return 0;
    static const size_t callerSizes[] = {128, 256, 1024};
    size_t outSize = data[0] >= 192 ? callerSizes[data[0] % 3] : 1 + data[0] % 64;
    char delimiterText[2] = {static_cast<char>(data[1]), '\0'};
    std::string text(reinterpret_cast<const char*>(data + 2), size - 2);
    std::string cText(text.c_str()); // up to the first NUL, as the callers pass it

    walkTokens(cText, data[1] != 0 ? delimiterText : nullptr, outSize);
    walkTokens(cText, nullptr, 1024);
    walkTokens(cText, ",", 256);
    checkHex(text, cText.size() / 2);
    checkHex(text, outSize);
    checkCopy(text, outSize);

    // A token area of size 0 is left untouched.
    char untouched = 'x';
    nextToken(cText.c_str(), &untouched, 0, nullptr);
    check(untouched == 'x');
    check(copyText(&untouched, 0, cText.c_str()) == 0 && untouched == 'x');
    return 0;
}
