#pragma once

#include "platform/services.h"

namespace platform {

class WinmmSound final : public SoundOutput
{
public:
    void playWave(const QByteArray &riffImage) override;
};

} // namespace platform
