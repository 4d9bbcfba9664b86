#include "dib.h"

#include "budget.h"
#include "bytes/byte_reader.h"
#include "bytes/jpeg_scans.h"
#include "metafile.h"

#include <QBuffer>
#include <QImageReader>
#include <bit>

namespace metafile::detail {

using bytes::ByteReader;

namespace {

enum Compression : quint32
{
    BiRgb = 0,
    BiRle8 = 1,
    BiRle4 = 2,
    BiBitfields = 3,
    BiJpeg = 4,
    BiPng = 5,
    BiAlphaBitfields = 6,
};

struct Header
{
    quint32 size = 0;
    qint64 width = 0;
    qint64 height = 0;
    int bpp = 0;
    quint32 compression = BiRgb;
    quint32 sizeImage = 0;
    quint32 colorsUsed = 0;
    quint32 masks[4] = {0, 0, 0, 0};
    qsizetype tableOffset = 0;  // where the colour table starts inside the info block
    qsizetype tableEntries = 0; // entries stored in the info block
    int entrySize = 4;
};

bool readHeader(ByteReader &r, quint32 usage, Header &h)
{
    h.size = r.u32();
    if (h.size == 12) {
        h.width = r.u16();
        h.height = r.u16();
        r.u16();
        h.bpp = r.u16();
        h.entrySize = 3;
    } else if (h.size == 16) { // OS/2 2.x, cut after the bit count
        h.width = r.i32();
        h.height = r.i32();
        r.u16();
        h.bpp = r.u16();
    } else if (h.size >= 40 && h.size <= 1024) {
        h.width = r.i32();
        h.height = r.i32();
        r.u16();
        h.bpp = r.u16();
        h.compression = r.u32();
        h.sizeImage = r.u32();
        r.u32();
        r.u32();
        h.colorsUsed = r.u32();
        r.u32();
        if (h.size >= 52) {
            for (int i = 0; i < (h.size >= 56 ? 4 : 3); ++i)
                h.masks[i] = r.u32();
        } else if (h.compression == BiBitfields || h.compression == BiAlphaBitfields) {
            for (int i = 0; i < (h.compression == BiBitfields ? 3 : 4); ++i)
                h.masks[i] = r.u32();
        }
    } else {
        return false;
    }
    if (!r.ok())
        return false;
    h.tableOffset = h.size;
    if (h.size == 40 && (h.compression == BiBitfields || h.compression == BiAlphaBitfields))
        h.tableOffset += h.compression == BiBitfields ? 12 : 16;
    if (usage == kDibPalColors)
        h.entrySize = 2;
    if (usage == kDibPalIndices)
        h.tableEntries = 0;
    else if (h.bpp <= 8 && h.bpp > 0)
        h.tableEntries = h.colorsUsed ? qint64(h.colorsUsed) : (qint64(1) << h.bpp);
    else
        h.tableEntries = h.colorsUsed;
    return h.tableEntries <= 65536;
}

QList<QRgb> readTable(QByteArrayView info, const Header &h, const QList<QRgb> &palette)
{
    QList<QRgb> table;
    if (h.bpp > 8)
        return table;
    table.reserve(1 << h.bpp);
    ByteReader r(info);
    r.seek(h.tableOffset);
    const qsizetype n =
        std::min<qsizetype>({h.tableEntries, 1 << h.bpp, r.remaining() / h.entrySize});
    for (qsizetype i = 0; i < n; ++i) {
        if (h.entrySize == 2) {
            const quint16 index = r.u16();
            table.append(index < palette.size() ? palette[index] : qRgb(index, index, index));
        } else {
            const int b = r.u8(), g = r.u8(), red = r.u8();
            if (h.entrySize == 4)
                r.u8();
            table.append(qRgb(red, g, b));
        }
    }
    // Colours the bitmap does not carry come from the selected logical palette, as its pixels
    // then index it; without one they are black, but for a one-bit bitmap's white.
    while (table.size() < (1 << h.bpp)) {
        const QRgb fallback = h.bpp == 1 && table.size() == 1 ? qRgb(255, 255, 255) : qRgb(0, 0, 0);
        table.append(palette.value(table.size(), fallback));
    }
    return table;
}

// Scales a masked channel value to 0..255.
struct Channel
{
    quint32 mask = 0;
    int shift = 0;
    quint32 max = 0;
    explicit Channel(quint32 m) : mask(m)
    {
        if (m) {
            shift = std::countr_zero(m);
            max = m >> shift;
        }
    }
    int value(quint32 pixel, int fallback) const
    {
        if (!max)
            return fallback;
        return int((quint64((pixel & mask) >> shift) * 255 + max / 2) / max);
    }
};

// Run-length encoded 4 and 8 bit bitmaps.
bool decodeRle(QByteArrayView bits, const Header &h, const QList<QRgb> &table, QImage &img)
{
    img.fill(0);
    const int w = img.width(), hgt = img.height();
    ByteReader r(bits);
    int x = 0, y = 0;
    // A run stops at the end of its row; what it holds beyond is lost, as on the device.
    auto put = [&](int index) {
        if (x < w && y < hgt)
            img.setPixel(x, h.height < 0 ? y : hgt - 1 - y, table.value(index, 0) | 0xff000000u);
        x = std::min(x + 1, w);
    };
    while (r.remaining() >= 2) {
        const int count = r.u8();
        const int value = r.u8();
        if (count > 0) {
            for (int i = 0; i < count; ++i)
                put(h.compression == BiRle8 ? value : ((i & 1) ? value & 15 : value >> 4));
        } else if (value == 0) {
            x = 0;
            ++y;
        } else if (value == 1) {
            break;
        } else if (value == 2) {
            x = std::min(x + r.u8(), w);
            y += r.u8();
        } else {
            const int bytes = h.compression == BiRle8 ? value : (value + 1) / 2;
            const QByteArrayView run = r.bytes(bytes + (bytes & 1));
            if (!r.ok())
                return false;
            for (int i = 0; i < value; ++i) {
                const auto byte = quint8(run[h.compression == BiRle8 ? i : i / 2]);
                put(h.compression == BiRle8 ? byte : ((i & 1) ? byte & 15 : byte >> 4));
            }
        }
        if (y >= hgt)
            break;
    }
    return true;
}

} // namespace

DibStatus decodeDib(QByteArrayView info, QByteArrayView bits, quint32 usage, DibAlpha alpha,
                    const QList<QRgb> &palette, DibResult &out, Budget *budget)
{
    ByteReader r(info);
    Header h;
    if (!readHeader(r, usage, h))
        return DibStatus::Malformed;
    const bool bottomUp = h.height > 0;
    const qint64 width = h.width, height = h.height < 0 ? -h.height : h.height;
    if (width <= 0 || height <= 0 || width > kMaxBitmapSide || height > kMaxBitmapSide ||
        width * height > kMaxBitmapPixels)
        return DibStatus::Malformed;
    if (h.compression == BiJpeg || h.compression == BiPng) {
        // Charged for what the bytes decode to, whatever the header says.
        const QImage img = decodeCompressed(bits, h.compression == BiPng ? "png" : "jpeg", budget);
        if (budget && budget->spent())
            return DibStatus::Malformed;
        if (img.isNull())
            return DibStatus::Unsupported;
        out.image = img.convertToFormat(QImage::Format_ARGB32);
        out.bottomUp = false;
        return DibStatus::Ok;
    }
    // Every pixel is written into fresh memory, however few bytes describe them.
    if (budget && !budget->charge(kCostPerBitmapPixel * qreal(width) * qreal(height)))
        return DibStatus::Malformed;
    out.bottomUp = bottomUp;

    const int bpp = h.bpp;
    if (bpp != 1 && bpp != 2 && bpp != 4 && bpp != 8 && bpp != 16 && bpp != 24 && bpp != 32)
        return DibStatus::Unsupported;
    const QList<QRgb> table = readTable(info, h, palette);

    QImage img(int(width), int(height),
               alpha == DibAlpha::Premultiplied ? QImage::Format_ARGB32_Premultiplied
                                                : QImage::Format_ARGB32);
    if (img.isNull())
        return DibStatus::Unsupported;

    if (h.compression == BiRle8 || h.compression == BiRle4) {
        if ((h.compression == BiRle8) != (bpp == 8) || (h.compression == BiRle4) != (bpp == 4))
            return DibStatus::Malformed;
        if (!decodeRle(bits, h, table, img))
            return DibStatus::Malformed;
        out.image = img;
        out.bottomUp = false;
        return DibStatus::Ok;
    }
    if (h.compression != BiRgb && h.compression != BiBitfields && h.compression != BiAlphaBitfields)
        return DibStatus::Unsupported;

    const qint64 stride = ((width * bpp + 31) / 32) * 4;
    // The last row may lack its padding.
    if (stride * (height - 1) + (width * bpp + 7) / 8 > bits.size())
        return DibStatus::Malformed;

    quint32 masks[4] = {h.masks[0], h.masks[1], h.masks[2], h.masks[3]};
    if (h.compression == BiRgb || (!masks[0] && !masks[1] && !masks[2])) {
        if (bpp == 16) {
            masks[0] = 0x7c00;
            masks[1] = 0x03e0;
            masks[2] = 0x001f;
        } else {
            masks[0] = 0xff0000;
            masks[1] = 0x00ff00;
            masks[2] = 0x0000ff;
        }
        masks[3] = 0;
    }
    // Alpha blending takes a 32-bit pixel's alpha from the bits its colour masks leave free
    // (Office's icons: BI_BITFIELDS, three masks, alpha in the top byte).
    if (bpp == 32 && alpha == DibAlpha::Premultiplied && h.compression != BiRgb && !masks[3]) {
        const quint32 rest = ~(masks[0] | masks[1] | masks[2]);
        if (rest && std::has_single_bit((rest >> std::countr_zero(rest)) + 1))
            masks[3] = rest;
    }
    const Channel red(masks[0]), green(masks[1]), blue(masks[2]), alphaChannel(masks[3]);

    const auto *src = reinterpret_cast<const uchar *>(bits.data());
    for (qint64 row = 0; row < height; ++row) {
        const uchar *line = src + row * stride;
        auto *dst = reinterpret_cast<QRgb *>(img.scanLine(int(bottomUp ? height - 1 - row : row)));
        for (qint64 x = 0; x < width; ++x) {
            switch (bpp) {
            case 1:
                dst[x] = table[(line[x / 8] >> (7 - x % 8)) & 1];
                break;
            case 2:
                dst[x] = table[(line[x / 4] >> (6 - 2 * (x % 4))) & 3];
                break;
            case 4:
                dst[x] = table[(line[x / 2] >> ((x % 2) ? 0 : 4)) & 15];
                break;
            case 8:
                dst[x] = table[line[x]];
                break;
            case 24:
                dst[x] = qRgb(line[x * 3 + 2], line[x * 3 + 1], line[x * 3]);
                break;
            case 16:
            case 32: {
                const quint32 px = bpp == 16 ? quint32(line[x * 2] | (line[x * 2 + 1] << 8))
                                             : qFromLittleEndian<quint32>(line + x * 4);
                if (bpp == 32 && h.compression == BiRgb) {
                    dst[x] = alpha == DibAlpha::Premultiplied ? px : (px | 0xff000000u);
                } else {
                    const int a = alpha != DibAlpha::Ignore ? alphaChannel.value(px, 255) : 255;
                    dst[x] = qRgba(red.value(px, 0), green.value(px, 0), blue.value(px, 0), a);
                }
                break;
            }
            }
        }
    }
    if (alpha == DibAlpha::Premultiplied) {
        // Unpremultiplied channels above their alpha would wrap; clamp them.
        for (int y = 0; y < img.height(); ++y) {
            auto *line = reinterpret_cast<QRgb *>(img.scanLine(y));
            for (int x = 0; x < img.width(); ++x) {
                const int a = qAlpha(line[x]);
                line[x] = qRgba(std::min(qRed(line[x]), a), std::min(qGreen(line[x]), a),
                                std::min(qBlue(line[x]), a), a);
            }
        }
    }
    out.image = img;
    out.bottomUp = bottomUp;
    return DibStatus::Ok;
}

QImage decodeCompressed(QByteArrayView data, const QByteArray &format, Budget *budget, bool kept)
{
    QByteArray copy = data.toByteArray();
    QBuffer buffer(&copy);
    QImageReader reader(&buffer, format);
    const QSize s = reader.size();
    if (!s.isValid() || s.width() > kMaxBitmapSide || s.height() > kMaxBitmapSide ||
        qint64(s.width()) * s.height() > kMaxBitmapPixels)
        return {};
    qreal work = kCostPerBitmapPixel * s.width() * s.height();
    if (reader.format() == "jpeg")
        work += qreal(bytes::jpegScanPixels(copy));
    constexpr qint64 kBytesPerPixel = 4;
    if (budget && (!budget->charge(work) ||
                   (kept && !budget->canHold(kBytesPerPixel * s.width() * s.height()))))
        return {};
    return reader.read();
}

DibStatus decodePackedDib(QByteArrayView packed, quint32 usage, const QList<QRgb> &palette,
                          DibResult &out, Budget *budget)
{
    ByteReader r(packed);
    Header h;
    if (!readHeader(r, usage, h))
        return DibStatus::Malformed;
    qsizetype infoSize = h.tableOffset + h.tableEntries * h.entrySize;
    // Writers that leave out the unused end of an 8-bit colour table: the pixels, whose size is
    // known, take the rest of the record.
    const bool sane = h.width > 0 && h.width <= kMaxBitmapSide && h.height != 0 &&
                      std::abs(h.height) <= kMaxBitmapSide;
    const qint64 pixelBytes = sane ? ((h.width * h.bpp + 31) / 32) * 4 * std::abs(h.height) : 0;
    if (sane && h.compression == BiRgb && h.bpp <= 8 && infoSize + pixelBytes > packed.size() &&
        packed.size() - pixelBytes >= h.tableOffset)
        infoSize = packed.size() - pixelBytes;
    if (infoSize > packed.size())
        return DibStatus::Malformed;
    return decodeDib(packed.first(infoSize), packed.sliced(infoSize), usage, DibAlpha::Ignore,
                     palette, out, budget);
}

} // namespace metafile::detail

