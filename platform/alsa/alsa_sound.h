#pragma once

#include "platform/services.h"

#include <memory>

namespace platform {

// Plays through ALSA's "default" device, opened for each sound. ALSA itself is loaded at the
// first sound; where it cannot be loaded the program is silent.
class AlsaSound final : public SoundOutput
{
public:
    AlsaSound();
    ~AlsaSound() override;
    void playWave(const QByteArray &riffImage) override;

    struct Library;

private:
    const Library *library();

    std::unique_ptr<Library> m_library;
    bool m_libraryTried = false;
};

} // namespace platform
