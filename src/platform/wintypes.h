#pragma once
// Windows-shaped basic types used by the system's code.
#include <cstdint>

using BOOL = int;
using BYTE = uint8_t;
using WORD = uint16_t;
using DWORD = uint32_t;
using UINT = uint32_t;
using LONG = int32_t;
using ATOM = uint16_t;
using UINT_PTR = uintptr_t;
using ULONG_PTR = uintptr_t;
using LONG_PTR = intptr_t;
using WPARAM = UINT_PTR;
using LPARAM = LONG_PTR;
using LRESULT = LONG_PTR;

constexpr BOOL TRUE = 1;
constexpr BOOL FALSE = 0;

// Opaque handles. A window handle's value carries the id of its process, so
// handles are unique across the processes of a desktop.
struct HWND__;
using HWND = HWND__*;
struct HINSTANCE__;
using HINSTANCE = HINSTANCE__*;
using HANDLE = void*;
