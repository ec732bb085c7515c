#include "app/boundedformat.h"

#include "foundation/textutil.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>

namespace {
// Drops a multi-byte character whose last bytes were cut off at out[length].
size_t trimPartialCharacter(char* out, size_t length)
{
    size_t start = length;
    while (start > 0 && (static_cast<unsigned char>(out[start - 1]) & 0xC0) == 0x80)
        --start;
    if (start == 0)
        return length;
    unsigned char lead = static_cast<unsigned char>(out[start - 1]);
    size_t need = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
    if (need > 1 && length - (start - 1) < need) {
        out[start - 1] = '\0';
        return start - 1;
    }
    return length;
}
} // namespace

size_t formatBounded(char* out, size_t size, const char* format, ...)
{
    if (size == 0)
        return 0;
    va_list args;
    va_start(args, format);
    int wanted = std::vsnprintf(out, size, format, args);
    va_end(args);
    if (wanted < 0) {
        out[0] = '\0';
        return 0;
    }
    if (static_cast<size_t>(wanted) < size)
        return static_cast<size_t>(wanted);
    return trimPartialCharacter(out, size - 1);
}

size_t formatNamed(char* out, size_t size, const char* format, const char* name)
{
    if (size == 0)
        return 0;
    const char* whole = name ? name : "";
    int fixed = std::snprintf(nullptr, 0, format, "");
    size_t room = fixed < 0 || static_cast<size_t>(fixed) >= size ? 0 : size - 1 - static_cast<size_t>(fixed);
    size_t length = std::strlen(whole);
    if (length <= room)
        return formatBounded(out, size, format, whole);
    constexpr size_t kEllipsis = 3;
    std::string shortName;
    if (room >= kEllipsis) {
        size_t keep = room - kEllipsis;
        while (keep > 0 && (static_cast<unsigned char>(whole[keep]) & 0xC0) == 0x80)
            --keep;
        shortName.assign(whole, keep);
        shortName += "...";
    }
    return formatBounded(out, size, format, shortName.c_str());
}

size_t copyVersionForDisplay(char* out, size_t size, const char* version)
{
    size_t length = copyText(out, size, version);
    for (size_t i = 0; i < length; ++i) {
        if (out[i] == ',')
            out[i] = '-';
        else if (out[i] == ';')
            out[i] = '.';
    }
    return length;
}
