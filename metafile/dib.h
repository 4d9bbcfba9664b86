#pragma once

#include <QByteArrayView>
#include <QImage>
#include <QList>
#include <optional>

namespace metafile::detail {

class Budget;

enum class DibAlpha
{
    Ignore,        // 32-bit pixels are opaque whatever their fourth byte says
    Premultiplied, // 32-bit pixels carry premultiplied alpha (alpha blending)
    Straight,      // an alpha mask gives straight alpha (bitmap files)
};

// How a bitmap's colour table is read: colours, indices into the selected logical palette, or
// no table at all (the pixels index that palette).
inline constexpr quint32 kDibRgbColors = 0;
inline constexpr quint32 kDibPalColors = 1;
inline constexpr quint32 kDibPalIndices = 2;

struct DibResult
{
    QImage image;
    bool bottomUp = true;
};

// The outcome of reading a device-independent bitmap: malformed data fails the picture, an
// unsupported encoding merely skips the drawing.
enum class DibStatus
{
    Ok,
    Malformed,
    Unsupported
};

// Decodes a bitmap described by its info block (header and colour table) and its pixel bits.
// `palette` resolves colour tables of palette indices (usage DIB_PAL_COLORS). Decoding is
// charged to `budget`; a bitmap it cannot pay for is malformed.
DibStatus decodeDib(QByteArrayView info, QByteArrayView bits, quint32 usage, DibAlpha alpha,
                    const QList<QRgb> &palette, DibResult &out, Budget *budget = nullptr);

// Decodes a packed bitmap (info block directly followed by the bits), as WMF records store it.
DibStatus decodePackedDib(QByteArrayView packed, quint32 usage, const QList<QRgb> &palette,
                          DibResult &out, Budget *budget = nullptr);

// Decodes a compressed bitmap (of `format`, or of the kind its bytes show when that is empty),
// charged to `budget` for the pixels it decodes to and, for a JPEG, for each of its scans; one
// to be `kept` must also fit what the budget may still hold. A null image when it is none, too
// large or not paid for.
QImage decodeCompressed(QByteArrayView data, const QByteArray &format, Budget *budget,
                        bool kept = false);

inline constexpr int kMaxBitmapSide = 32768;
inline constexpr qint64 kMaxBitmapPixels = 32 * 1024 * 1024;

} // namespace metafile::detail
