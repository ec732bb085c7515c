#pragma once
// The process-wide sound switch: every sound of the program plays through
// playSound, and only while the switch is on.
#include "platform/wintypes.h"

#include <cstdint>

struct SoundSwitch {
    HWND owner;      // the main dialog's window (its module holds the sounds)
    int32_t enabled; // 1: sounds on
};

// Null until first use; the main dialog's PostNcDestroy deletes it.
extern SoundSwitch* theSoundSwitch;

// The switch, created (enabled, no owner) when there is none.
SoundSwitch* soundSwitch();

// Starts the wave resource `id` asynchronously while the switch is on.
void playSound(int id);
