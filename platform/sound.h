#pragma once

#include "platform/services.h"

#include <memory>

namespace platform {

// The sound output of this platform; CMake builds exactly one back-end (alsa/ or win/).
std::unique_ptr<SoundOutput> makeSystemSound();

} // namespace platform
