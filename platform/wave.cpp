#include "platform/wave.h"

#include "bytes/byte_reader.h"

#include <QtEndian>

namespace platform {

std::optional<WaveFormat> parseWave(QByteArrayView image)
{
    bytes::ByteReader file(image);
    const QByteArrayView riff = file.bytes(4);
    file.skip(4); // the RIFF size: the chunks are walked up to the end of the file instead
    if (riff != "RIFF" || file.bytes(4) != "WAVE")
        return std::nullopt;
    WaveFormat format;
    bool haveFormat = false;
    while (file.remaining() >= 8) {
        const QByteArrayView id = file.bytes(4);
        const quint32 size = file.u32();
        if (size > quint32(file.remaining()))
            return std::nullopt;
        const QByteArrayView body = file.bytes(size);
        file.skip(size & 1); // the pad byte after a chunk of odd size
        if (id == "fmt ") {
            bytes::ByteReader fields(body);
            if (size < 16 || fields.u16() != 1) // PCM only
                return std::nullopt;
            format.channels = fields.u16();
            format.sampleRate = int(fields.u32());
            fields.skip(6); // byte rate and block alignment follow from the rest
            format.bitsPerSample = fields.u16();
            haveFormat = true;
        } else if (id == "data") {
            if (!haveFormat || format.channels < 1 || format.sampleRate < 1 ||
                (format.bitsPerSample != 8 && format.bitsPerSample != 16))
                return std::nullopt;
            format.samples = body;
            return format;
        }
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
