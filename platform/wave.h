#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <optional>

namespace platform {

// The PCM part of a RIFF WAVE image.
struct WaveFormat
{
    int channels = 0;
    int sampleRate = 0;
    int bitsPerSample = 0;
    QByteArrayView samples; // points into the image
};

// Finds the "fmt " and "data" chunks of an uncompressed PCM WAVE image.
std::optional<WaveFormat> parseWave(QByteArrayView riffImage);

// 8-bit unsigned samples to 16-bit signed little-endian ones.
QByteArray widenUnsigned8(QByteArrayView samples);

} // namespace platform
