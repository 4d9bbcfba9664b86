#pragma once

#include "byte_reader.h"

#include <cstring>

namespace bytes {

// A progressive JPEG is decoded over again for every scan, so a few bytes repeated can cost
// minutes: the work its decoding takes is its scans times its frame's pixels, read from the
// markers without decoding anything. `ended`, when given, tells whether the end-of-image marker
// follows a scan (a cut-off file has none; a thumbnail's lies inside its own segment).
inline qint64 jpegScanPixels(QByteArrayView bytes, bool *ended = nullptr)
{
    qint64 scans = 0, pixels = 0;
    const qsizetype size = bytes.size();
    if (ended)
        *ended = false;
    for (qsizetype i = 2; i + 2 <= size;) {
        if (quint8(bytes[i]) != 0xff) {
            // Entropy-coded data, megabytes of it in a photo: on to the next 0xff at once.
            const void *next = std::memchr(bytes.data() + i, 0xff, size_t(size - i));
            if (!next)
                break;
            i = static_cast<const char *>(next) - bytes.data();
            continue;
        }
        const quint8 marker = quint8(bytes[i + 1]);
        if (marker == 0xff) {
            ++i; // fill before a marker
            continue;
        }
        if (marker == 0x00 || marker == 0x01 || (marker >= 0xd0 && marker <= 0xd7)) {
            i += 2; // a stuffed byte or a marker without length
            continue;
        }
        if (marker == 0xd9) {
            if (ended)
                *ended = scans > 0;
            break;
        }
        if (i + 4 > size)
            break; // no room for the segment's length
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
