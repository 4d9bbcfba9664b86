// EMF+ player: the GDI+ records a sign needs (shapes, paths, pens, solid, hatched and gradient
// brushes, transforms with their save stack, clipping, images and text).
#include "emfplus.h"

#include "bytes/byte_reader.h"
#include "canvas.h"
#include "dib.h"

#include <QFontMetricsF>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QPolygonF>
#include <QScopeGuard>
#include <array>
#include <cmath>
#include <cstring>
#include <variant>

namespace metafile::detail {

using bytes::ByteReader;

namespace {

enum RecordType : quint16
{
    Header = 0x4001,
    Object = 0x4008,
    Clear = 0x4009,
    FillRects = 0x400A,
    DrawRects = 0x400B,
    FillPolygon = 0x400C,
    DrawLines = 0x400D,
    FillEllipse = 0x400E,
    DrawEllipse = 0x400F,
    FillPie = 0x4010,
    DrawPie = 0x4011,
    DrawArc = 0x4012,
    FillPath = 0x4014,
    DrawPath = 0x4015,
    FillClosedCurve = 0x4016,
    DrawClosedCurve = 0x4017,
    DrawCurve = 0x4018,
    DrawBeziers = 0x4019,
    DrawImage = 0x401A,
    DrawImagePoints = 0x401B,
    DrawString = 0x401C,
    Save = 0x4025,
    Restore = 0x4026,
    BeginContainer = 0x4027,
    BeginContainerNoParams = 0x4028,
    EndContainer = 0x4029,
    SetWorldTransform = 0x402A,
    ResetWorldTransform = 0x402B,
    MultiplyWorldTransform = 0x402C,
    TranslateWorldTransform = 0x402D,
    ScaleWorldTransform = 0x402E,
    RotateWorldTransform = 0x402F,
    SetPageTransform = 0x4030,
    ResetClip = 0x4031,
    SetClipRect = 0x4032,
    SetClipPath = 0x4033,
    DrawDriverString = 0x4036,
};

enum ObjectType
{
    BrushObjectType = 1,
    PenObjectType = 2,
    PathObjectType = 3,
    ImageObjectType = 5,
    FontObjectType = 6,
    StringFormatObjectType = 7,
};

// Record flags
constexpr quint16 kHeaderDual = 0x0001;
constexpr quint16 kSolidColor = 0x8000;  // the brush id is a colour
constexpr quint16 kCompressed = 0x4000;  // 16-bit integer coordinates
constexpr quint16 kRelative = 0x0800;    // coordinates relative to the previous point
constexpr quint16 kClosedLines = 0x2000; // DrawLines: close the figure
constexpr quint16 kAppend = 0x2000;      // transform records: multiply after the world
constexpr quint16 kObjectContinued = 0x8000;
constexpr quint16 kObjectIdMask = 0x00FF;
constexpr int kObjectTypeShift = 8;
constexpr quint16 kObjectTypeMask = 0x7F;
constexpr int kObjectSlots = 64;
constexpr qsizetype kMaxObjectBytes = qsizetype(64) * 1024 * 1024;
constexpr int kMaxStack = 4096;
constexpr qsizetype kMaxPoints = 1 << 20;
constexpr int kRecordHeaderSize = 12;
constexpr QRectF kEverywhere(-1e5, -1e5, 2e5, 2e5); // device units

enum Unit
{
    UnitWorld = 0,
    UnitDisplay = 1,
    UnitPixel = 2,
    UnitPoint = 3,
    UnitInch = 4,
    UnitDocument = 5,
    UnitMillimeter = 6,
};

// Device pixels per unit at `dpi`.
qreal unitFactor(quint32 unit, qreal dpi)
{
    switch (unit) {
    case UnitPoint:
        return dpi / 72;
    case UnitInch:
        return dpi;
    case UnitDocument:
        return dpi / 300;
    case UnitMillimeter:
        return dpi / kMmPerInch;
    default:
        return 1;
    }
}

bool finite(const QTransform &t)
{
    for (qreal v : {t.m11(), t.m12(), t.m21(), t.m22(), t.dx(), t.dy()})
        if (!std::isfinite(v) || std::abs(v) > 1e9)
            return false;
    return true;
}

QColor argb(quint32 value)
{
    return QColor::fromRgba(value);
}

// A position or factor along a gradient, 0 for what is no number.
qreal fraction(qreal v)
{
    return std::isfinite(v) ? std::clamp<qreal>(v, 0, 1) : 0;
}

// The bytes of a decoded image an object keeps.
qint64 heldBytes(const QBrush &brush)
{
    return brush.textureImage().sizeInBytes();
}

struct PenData
{
    qreal width = 0;
    QBrush brush;
    Qt::PenCapStyle cap = Qt::FlatCap;
    Qt::PenJoinStyle join = Qt::MiterJoin;
    qreal miter = 10;
    QList<qreal> dashes;
};

struct FontData
{
    qreal emSize = 12;
    quint32 unit = UnitWorld;
    qint32 style = 0;
    QString family;
};

// Text is drawn at this pixel size and scaled to its own, as fonts of a fraction of a unit do
// not render.
constexpr int kTextPixels = 100;

QFont textFont(const FontData &f)
{
    QFont font(f.family.isEmpty() ? QStringLiteral("Sans") : f.family);
    font.setPixelSize(kTextPixels);
    font.setBold(f.style & 1);
    font.setItalic(f.style & 2);
    font.setUnderline(f.style & 4);
    font.setStrikeOut(f.style & 8);
    return font;
}

// The em size in world units under `worldToDevice`.
qreal emInWorld(const FontData &f, qreal dpiY, const QTransform &worldToDevice)
{
    if (f.unit == UnitWorld || f.unit == UnitDisplay)
        return f.emSize;
    return f.emSize * unitFactor(f.unit, dpiY) / std::sqrt(std::abs(worldToDevice.determinant()));
}

struct FormatData
{
    quint32 flags = 0;
    quint32 align = 0;
    quint32 lineAlign = 0;
};

using PlusObject =
    std::variant<std::monostate, QBrush, PenData, QPainterPath, QImage, FontData, FormatData>;

struct GraphicsState
{
    QTransform world;
    std::optional<QPainterPath> clip; // device units
    qreal clipWork = 0;               // what applying the clip costs each drawing
    quint32 pageUnit = UnitDisplay;
    qreal pageScale = 1;
};

} // namespace

struct EmfPlusPlayer::State
{
    Canvas &canvas;
    QSizeF dpi{kScreenDpi, kScreenDpi};
    GraphicsState gs;
    std::vector<std::pair<quint32, GraphicsState>> stack; // saves and containers by id
    std::array<PlusObject, kObjectSlots> objects;
    QByteArray pending; // an object spread over several records
    quint32 pendingTotal = 0;

