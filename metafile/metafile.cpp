#include "metafile.h"

#include "bytes/byte_reader.h"
#include "players.h"

#include <algorithm>
#include <cmath>

namespace metafile {

using bytes::ByteReader;
using namespace detail;

Format detect(QByteArrayView data)
{
    ByteReader r(data);
    const quint32 first = r.u32();
    if (!r.ok())
        return Format::None;
    if (first == 0x9AC6CDD7u)
        return data.size() >= 22 + 18 ? Format::PlaceableWmf : Format::None;
    if (first == 1 && data.size() >= 88) {
        r.seek(40);
        if (r.u32() == 0x464D4520u) // " EMF"
            return Format::Emf;
    }
    r.seek(0);
    const quint16 type = r.u16();
    const quint16 headerSize = r.u16();
    if (r.ok() && data.size() >= 18 && (type == 1 || type == 2) && headerSize == 9)
        return Format::Wmf;
    return Format::None;
}

std::optional<Picture> render(QByteArrayView data, qreal devicePixelRatio, const Stop &stop,
                              QSize seen)
{
    if (!std::isfinite(devicePixelRatio) || devicePixelRatio <= 0 || devicePixelRatio > 16)
        return std::nullopt;
    std::optional<Picture> picture;
    switch (detect(data)) {
    case Format::Wmf:
    case Format::PlaceableWmf:
        picture = renderWmf(data, devicePixelRatio, stop, seen);
        break;
    case Format::Emf:
        picture = renderEmf(data, devicePixelRatio, stop, seen);
        break;
    case Format::None:
        break;
    }
    // Set only now: a painter on an image with a ratio would scale everything by it.
    if (picture)
        picture->image.setDevicePixelRatio(devicePixelRatio);
    return picture;
}

namespace detail {

std::optional<Picture> renderNested(QByteArrayView data, qreal devicePixelRatio,
                                    const Nesting &nesting)
{
    switch (detect(data)) {
    case Format::Wmf:
    case Format::PlaceableWmf:
        return renderWmf(data, devicePixelRatio, {}, {}, nesting);
    case Format::Emf:
        return renderEmf(data, devicePixelRatio, {}, {}, nesting);
    case Format::None:
        break;
    }
    return std::nullopt;
}

Target makeTarget(QSizeF twips, qreal devicePixelRatio, QSize seen)
{
    if (!(twips.width() > 0) || !(twips.height() > 0))
        return {};
    const qreal w = std::round(std::round(twips.width() / kTwipsPerPixel) * devicePixelRatio);
    const qreal h = std::round(std::round(twips.height() / kTwipsPerPixel) * devicePixelRatio);
    // The limits hold for the whole picture even when only a corner is drawn, so that a picture
    // plays, or fails, the same wherever it is shown.
    if (!(w >= 1 && h >= 1 && w <= kMaxImageSide && h <= kMaxImageSide) ||
        w * h * 4 > qreal(kMaxImageBytes))
        return {};
    const QSize picture{int(w), int(h)};
    const QSize kept = seen.isEmpty() ? picture : picture.boundedTo(seen);
    QImage image(kept, QImage::Format_ARGB32_Premultiplied);
    if (image.isNull())
        return {};
    image.fill(Qt::transparent);
    return {std::move(image), picture};
}

std::optional<Picture> blankPlayed(QSize drawn, QSize picture,
                                   const std::function<std::optional<Picture>()> &playWhole)
{
    if (drawn == picture)
        return std::nullopt;
    std::optional<Picture> whole = playWhole();
    if (whole)
        whole->image = whole->image.copy(QRect(QPoint(0, 0), drawn));
    return whole;
}

QSizeF fitPhysical(QSizeF pixels)
{
    const qreal scale =
        std::min({qreal(1), kMaxPhysicalSide / std::max(pixels.width(), pixels.height()),
                  std::sqrt(kMaxPhysicalPixels / (pixels.width() * pixels.height()))});
    return pixels * scale;
}

bool isBlank(const QImage &image)
{
    for (int y = 0; y < image.height(); ++y) {
        const auto *line = reinterpret_cast<const QRgb *>(image.constScanLine(y));
        if (std::any_of(line, line + image.width(), [](QRgb p) { return qAlpha(p) != 0; }))
            return false;
    }
    return true;
}

} // namespace detail
} // namespace metafile
