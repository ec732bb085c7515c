#pragma once
// Working directory and the program's own path.
#include "platform/wintypes.h"

inline constexpr DWORD MAX_PATH = 260;

// Copies the working directory into buffer and returns its length (terminator
// not counted). When it does not fit into bufferLength bytes, buffer is left
// untouched and the size needed (terminator counted) is returned; 0 when the
// directory cannot be read at all.
DWORD GetCurrentDirectoryA(DWORD bufferLength, char* buffer);
BOOL SetCurrentDirectoryA(const char* path);

// The program's path: argument 0 as given when it names a path (holds a '/'),
// otherwise the executable the process runs. Call once at start-up.
void setModuleFileName(const char* argv0);
// Copies the program's path (module is ignored: there is only the program),
// cut to size - 1 bytes and terminated. Returns its length, or size when it
// was cut, 0 on failure.
DWORD GetModuleFileNameA(HINSTANCE module, char* fileName, DWORD size);
