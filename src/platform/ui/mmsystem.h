#pragma once
// PlaySound of the program's wave resources (resource.h) with Qt Multimedia.
#include "platform/ui/uitypes.h"

constexpr DWORD SND_SYNC = 0x0000;
constexpr DWORD SND_ASYNC = 0x0001;
constexpr DWORD SND_NODEFAULT = 0x0002;
constexpr DWORD SND_MEMORY = 0x0004;
constexpr DWORD SND_LOOP = 0x0008;
constexpr DWORD SND_NOSTOP = 0x0010;
constexpr DWORD SND_PURGE = 0x0040;
constexpr DWORD SND_FILENAME = 0x00020000;
constexpr DWORD SND_RESOURCE = 0x00040004;

// sound MAKEINTRESOURCEA(id) with SND_RESOURCE: starts the wave resource and
// returns at once (SND_ASYNC; a sync request also returns at once). A new
// sound stops the one playing. A null sound stops playing. FALSE for a
// missing resource or another kind of request. Without an audio device the
// call succeeds and nothing is heard.
BOOL PlaySoundA(const char* sound, HMODULE module, DWORD flags);