    explicit State(Canvas &c) : canvas(c) {}

    QTransform pageTransform() const
    {
        const qreal s = std::isfinite(gs.pageScale) && gs.pageScale > 0 ? gs.pageScale : 1;
        return QTransform::fromScale(unitFactor(gs.pageUnit, dpi.width()) * s,
                                     unitFactor(gs.pageUnit, dpi.height()) * s);
    }
    QTransform worldToDevice() const { return gs.world * pageTransform(); }

    void play(quint16 type, quint16 flags, QByteArrayView data);
    void object(quint16 flags, QByteArrayView data);
    PlusObject parseObject(int type, QByteArrayView data);
    QBrush brush(ByteReader &r);
    QBrush brushFor(quint16 flags, quint32 id) const;
    const PenData *pen(quint32 id) const;
    template<typename T> const T *get(quint32 id) const
    {
        return id < kObjectSlots ? std::get_if<T>(&objects[id]) : nullptr;
    }
    QPainterPath path(ByteReader &r);
    QImage image(ByteReader &r);
    QPolygonF points(ByteReader &r, quint32 count, quint16 flags);
    QRectF rectF(ByteReader &r);
    QRectF rect(ByteReader &r, quint16 flags);
    QTransform matrix(ByteReader &r);
    void transform(quint16 type, quint16 flags, ByteReader &r);
    void paint(const QPainterPath &world, const QBrush *fill, const PenData *stroke);
    void text(quint16 flags, ByteReader &r);
    void driverText(quint16 flags, ByteReader &r);
    void drawImage(quint16 type, quint16 flags, ByteReader &r);
    void clip(const QPainterPath &device, int mode);
    void draw(const QRectF &deviceBounds, qreal work, const std::function<void(QPainter &)> &how);
    void keep(int id, PlusObject object);
    void prepare(QPainter &p, const QTransform &worldToDevice) const;
};

namespace {

QBrush solid(quint32 color)
{
    return QBrush(argb(color));
}

} // namespace

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

QTransform EmfPlusPlayer::State::matrix(ByteReader &r)
{
    qreal m[6];
    for (qreal &v : m)
        v = r.f32();
    return QTransform(m[0], m[1], m[2], m[3], m[4], m[5]);
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

QBrush EmfPlusPlayer::State::brush(ByteReader &r)
{
    enum
    {
        Solid = 0,
        Hatch = 1,
        Texture = 2,
        PathGradient = 3,
        LinearGradient = 4
    };
    constexpr quint32 kHasTransform = 0x02, kPresetColors = 0x04, kBlendH = 0x08;
    r.u32(); // version
    const quint32 type = r.u32();
    switch (type) {
    case Solid:
        return solid(r.u32());
    case Hatch: {
        const quint32 style = r.u32();
        const QColor fore = argb(r.u32());
        // Qt's own hatches stand in for the first six of GDI+'s many.
        static constexpr Qt::BrushStyle kHatches[] = {Qt::HorPattern,   Qt::VerPattern,
                                                      Qt::FDiagPattern, Qt::BDiagPattern,
                                                      Qt::CrossPattern, Qt::DiagCrossPattern};
        return QBrush(fore, style < 6 ? kHatches[style] : Qt::Dense4Pattern);
    }
    case Texture: {
        const quint32 flags = r.u32();
        r.u32(); // wrap mode
        const QTransform t = (flags & kHasTransform) ? matrix(r) : QTransform();
        const QImage img = image(r);
        if (img.isNull())
            return QBrush(Qt::gray);
        QBrush b(img);
        if (finite(t))
            b.setTransform(t);
        return b;
    }
    case PathGradient: {
        // Drawn in the colour of its centre: a soft glow becomes a plain patch.
        r.u32(); // flags
        r.u32(); // wrap mode
        return solid(r.u32());
    }
    case LinearGradient: {
        const quint32 flags = r.u32();
        const quint32 wrap = r.u32();
        const QRectF box = rectF(r);
        const QColor start = argb(r.u32()), end = argb(r.u32());
        r.u32();
        r.u32();
        const QTransform t = (flags & kHasTransform) ? matrix(r) : QTransform();
        if (!std::isfinite(box.x() + box.y() + box.width() + box.height()))
            return QBrush(start);
        QLinearGradient g(box.topLeft(), QPointF(box.right(), box.top()));
        g.setColorAt(0, start);
        g.setColorAt(1, end);
        if (flags & (kPresetColors | kBlendH)) {
            const quint32 n = r.u32();
            if (n >= 2 && n <= 4096 && qint64(n) * 8 <= r.remaining()) {
                QList<qreal> positions;
                for (quint32 i = 0; i < n; ++i)
                    positions.append(r.f32());
                QGradientStops stops;
                for (quint32 i = 0; i < n; ++i) {
                    const qreal at = fraction(positions[i]);
                    if (flags & kPresetColors) {
                        stops.append({at, argb(r.u32())});
                    } else {
                        const qreal f = fraction(r.f32());
                        const auto mix = [f](int a, int b) { return int(a + (b - a) * f); };
                        stops.append({at, QColor(mix(start.red(), end.red()),
                                                 mix(start.green(), end.green()),
                                                 mix(start.blue(), end.blue()),
                                                 mix(start.alpha(), end.alpha()))});
                    }
                }
                if (r.ok() && std::isfinite(stops.first().first))
                    g.setStops(stops);
            }
        }
        g.setSpread(wrap == 4   ? QGradient::PadSpread
                    : wrap == 0 ? QGradient::RepeatSpread
                                : QGradient::ReflectSpread);
        QBrush b(g);
        if (finite(t))
            b.setTransform(t);
        return b;
    }
    default:
        r.fail();
        return {};
    }
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

PlusObject EmfPlusPlayer::State::parseObject(int type, QByteArrayView data)
{
    ByteReader r(data);
    switch (type) {
    case BrushObjectType: {
        QBrush b = brush(r);
        if (r.ok())
            return b;
        break;
    }
    case PenObjectType: {
        enum : quint32
        {
            Transform = 0x01,
            StartCap = 0x02,
            EndCap = 0x04,
            Join = 0x08,
            MiterLimit = 0x10,
            LineStyle = 0x20,
            DashedLineCap = 0x40,
            DashOffset = 0x80,
            DashedLine = 0x100,
            Alignment = 0x200,
            CompoundLine = 0x400,
            CustomStartCap = 0x800,
            CustomEndCap = 0x1000,
        };
        r.u32(); // version
        r.u32(); // type
        const quint32 flags = r.u32();
        r.u32(); // unit: widths are taken in world units
        PenData pen;
        pen.width = r.f32();
        if (flags & Transform)
            r.skip(24);
        if (flags & StartCap) {
            const qint32 cap = r.i32();
            pen.cap = cap == 2 ? Qt::RoundCap : cap == 1 ? Qt::SquareCap : Qt::FlatCap;
        }
        if (flags & EndCap)
            r.i32();
        if (flags & Join) {
            const quint32 join = r.u32();
            pen.join = join == 2 ? Qt::RoundJoin : join == 1 ? Qt::BevelJoin : Qt::MiterJoin;
        }
        if (flags & MiterLimit)
            pen.miter = r.f32();
        qint32 style = 0;
        if (flags & LineStyle)
            style = r.i32();
        if (flags & DashedLineCap)
            r.u32();
        if (flags & DashOffset)
            r.u32();
        if (flags & DashedLine) {
            const quint32 n = r.u32();
            if (n > 1024 || qint64(n) * 4 > r.remaining())
                break;
            for (quint32 i = 0; i < n; ++i)
                pen.dashes.append(std::max<qreal>(r.f32(), 0.1));
        }
        static const QList<qreal> kDashStyles[] = {
            {}, {3, 1}, {1, 1}, {3, 1, 1, 1}, {3, 1, 1, 1, 1, 1}};
        if (pen.dashes.isEmpty() && style > 0 && style < 5)
            pen.dashes = kDashStyles[style];
        if (flags & Alignment)
            r.u32();
        for (quint32 bit : {quint32(CompoundLine), quint32(CustomStartCap), quint32(CustomEndCap)})
            if (flags & bit) {
                const quint32 n = r.u32();
                r.skip(bit == CompoundLine ? qint64(n) * 4 : qint64(n));
            }
        pen.brush = brush(r);
        if (r.ok())
            return pen;
        break;
    }
    case PathObjectType: {
        QPainterPath p = path(r);
        if (r.ok())
            return p;
        break;
    }
    case ImageObjectType: {
        QImage img = image(r);
        if (!img.isNull())
            return img;
        break;
    }
    case FontObjectType: {
        r.u32(); // version
        FontData f;
        f.emSize = r.f32();
        f.unit = r.u32();
        f.style = r.i32();
        r.u32();
        const quint32 length = r.u32();
        if (length > 256)
            break;
        for (quint32 i = 0; i < length; ++i)
            f.family.append(QChar(r.u16()));
        f.family.truncate(f.family.indexOf(QChar(0))); // -1 keeps all
        if (r.ok())
            return f;
        break;
    }
    case StringFormatObjectType: {
        r.u32(); // version
        FormatData f;
        f.flags = r.u32();
        r.u32(); // language
        f.align = r.u32();
        f.lineAlign = r.u32();
        if (r.ok())
            return f;
        break;
    }
    default:
        break;
    }
    return {};
}

void EmfPlusPlayer::State::object(quint16 flags, QByteArrayView data)
{
    const int id = flags & kObjectIdMask;
    const int type = (flags >> kObjectTypeShift) & kObjectTypeMask;
    if (id >= kObjectSlots)
        return;
    if (flags & kObjectContinued) {
        // Large objects come in pieces, each led by the whole object's size.
        ByteReader r(data);
        const quint32 total = r.u32();
        if (!r.ok() || total > kMaxObjectBytes)
            return;
        if (pending.isEmpty())
            pendingTotal = total;
        pending.append(data.sliced(4).toByteArray());
        if (pending.size() > kMaxObjectBytes) {
            pending.clear();
        } else if (pending.size() >= qsizetype(pendingTotal)) { // some writers flag every piece
            keep(id, parseObject(type, pending));
            pending.clear();
        }
        return;
    }
    if (!pending.isEmpty()) {
        pending.append(data.toByteArray());
        keep(id, parseObject(type, pending));
        pending.clear();
        return;
    }
    keep(id, parseObject(type, data));
}

// Decoded images count against the picture's memory for as long as they are kept.
void EmfPlusPlayer::State::keep(int id, PlusObject object)
{
    const auto held = [](const PlusObject &o) -> qint64 {
        if (const auto *image = std::get_if<QImage>(&o))
            return image->sizeInBytes();
        if (const auto *brush = std::get_if<QBrush>(&o))
            return heldBytes(*brush);
        if (const auto *pen = std::get_if<PenData>(&o))
            return heldBytes(pen->brush);
        return 0;
    };
    canvas.budget().release(held(objects[id]));
    canvas.budget().hold(held(object));
    objects[id] = std::move(object);
}

// Every drawing pays for applying the clip path as well, which the painter fills anew each time.
void EmfPlusPlayer::State::draw(const QRectF &deviceBounds, qreal work,
                                const std::function<void(QPainter &)> &how)
{
    canvas.drawDevice(deviceBounds, how, work + (gs.clip ? gs.clipWork : 0));
}

QBrush EmfPlusPlayer::State::brushFor(quint16 flags, quint32 id) const
{
    if (flags & kSolidColor)
        return solid(id);
    if (id < kObjectSlots)
        if (const auto *b = std::get_if<QBrush>(&objects[id]))
            return *b;
    return Qt::NoBrush;
}

const PenData *EmfPlusPlayer::State::pen(quint32 id) const
{
    return id < kObjectSlots ? std::get_if<PenData>(&objects[id]) : nullptr;
}

void EmfPlusPlayer::State::prepare(QPainter &p, const QTransform &worldToDevice) const
{
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::SmoothPixmapTransform);
    if (gs.clip)
        p.setClipPath(*gs.clip, Qt::IntersectClip);
    p.setTransform(worldToDevice, true);
}

void EmfPlusPlayer::State::paint(const QPainterPath &world, const QBrush *fill,
                                 const PenData *stroke)
{
    const QTransform t = worldToDevice();
    if (!finite(t) || world.isEmpty())
        return;
    const qreal margin = stroke ? stroke->width * std::sqrt(std::abs(t.determinant())) : 0;
    const QPainterPath device = t.map(world);
    const QRectF bounds = device.controlPointRect().adjusted(-margin, -margin, margin, margin);
    draw(bounds, canvas.deviceShapeWork(device, fill, stroke, margin), [&](QPainter &p) {
        prepare(p, t);
        if (fill)
            p.fillPath(world, *fill);
        if (stroke) {
            QPen pen(stroke->brush, stroke->width, Qt::SolidLine, stroke->cap, stroke->join);
            pen.setMiterLimit(stroke->miter);
            if (stroke->width <= 0)
                pen.setCosmetic(true);
            if (!stroke->dashes.isEmpty() && stroke->dashes.size() % 2 == 0)
                pen.setDashPattern(stroke->dashes);
            p.strokePath(world, pen);
        }
    });
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
    if (mode == Replace || !gs.clip) {
        if (mode == Replace || mode == Intersect || mode == Union)
            gs.clip = device;
        return;
    }
    switch (mode) {
    case Intersect:
        gs.clip = gs.clip->intersected(device);
        break;
    case Union:
        gs.clip = gs.clip->united(device);
        break;
    case Exclude:
        gs.clip = gs.clip->subtracted(device);
        break;
    default:
        break;
    }
}

void EmfPlusPlayer::State::transform(quint16 type, quint16 flags, ByteReader &r)
{
    QTransform m;
    switch (type) {
    case SetWorldTransform:
        m = matrix(r);
        if (r.ok() && finite(m))
            gs.world = m;
        return;
    case ResetWorldTransform:
        gs.world = QTransform();
        return;
    case MultiplyWorldTransform:
        m = matrix(r);
        break;
    case TranslateWorldTransform: {
        const float dx = r.f32(), dy = r.f32();
        m = QTransform::fromTranslate(dx, dy);
        break;
    }
    case ScaleWorldTransform: {
        const float sx = r.f32(), sy = r.f32();
        m = QTransform::fromScale(sx, sy);
        break;
    }
    case RotateWorldTransform:
        m.rotate(r.f32());
        break;
    }
    if (!r.ok() || !finite(m))
        return;
    const QTransform w = (flags & kAppend) ? gs.world * m : m * gs.world;
    if (finite(w))
        gs.world = w;
}

void EmfPlusPlayer::State::text(quint16 flags, ByteReader &r)
{
    const quint32 brushId = r.u32(), formatId = r.u32(), length = r.u32();
    const QRectF layout = rectF(r);
    if (!r.ok() || qint64(length) * 2 > r.remaining())
        return;
    QString str;
    for (quint32 i = 0; i < length; ++i)
        str.append(QChar(r.u16()));
    const auto *font = get<FontData>(flags & kObjectIdMask);
    if (!font || str.isEmpty())
        return;
    FormatData format;
    if (formatId < kObjectSlots)
        if (const auto *f = std::get_if<FormatData>(&objects[formatId]))
            format = *f;
    const QBrush color = brushFor(flags, brushId);
    const QTransform t = worldToDevice();
    const qreal em = emInWorld(*font, dpi.height(), t);
    if (!finite(t) || !std::isfinite(em) || em <= 0 || !std::isfinite(kTextPixels / em))
        return;
    const qreal k = kTextPixels / em;
    const QRectF bounds =
        t.mapRect(layout.isEmpty() ? QRectF(layout.topLeft(), QSizeF(em * length, em)) : layout);
    draw(bounds.adjusted(-em, -em, em, em), kCostPerCharacter * qreal(length), [&](QPainter &p) {
        prepare(p, t);
        p.scale(1 / k, 1 / k);
        p.setFont(textFont(*font));
        p.setPen(QPen(color, 0));
        constexpr quint32 kNoWrap = 0x1000;
        const Qt::Alignment h = format.align == 1   ? Qt::AlignHCenter
                                : format.align == 2 ? Qt::AlignRight
                                                    : Qt::AlignLeft;
        const Qt::Alignment v = format.lineAlign == 1   ? Qt::AlignVCenter
                                : format.lineAlign == 2 ? Qt::AlignBottom
                                                        : Qt::AlignTop;
        const QRectF box(layout.x() * k, layout.y() * k, layout.width() * k, layout.height() * k);
        int options = int(h | v);
        if (layout.width() <= 0 || layout.height() <= 0)
            options |= Qt::TextDontClip;
        else if (!(format.flags & kNoWrap))
            options |= Qt::TextWordWrap;
        p.drawText(box, options, str);
    });
}

void EmfPlusPlayer::State::driverText(quint16 flags, ByteReader &r)
{
    constexpr quint32 kCmapLookup = 0x1;
    const quint32 brushId = r.u32(), options = r.u32(), hasMatrix = r.u32(), count = r.u32();
    if (!r.ok() || !(options & kCmapLookup) || count > 65536 || qint64(count) * 10 > r.remaining())
        return; // glyph indices of a font we may not have: nothing right to draw
    QString str;
    for (quint32 i = 0; i < count; ++i)
        str.append(QChar(r.u16()));
    QPolygonF at;
    for (quint32 i = 0; i < count; ++i) {
        const float x = r.f32(), y = r.f32();
        at.append(QPointF(x, y));
    }
    const QTransform extra = hasMatrix ? matrix(r) : QTransform();
    const auto *font = get<FontData>(flags & kObjectIdMask);
    if (!r.ok() || !font || str.isEmpty() || !finite(extra))
        return;
    const QBrush color = brushFor(flags, brushId);
    const QTransform t = extra * worldToDevice();
    const qreal em = emInWorld(*font, dpi.height(), t);
    if (!finite(t) || !std::isfinite(em) || em <= 0 || !std::isfinite(kTextPixels / em))
        return;
    const qreal k = kTextPixels / em;
    draw(t.map(at).boundingRect().adjusted(-em * 2, -em * 2, em * 2, em * 2),
         kCostPerCharacter * qreal(count), [&](QPainter &p) {
             prepare(p, t);
             p.scale(1 / k, 1 / k);
             p.setFont(textFont(*font));
             p.setPen(QPen(color, 0));
             for (qsizetype i = 0; i < str.size(); ++i)
                 p.drawText(at[i] * k, QString(str[i]));
         });
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

void EmfPlusPlayer::State::play(quint16 type, quint16 flags, QByteArrayView data)
{
    ByteReader r(data);
    const quint16 id = flags & kObjectIdMask;
    switch (type) {
    case Header: {
        r.u32(); // version
        r.u32(); // flags
        const quint32 dx = r.u32(), dy = r.u32();
        if (r.ok() && dx > 0 && dy > 0 && dx < 100000 && dy < 100000)
            dpi = QSizeF(dx, dy);
        break;
    }
    case Object:
        object(flags, data);
        break;
    case Clear: {
        const QBrush b = solid(r.u32());
        draw(kEverywhere, 0, [&](QPainter &p) {
            if (gs.clip)
                p.setClipPath(*gs.clip, Qt::IntersectClip);
            p.setCompositionMode(QPainter::CompositionMode_Source);
            p.fillRect(kEverywhere, b);
        });
        break;
    }
    case FillRects:
    case DrawRects: {
        const QBrush b = type == FillRects ? brushFor(flags, r.u32()) : QBrush();
        const quint32 count = r.u32();
        if (count > kMaxPoints || qint64(count) * 8 > r.remaining())
            break;
        QPainterPath p;
        for (quint32 i = 0; i < count; ++i)
            p.addRect(rect(r, flags));
        if (r.ok())
            paint(p, type == FillRects ? &b : nullptr, type == DrawRects ? pen(id) : nullptr);
        break;
    }
    case FillPolygon:
    case DrawLines:
    case DrawBeziers:
    case FillClosedCurve:
    case DrawClosedCurve:
    case DrawCurve: {
        const bool fill = type == FillPolygon || type == FillClosedCurve;
        const QBrush b = fill ? brushFor(flags, r.u32()) : QBrush();
        if (type == FillClosedCurve || type == DrawClosedCurve || type == DrawCurve)
            r.f32(); // tension: the curve is drawn through its points with straight lines
        if (type == DrawCurve) {
            r.u32(); // offset
            r.u32(); // segments
        }
        const QPolygonF pts = points(r, r.u32(), flags);
        if (!r.ok() || pts.isEmpty())
            break;
        QPainterPath p(pts.first());
        if (type == DrawBeziers) {
            for (qsizetype i = 1; i + 2 < pts.size(); i += 3)
                p.cubicTo(pts[i], pts[i + 1], pts[i + 2]);
        } else {
            for (qsizetype i = 1; i < pts.size(); ++i)
                p.lineTo(pts[i]);
            if (fill || type == DrawClosedCurve || (type == DrawLines && (flags & kClosedLines)))
                p.closeSubpath();
        }
        if (fill)
            p.setFillRule(Qt::WindingFill);
        paint(p, fill ? &b : nullptr, fill ? nullptr : pen(id));
        break;
    }
    case FillEllipse:
    case DrawEllipse:
    case FillPie:
    case DrawPie:
    case DrawArc: {
        const bool fill = type == FillEllipse || type == FillPie;
        const QBrush b = fill ? brushFor(flags, r.u32()) : QBrush();
        qreal start = 0, sweep = 360;
        if (type == FillPie || type == DrawPie || type == DrawArc) {
            start = r.f32();
            sweep = r.f32();
        }
        const QRectF box = rect(r, flags);
        if (!r.ok() || !std::isfinite(start) || !std::isfinite(sweep))
            break;
        QPainterPath p;
        if (type == FillEllipse || type == DrawEllipse) {
            p.addEllipse(box);
        } else {
            // GDI+ angles run clockwise on screen, Qt's counter-clockwise.
            p.arcMoveTo(box, -start);
            p.arcTo(box, -start, -sweep);
            if (type != DrawArc) {
                p.lineTo(box.center());
                p.closeSubpath();
            }
        }
        paint(p, fill ? &b : nullptr, fill ? nullptr : pen(id));
        break;
    }
    case FillPath:
    case DrawPath: {
        const quint32 other = r.u32();
        const auto *p = get<QPainterPath>(id);
        if (!r.ok() || !p)
            break;
        if (type == FillPath) {
            const QBrush b = brushFor(flags, other);
            paint(*p, &b, nullptr);
        } else {
            paint(*p, nullptr, pen(other));
        }
        break;
    }
    case DrawImage:
    case DrawImagePoints:
        drawImage(type, flags, r);
        break;
    case DrawString:
        text(flags, r);
        break;
    case DrawDriverString:
        driverText(flags, r);
        break;
    case Save:
    case BeginContainer:
    case BeginContainerNoParams: {
        QRectF dest, source;
        if (type == BeginContainer) {
            dest = rectF(r);
            source = rectF(r);
        }
        const quint32 index = r.u32();
        if (!r.ok() || stack.size() >= kMaxStack)
            break;
        stack.emplace_back(index, gs);
        if (type == BeginContainer && source.width() != 0 && source.height() != 0) {
            // The container's source rectangle maps onto its destination, in the page unit
            // given by the record's flags.
            QTransform m;
            m.translate(dest.x(), dest.y());
            const qreal unit = unitFactor(flags & 0xFF, dpi.width()) /
                               unitFactor(gs.pageUnit, dpi.width()) /
                               (gs.pageScale > 0 ? gs.pageScale : 1);
            m.scale(dest.width() / source.width() * unit, dest.height() / source.height() * unit);
            m.translate(-source.x(), -source.y());
            if (finite(m * gs.world))
                gs.world = m * gs.world;
        }
        break;
    }
    case Restore:
    case EndContainer: {
        const quint32 index = r.u32();
        for (auto it = stack.rbegin(); it != stack.rend(); ++it) {
            if (it->first == index) {
                gs = it->second;
                stack.erase(std::prev(it.base()), stack.end());
                break;
            }
        }
        break;
    }
    case SetWorldTransform:
    case ResetWorldTransform:
    case MultiplyWorldTransform:
    case TranslateWorldTransform:
    case ScaleWorldTransform:
    case RotateWorldTransform:
        transform(type, flags, r);
        break;
    case SetPageTransform: {
        const float scale = r.f32();
        if (r.ok() && std::isfinite(scale) && scale > 0 && scale < 1e6) {
            gs.pageUnit = flags & 0xFF;
            gs.pageScale = scale;
        }
        break;
    }
    case ResetClip:
        gs.clip.reset();
        break;
    case SetClipRect:
    case SetClipPath: {
        const int mode = (flags >> 8) & 0xF;
        QPainterPath world;
        if (type == SetClipRect) {
            world.addRect(rectF(r));
        } else if (const auto *p = get<QPainterPath>(id)) {
            world = *p;
        } else {
            break;
        }
        const QTransform t = worldToDevice();
        if (r.ok() && finite(t))
            clip(t.map(world), mode);
        break;
    }
    default:
        break; // hints, rendering origin, regions and the rest draw nothing of their own
    }
}

void scanEmfPlus(QByteArrayView comment, EmfPlusTraits &traits)
{
    ByteReader r(comment);
    r.u32(); // data size
    if (r.u32() != kEmfPlusCommentId || !r.ok())
        return;
    traits.present = true;
    const quint16 type = r.u16(), flags = r.u16();
    if (r.ok() && type == Header)
        traits.dual = flags & kHeaderDual;
}

EmfPlusPlayer::EmfPlusPlayer(Canvas &canvas) : m_state(std::make_unique<State>(canvas)) {}

EmfPlusPlayer::~EmfPlusPlayer() = default;

void EmfPlusPlayer::playComment(QByteArrayView comment)
{
    ByteReader r(comment);
    const quint32 size = r.u32();
    if (r.u32() != kEmfPlusCommentId || !r.ok() || size < 4 || size > r.remaining() + 4)
        return;
    ByteReader records(comment.sliced(8, size - 4));
    while (records.remaining() >= kRecordHeaderSize && !m_state->canvas.failed()) {
        const quint16 type = records.u16(), flags = records.u16();
        const quint32 recordSize = records.u32(), dataSize = records.u32();
        if (recordSize < kRecordHeaderSize || dataSize > recordSize - kRecordHeaderSize ||
            recordSize - kRecordHeaderSize > records.remaining())
            return;
        const QByteArrayView data = records.bytes(recordSize - kRecordHeaderSize);
        m_state->play(type, flags, data.first(dataSize));
    }
}

} // namespace metafile::detail
