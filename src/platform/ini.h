#pragma once
// Private-profile (ini) files.
//
// Format: "[section]" header lines, "key=value" lines; lines starting with ';'
// or '#' and lines without '=' are kept but mean nothing. Section and key names
// compare without regard to ASCII letter case; blanks around names and values
// are ignored, in the file and in the names callers give, by reader and
// writer alike. The first occurrence of a section or key counts. Text is
// bytes (UTF-8 here) and is passed unchanged.
//
// A write goes through symbolic links (dangling ones too) to the file they
// name, and keeps that file's owner, group and mode. It rewrites the whole
// file through a temporary file in the same directory (written, flushed,
// synced, then renamed over the old one), so the file is always either the
// old or the new version. A file with other hard links (or whose owner this
// process cannot give a new file) is rewritten in place instead, after its
// new text is safe in "<file>.pending" beside it; that copy is removed when
// the rewrite is done, and until then it is what readers and writers take as
// the file. Every line other than the one written is kept as it was, line
// ends included. A file without any write permission bit is read-only (the
// Windows attribute): a write to it fails, for root as well.
#include "platform/wintypes.h"

// The value as signed decimal ("-1", "+7", "42"); the default when the file,
// section or key is missing, the value is empty or is not a plain decimal
// number in the 32-bit range. Returned as UINT like the Windows call; cast to
// int for the signed value.
UINT GetPrivateProfileIntA(const char* section, const char* key, int defaultValue,
                           const char* fileName);

// Copies the value (or defaultValue, null meaning "") into returned, cut to
// size - 1 bytes and always terminated when size > 0. Returns the number of
// bytes copied, terminator not counted.
DWORD GetPrivateProfileStringA(const char* section, const char* key, const char* defaultValue,
                               char* returned, DWORD size, const char* fileName);

// Sets key=value in section, creating the file, section or key as needed.
// Returns FALSE and leaves the file untouched when an argument is null, a name
// or value would break the format (line ends; ']' in a section, '=' in a key,
// an empty key), the file is read-only, or it cannot be read or replaced.
BOOL WritePrivateProfileStringA(const char* section, const char* key, const char* value,
                                const char* fileName);
