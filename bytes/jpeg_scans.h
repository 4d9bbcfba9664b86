#pragma once

#include "byte_reader.h"

namespace bytes {

// A progressive JPEG is decoded over again for every scan, so a few bytes repeated can cost
// minutes: the work its decoding takes is its scans times its frame's pixels, read from the
// markers without decoding anything.
inline qint64 jpegScanPixels(QByteArrayView bytes)
{
    qint64 scans = 0, pixels = 0;
    const qsizetype size = bytes.size();
    for (qsizetype i = 2; i + 4 <= size;) {
        const quint8 marker = quint8(bytes[i + 1]);
        if (quint8(bytes[i]) != 0xff || marker == 0xff) {
            ++i; // entropy-coded data, or fill before a marker
            continue;
        }
        if (marker == 0x00 || marker == 0x01 || (marker >= 0xd0 && marker <= 0xd7)) {
            i += 2; // a stuffed byte or a marker without length
            continue;
        }
        if (marker == 0xd9)
            break;
        const bool frame =
            marker >= 0xc0 && marker <= 0xcf && marker != 0xc4 && marker != 0xc8 && marker != 0xcc;
        ByteReader segment(bytes.sliced(i + 2));
        const quint16 length = segment.u16be();
        if (frame) {
            segment.skip(1); // sample precision
            const qint64 height = segment.u16be();
            const qint64 width = segment.u16be();
            if (segment.ok())
                pixels = height * width;
        }
        if (marker == 0xda)
            ++scans;
        i += 2 + length;
    }
    return scans * pixels;
}

} // namespace bytes
