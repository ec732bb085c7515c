#pragma once
// The version resource of a program file. The build embeds it in the
// executable (zorvane_embed_version in cmake/ZorvaneVersion.cmake) as the ELF
// section ".zorvane_version": the magic "ZVRS1\0", the block's whole length
// (32-bit little-endian), then entries of a key (NUL-terminated, such as
// "\\StringFileInfo\\041104b0\\ProductVersion"), a little-endian 16-bit value
// length and the value bytes. These functions read that section back from
// the named file; the program's own path (GetModuleFileNameA) is read from
// the running executable, so a later change of directory does not matter.
#include "platform/wintypes.h"

// Size of the version block of the file, 0 when it has none (last error
// ERROR_RESOURCE_TYPE_NOT_FOUND) or cannot be read (ERROR_FILE_NOT_FOUND).
// handle is set to 0.
DWORD GetFileVersionInfoSizeA(const char* fileName, DWORD* handle);
// Copies the block (at most length bytes; FALSE when it does not fit).
BOOL GetFileVersionInfoA(const char* fileName, DWORD handle, DWORD length, void* data);
// "\\VarFileInfo\\Translation": the (language, code page) pairs, 16-bit
// words; "\\StringFileInfo\\<lang><cp>\\<name>": a NUL-terminated text whose
// length (terminator counted) goes to *length. Keys compare without regard
// to ASCII case. buffer points into block.
BOOL VerQueryValueA(const void* block, const char* subBlock, void** buffer, UINT* length);

constexpr DWORD ERROR_FILE_NOT_FOUND = 2;
constexpr DWORD ERROR_RESOURCE_TYPE_NOT_FOUND = 1813;
constexpr DWORD ERROR_INSUFFICIENT_BUFFER = 122;