namespace metafile {

std::optional<QImage> decodeBmp(QByteArrayView data, const Stop &stop)
{
    constexpr qsizetype kFileHeaderSize = 14;
    bytes::ByteReader r(data);
    if (r.u16() != 0x4D42) // "BM"
        return std::nullopt;
    r.skip(8); // file size, reserved
    const quint32 offBits = r.u32();
    const quint32 headerSize = r.u32();
    if (!r.ok())
        return std::nullopt;
    quint32 colorsUsed = 0;
    if (headerSize >= 40) {
        r.seek(kFileHeaderSize + 32);
        colorsUsed = r.u32();
    }
    const QByteArrayView dib = data.sliced(kFileHeaderSize);
    // The pixels lie where the file header says, whatever the colour table's length (OS/2 files
    // often carry fewer colours than their depth allows); an offset inside the info block, the
    // colours it counts or past the file leaves them right after the table.
    detail::DibResult out;
    detail::Budget budget(stop);
    detail::DibStatus status = detail::DibStatus::Malformed;
    const qint64 tableEnd = kFileHeaderSize + qint64(headerSize) + qint64(colorsUsed) * 4;
    const qint64 pixelsAt = colorsUsed > 0 && offBits < tableEnd ? tableEnd : qint64(offBits);
    if (pixelsAt >= kFileHeaderSize + qint64(headerSize) && pixelsAt < data.size())
        status =
            detail::decodeDib(dib.first(pixelsAt - kFileHeaderSize), data.sliced(pixelsAt),
                              detail::kDibRgbColors, detail::DibAlpha::Straight, {}, out, &budget);
    else
        status = detail::decodePackedDib(dib, detail::kDibRgbColors, {}, out, &budget);
    if (status != detail::DibStatus::Ok || stop.expired())
        return std::nullopt;
    return out.image;
}

} // namespace metafile
