#include "platform/sound.h"
#include "platform/win/winmm_play.h"

namespace platform {

void WinmmSound::playWave(const QByteArray &riffImage)
{
    if (riffImage.isEmpty())
        return;
    win::playWaveFromMemory(riffImage.constData());
}

} // namespace platform
