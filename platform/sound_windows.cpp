#include "platform/sound.h"

#include <mmsystem.h>
#include <windows.h>

namespace platform {

void WinmmSound::playWave(const QByteArray &riffImage)
{
    // Synchronous, from memory, and no system sound in its place when it cannot be played.
    sndPlaySoundA(riffImage.constData(), SND_MEMORY | SND_NODEFAULT);
}

} // namespace platform
