#pragma once

// The call into winmm that plays the door sound on Windows. It needs nothing from Qt, so it
// can be compiled on its own with a Windows compiler.

namespace platform::win {

// Plays a whole RIFF WAVE file image held in memory, synchronously; when it cannot be played,
// nothing plays in its place (no system default sound).
void playWaveFromMemory(const void *riffImage);

} // namespace platform::win
