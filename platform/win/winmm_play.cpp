#include "platform/win/winmm_play.h"

// windows.h first: mmsystem.h relies on its types.
// clang-format off
#include <windows.h>
#include <mmsystem.h>
// clang-format on

namespace platform::win {

void playWaveFromMemory(const void *riffImage)
{
    sndPlaySoundA(static_cast<LPCSTR>(riffImage), SND_MEMORY | SND_NODEFAULT);
}

} // namespace platform::win
