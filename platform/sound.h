#pragma once

#include "platform/services.h"

namespace platform {

#if defined(Q_OS_WIN)
class WinmmSound final : public SoundOutput
{
public:
    void playWave(const QByteArray &riffImage) override;
};
using SystemSound = WinmmSound;
#else
// Plays through ALSA's "default" device, opened for each sound.
class AlsaSound final : public SoundOutput
{
public:
    void playWave(const QByteArray &riffImage) override;
};
using SystemSound = AlsaSound;
#endif

} // namespace platform
