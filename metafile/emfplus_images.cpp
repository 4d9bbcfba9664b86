#include "dib.h"
#include "emfplus_objects.h"
#include "players.h"

#include <QPainter>
#include <cstring>

// Images: bitmaps as pixels or as compressed files, and metafiles played where they are drawn.
namespace metafile::detail {

QImage EmfPlusPlayer::State::image(ByteReader &r)
{
    enum
    {
        BitmapImage = 1
    };
    enum
    {
        PixelData = 0,
        CompressedData = 1
    };
    constexpr quint32 kArgb32 = 0x0026200A, kPargb32 = 0x000E200B, kRgb32 = 0x00022009,
                      kRgb24 = 0x00021808;
    r.u32(); // version
    if (r.u32() != BitmapImage)
        return {}; // metafiles inside pictures are left out
    const qint32 width = r.i32(), height = r.i32(), stride = r.i32();
    const quint32 format = r.u32(), kind = r.u32();
    if (!r.ok())
        return {};
    const QByteArrayView rest = r.bytes(r.remaining());
    if (kind == CompressedData)
        return decodeCompressed(rest, {}, &canvas.budget(), true);
    if (kind != PixelData || width <= 0 || height <= 0 || width > kMaxBitmapSide ||
        height > kMaxBitmapSide || qint64(width) * height > kMaxBitmapPixels || stride <= 0 ||
        qint64(stride) * height > rest.size() ||
        !canvas.budget().charge(kCostPerBitmapPixel * qreal(width) * height) ||
        !canvas.budget().canHold(qint64(width) * height * 4))
        return {};
    QImage::Format qf = QImage::Format_Invalid;
    int bytes = 4;
    switch (format) {
    case kArgb32:
        qf = QImage::Format_ARGB32;
        break;
    case kPargb32:
        qf = QImage::Format_ARGB32_Premultiplied;
        break;
    case kRgb32:
        qf = QImage::Format_RGB32;
        break;
    case kRgb24:
        qf = QImage::Format_BGR888;
        bytes = 3;
        break;
    default:
        return {};
    }
    if (qint64(width) * bytes > stride)
        return {};
    QImage img(width, height, qf);
    if (img.isNull())
        return {};
    for (int y = 0; y < height; ++y)
        std::memcpy(img.scanLine(y), rest.data() + qsizetype(y) * stride, size_t(width) * bytes);
    return img;
}

void EmfPlusPlayer::State::drawImage(quint16 type, quint16 flags, ByteReader &r)
{
    r.u32(); // image attributes
    r.i32(); // source unit: pixels
    const QRectF source = rectF(r);
    QTransform place; // source pixels to world
    if (type == DrawImage) {
        const QRectF dest = rect(r, flags);
        if (source.width() == 0 || source.height() == 0)
            return;
        place.translate(dest.x(), dest.y());
        place.scale(dest.width() / source.width(), dest.height() / source.height());
        place.translate(-source.x(), -source.y());
    } else {
        if (r.u32() != 3)
            return;
        const QPolygonF p = points(r, 3, flags);
        if (!r.ok() || source.width() == 0 || source.height() == 0)
            return;
        // The parallelogram's upper left, upper right and lower left corners.
        const QPointF u = (p[1] - p[0]) / source.width(), v = (p[2] - p[0]) / source.height();
        place = QTransform(u.x(), u.y(), v.x(), v.y(), p[0].x(), p[0].y());
        place = QTransform::fromTranslate(-source.x(), -source.y()) * place;
    }
    if (const auto *nested = get<NestedMetafile>(flags & kObjectIdMask)) {
        if (r.ok())
            drawMetafile(*nested, source, place);
        return;
    }
    const auto *img = get<QImage>(flags & kObjectIdMask);
    const QTransform t = place * worldToDevice();
    if (!r.ok() || !img || !finite(t))
        return;
    const QRectF clipped = source.intersected(QRectF(img->rect()));
    if (clipped.isEmpty())
        return;
    draw(t.mapRect(clipped), 0, [&](QPainter &p) {
        prepare(p, t);
        p.drawImage(clipped.topLeft(), *img, clipped);
    });
}

// A metafile image is played by the player itself, at the size it is drawn, spending this
// picture's budget; its pixels are those of its natural size.
void EmfPlusPlayer::State::drawMetafile(const NestedMetafile &m, const QRectF &source,
                                        const QTransform &place)
{
    constexpr qreal kMinRatio = 1.0 / 64, kMaxRatio = 16, kLargerThanHost = 2;
    const QTransform t = place * worldToDevice();
    const int depth = canvas.nestingDepth();
    // Reading its records again costs about its size, however little it draws.
    if (depth >= kMaxNesting || !finite(t) || !canvas.budget().charge(qreal(m.data.size())))
        return;
    draw(t.mapRect(source), 0, [&](QPainter &p) {
        prepare(p, t);
        const QSizeF host(p.device()->width(), p.device()->height());
        const qreal largest = std::max(std::abs(source.width()), std::abs(source.height()));
        const qreal ratio = std::clamp(
            std::sqrt(std::abs(p.transform().determinant())), kMinRatio,
            std::min(kMaxRatio, kLargerThanHost * std::max(host.width(), host.height()) / largest));
        const auto picture = renderNested(m.data, ratio, Nesting{&canvas.budget(), depth + 1});
        if (!picture || !std::isfinite(ratio))
            return;
        const QSizeF natural = QSizeF(picture->sizeTwips) / kTwipsPerPixel;
        const QRectF part = source & QRectF(QPointF(0, 0), natural);
        if (part.isEmpty() || natural.isEmpty())
            return;
        const qreal sx = picture->image.width() / natural.width();
        const qreal sy = picture->image.height() / natural.height();
        p.drawImage(part, picture->image,
                    QRectF(part.x() * sx, part.y() * sy, part.width() * sx, part.height() * sy));
    });
}

} // namespace metafile::detail
