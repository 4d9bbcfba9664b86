#include "platform/wave.h"

#include <QtEndian>

namespace platform {

namespace {
quint32 le32(QByteArrayView data, qsizetype at)
{
    return qFromLittleEndian<quint32>(data.data() + at);
}
quint16 le16(QByteArrayView data, qsizetype at)
{
    return qFromLittleEndian<quint16>(data.data() + at);
}
} // namespace

std::optional<WaveFormat> parseWave(QByteArrayView image)
{
    if (image.size() < 12 || image.first(4) != "RIFF" || image.sliced(8, 4) != "WAVE")
        return std::nullopt;
    WaveFormat format;
    bool haveFormat = false;
    qsizetype at = 12;
    while (at + 8 <= image.size()) {
        const QByteArrayView id = image.sliced(at, 4);
        const quint32 size = le32(image, at + 4);
        const qsizetype body = at + 8;
        if (size > quint32(image.size() - body))
            return std::nullopt;
        if (id == "fmt ") {
            if (size < 16 || le16(image, body) != 1) // PCM only
                return std::nullopt;
            format.channels = le16(image, body + 2);
            format.sampleRate = int(le32(image, body + 4));
            format.bitsPerSample = le16(image, body + 14);
            haveFormat = true;
        } else if (id == "data") {
            if (!haveFormat || format.channels < 1 || format.sampleRate < 1 ||
                (format.bitsPerSample != 8 && format.bitsPerSample != 16))
                return std::nullopt;
            format.samples = image.sliced(body, size);
            return format;
        }
        at = body + size + (size & 1);
    }
    return std::nullopt;
}

QByteArray widenUnsigned8(QByteArrayView samples)
{
    QByteArray wide(samples.size() * 2, Qt::Uninitialized);
    for (qsizetype i = 0; i < samples.size(); ++i) {
        const qint16 value = qint16((int(quint8(samples[i])) - 128) * 256);
        qToLittleEndian<qint16>(value, wide.data() + 2 * i);
    }
    return wide;
}

} // namespace platform
