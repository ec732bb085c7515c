#pragma once
// Splitting and hex-decoding of Skype protocol text. Plain 8-bit text: bytes
// 0x80-0xFF are neither white space nor punctuation, so UTF-8 stays whole.
#include <cstddef>

// Skips white space (space, codes 9-13), then copies one token into out (at
// most outSize - 1 bytes, always terminated when outSize > 0; a longer token is
// cut at a UTF-8 character boundary and its rest skipped). The token ends at
// white space, at the first character of delimiter, or, with a null
// delimiter, at any ASCII punctuation. Returns the position just after the
// stop character, or null when the end of the text was reached (the token
// copied last is still valid then).
const char* nextToken(const char* text, char* out, size_t outSize, const char* delimiter);

// Decodes pairs of hexadecimal digits (either case; any other character counts
// as 0) into out and returns the number of bytes written. Text of odd length,
// or text whose bytes would not fit into outSize, yields 0 with a trace line
// and out untouched. out is not terminated.
int hexToBytes(const char* text, unsigned char* out, size_t outSize);

// Copies text into out (at most outSize - 1 bytes, always terminated when
// outSize > 0; a null text copies as empty). A longer text is cut at a UTF-8
// character boundary. Returns the number of bytes copied.
size_t copyText(char* out, size_t outSize, const char* text);
