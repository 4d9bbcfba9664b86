#pragma once

#include <QByteArray>
#include <QtGlobal>

namespace platform {
class SoundOutput;
}

// What the windows share for sound.
namespace Common {

// The complete image of the last WAVE resource loaded; each play replaces it.
inline QByteArray WaveBytes;

// The door sound's resource id.
inline constexpr qint16 kDoorSound = 101;

// Loads the WAVE resource `id` into WaveBytes and plays it, returning when it has been heard.
void PlayWaveRes(qint16 id, platform::SoundOutput &sound);

} // namespace Common
