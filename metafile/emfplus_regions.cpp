#include "emfplus_objects.h"

#include <QScopeGuard>

// Points, paths and regions as stored, and the clip they make.
namespace metafile::detail {

QRectF EmfPlusPlayer::State::rectF(ByteReader &r)
{
    const float x = r.f32(), y = r.f32(), w = r.f32(), h = r.f32();
    return QRectF(x, y, w, h);
}

QRectF EmfPlusPlayer::State::rect(ByteReader &r, quint16 flags)
{
    if (flags & kCompressed) {
        const qint16 x = r.i16(), y = r.i16(), w = r.i16(), h = r.i16();
        return QRectF(x, y, w, h);
    }
    return rectF(r);
}

// Points as floats, 16-bit integers, or offsets of 7 or 15 bits from the previous point.
QPolygonF EmfPlusPlayer::State::points(ByteReader &r, quint32 count, quint16 flags)
{
    QPolygonF out;
    const qsizetype least = (flags & kRelative) ? 2 : (flags & kCompressed) ? 4 : 8;
    if (count > kMaxPoints || qint64(count) * least > r.remaining()) {
        r.fail();
        return out;
    }
    out.reserve(count);
    QPointF last;
    const auto offset = [&r]() -> qreal {
        const quint8 b = r.u8();
        if (b & 0x80) {
            const int v = ((b & 0x7F) << 8) | r.u8();
            return v & 0x4000 ? v - 0x8000 : v;
        }
        return b & 0x40 ? b - 0x80 : b;
    };
    for (quint32 i = 0; i < count; ++i) {
        if (flags & kRelative) {
            const qreal dx = offset();
            const qreal dy = offset();
            last += QPointF(dx, dy);
        } else if (flags & kCompressed) {
            const qint16 x = r.i16(), y = r.i16();
            last = QPointF(x, y);
        } else {
            const float x = r.f32(), y = r.f32();
            last = QPointF(x, y);
        }
        out.append(last);
    }
    return out;
}

QPainterPath EmfPlusPlayer::State::path(ByteReader &r)
{
    constexpr quint32 kRunLength = 0x1000;
    constexpr quint8 kTypeMask = 0x07, kStart = 0, kBezier = 3, kClose = 0x80;
    r.u32(); // version
    const quint32 count = r.u32();
    const quint32 flags = r.u32();
    const QPolygonF pts = points(r, count, quint16(flags));
    QByteArray types;
    while (r.ok() && types.size() < pts.size()) {
        if (flags & kRunLength) {
            const quint8 run = r.u8() & 0x3F;
            const char type = char(r.u8());
            for (int i = 0; i < run && types.size() < pts.size(); ++i)
                types.append(type);
        } else {
            types.append(char(r.u8()));
        }
    }
    QPainterPath out;
    if (!r.ok())
        return out;
    for (qsizetype i = 0; i < pts.size(); ++i) {
        const quint8 t = quint8(types[i]);
        if ((t & kTypeMask) == kStart || out.elementCount() == 0) {
            out.moveTo(pts[i]);
        } else if ((t & kTypeMask) == kBezier && i + 2 < pts.size()) {
            out.cubicTo(pts[i], pts[i + 1], pts[i + 2]);
            i += 2;
            if (quint8(types[i]) & kClose)
                out.closeSubpath();
            continue;
        } else {
            out.lineTo(pts[i]);
        }
        if (t & kClose)
            out.closeSubpath();
    }
    return out;
}

void EmfPlusPlayer::State::clip(const QPainterPath &device, int mode)
{
    enum
    {
        Replace,
        Intersect,
        Union,
        Xor,
        Exclude,
        Complement
    };
    // Combining walks both paths' edges and where they cross, as filling them would.
    const qreal work = canvas.deviceShapeWork(device, true, false, 0) +
                       (gs.clip ? canvas.deviceShapeWork(*gs.clip, true, false, 0) : 0);
    if (!canvas.budget().charge(kCostPerCall + work))
        return;
    const auto done = qScopeGuard(
        [this] { gs.clipWork = gs.clip ? canvas.deviceShapeWork(*gs.clip, true, false, 0) : 0; });
    if (mode == Replace || (!gs.clip && mode == Intersect)) {
        gs.clip = device;
        return;
    }
    if (!gs.clip) { // everywhere
        if (mode == Union)
            return;
        gs.clip.emplace().addRect(kEverywhere);
    }
    switch (mode) {
    case Intersect:
        gs.clip = gs.clip->intersected(device);
        break;
    case Union:
        gs.clip = gs.clip->united(device);
        break;
    case Xor:
        gs.clip = gs.clip->subtracted(device).united(device.subtracted(*gs.clip));
        break;
    case Exclude:
        gs.clip = gs.clip->subtracted(device);
        break;
    case Complement:
        gs.clip = device.subtracted(*gs.clip);
        break;
    default:
        break;
    }
}

// A node of a region and those below it, as pixels of the image (GDI+ works regions out in
// pixels too); nothing for a broken one. Each node costs its figure's edges and rectangles.
std::optional<QRegion> EmfPlusPlayer::State::region(ByteReader &r, const QTransform &toImage,
                                                    int depth)
{
    enum : quint32
    {
        And = 1,
        Or = 2,
        Xor = 3,
        Exclude = 4,
        Complement = 5,
        Rect = 0x10000000,
        Path = 0x10000001,
        Empty = 0x10000002,
        Infinite = 0x10000003,
    };
    constexpr int kMaxDepth = 64;
    constexpr qreal kCostPerNode = 256;
    const quint32 type = r.u32();
    QPainterPath figure;
    QRegion out;
    switch (type) {
    case Rect:
        if (const QRectF rect = rectF(r);
            rect.isValid() && std::isfinite(rect.x() + rect.y() + rect.width() + rect.height()))
            figure.addRect(rect);
        break;
    case Path: {
        ByteReader data(r.bytes(r.u32()));
        figure = path(data);
        if (!data.ok())
            return {};
        break;
    }
    case Empty:
        break;
    case Infinite: {
        // Everywhere an offset clip could bring into the picture.
        const QRect image = canvas.imageBounds();
        out = image.adjusted(-image.width(), -image.height(), image.width(), image.height());
        break;
    }
    case And:
    case Or:
    case Xor:
    case Exclude:
    case Complement: {
        if (depth >= kMaxDepth)
            return {};
        const auto left = region(r, toImage, depth + 1);
        const auto right = left ? region(r, toImage, depth + 1) : std::nullopt;
        if (!right)
            return {};
        out = type == And       ? *left & *right
              : type == Or      ? *left | *right
              : type == Xor     ? *left ^ *right
              : type == Exclude ? *left - *right
                                : *right - *left;
        break;
    }
    default:
        return {};
    }
    if (!figure.isEmpty()) {
        const auto pixels = canvas.pathRegion(toImage.map(figure));
        if (!pixels)
            return {};
        out = *pixels;
    }
    if (!r.ok() || !canvas.budget().charge(kCostPerNode + out.rectCount()))
        return {};
    return out;
}

// A region object's pixels under the current transforms.
std::optional<QRegion> EmfPlusPlayer::State::region(quint32 id)
{
    const auto *data = get<RegionData>(id);
    const QTransform toImage = worldToDevice() * canvas.deviceToImage();
    if (!data || !finite(toImage))
        return {};
    ByteReader r(data->nodes);
    return region(r, toImage, 0);
}

} // namespace metafile::detail
