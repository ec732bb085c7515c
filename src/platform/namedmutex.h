#pragma once
// Named mutexes, for the single-instance rule: the name is an exclusive lock
// on a file in the desktop directory (platform/desktop.h), held until the
// handle is closed or the process ends.
#include "platform/winuser.h" // GetLastError, ERROR_ALREADY_EXISTS

// Returns a handle, with the last error ERROR_SUCCESS when this call took the
// lock, or ERROR_ALREADY_EXISTS when another handle (of this or another
// process of the desktop) holds it; the handle then holds nothing. Null, with
// the last error set, when there is no usable desktop or the lock file cannot
// be opened. Without a name the mutex is private to the handle. The lock is
// taken whatever initialOwner says.
HANDLE CreateMutexA(void* attributes, BOOL initialOwner, const char* name);

// Closes a handle of CreateMutexA (releasing its lock when it holds it).
// FALSE with ERROR_INVALID_HANDLE for anything else.
BOOL CloseHandle(HANDLE handle);

constexpr DWORD ERROR_ACCESS_DENIED = 5;
constexpr DWORD ERROR_INVALID_HANDLE = 6;
