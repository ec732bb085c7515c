#pragma once
// printf into a fixed buffer: a longer result is cut at a UTF-8 character
// boundary and always terminated.
#include "platform/trace.h" // ZORVANE_PRINTF

#include <cstddef>

// Returns the number of bytes stored (terminator not counted).
size_t formatBounded(char* out, size_t size, const char* format, ...) ZORVANE_PRINTF(3, 4);

// Formats `format`, whose one conversion is the %s of `name`, into out. When
// the whole does not fit, the name is shortened (whole characters and "...")
// and never the text around it.
size_t formatNamed(char* out, size_t size, const char* format, const char* name);

// Copies text, replacing every "," by "-" and every ";" by ".", cut like formatBounded.
size_t copyVersionForDisplay(char* out, size_t size, const char* version);
