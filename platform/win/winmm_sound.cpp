#include "platform/win/winmm_sound.h"

#include "platform/sound.h"
#include "platform/win/winmm_play.h"

namespace platform {

void WinmmSound::playWave(const QByteArray &riffImage)
{
    if (riffImage.isEmpty())
        return;
    win::playWaveFromMemory(riffImage.constData());
}

std::unique_ptr<SoundOutput> makeSystemSound()
{
    return std::make_unique<WinmmSound>();
}

} // namespace platform
