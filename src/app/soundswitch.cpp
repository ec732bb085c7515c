#include "app/soundswitch.h"

#include "platform/ui/mmsystem.h"
#include "platform/ui/winapp.h"

SoundSwitch* theSoundSwitch = nullptr;

SoundSwitch* soundSwitch()
{
    if (theSoundSwitch == nullptr)
        theSoundSwitch = new SoundSwitch{nullptr, 1};
    return theSoundSwitch;
}

void playSound(int id)
{
    SoundSwitch* sounds = soundSwitch();
    if (sounds->enabled != 1)
        return;
    PlaySoundA(MAKEINTRESOURCEA(id), AfxGetResourceHandle(), SND_RESOURCE | SND_ASYNC);
}
