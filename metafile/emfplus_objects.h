#pragma once

// What the parts of the EMF+ player share: the records' numbers and flags, the objects it keeps
// and the state it plays them with.

#include "bytes/byte_reader.h"
#include "canvas.h"
#include "emfplus.h"

#include <QBrush>
#include <QImage>
#include <QPainterPath>
#include <QPolygonF>
#include <QRegion>
#include <QTransform>
#include <array>
#include <cmath>
#include <functional>
#include <memory>
#include <optional>
#include <variant>
#include <vector>

namespace metafile::detail {

using bytes::ByteReader;

// The parts' own names, kept out of the rest of the player.
namespace emfplus {

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
    FillRegion = 0x4013,
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
    SetClipRegion = 0x4034,
    OffsetClip = 0x4035,
    DrawDriverString = 0x4036,
};

enum ObjectType
{
    BrushObjectType = 1,
    PenObjectType = 2,
    PathObjectType = 3,
    RegionObjectType = 4,
    ImageObjectType = 5,
    FontObjectType = 6,
    StringFormatObjectType = 7,
};

// Record flags
inline constexpr quint16 kHeaderDual = 0x0001;
inline constexpr quint16 kSolidColor = 0x8000;  // the brush id is a colour
inline constexpr quint16 kCompressed = 0x4000;  // 16-bit integer coordinates
inline constexpr quint16 kRelative = 0x0800;    // coordinates relative to the previous point
inline constexpr quint16 kClosedLines = 0x2000; // DrawLines: close the figure
inline constexpr quint16 kWinding = 0x2000;     // fills: the winding rule, not the alternate one
inline constexpr quint16 kAppend = 0x2000;      // transform records: multiply after the world
inline constexpr quint16 kObjectContinued = 0x8000;
inline constexpr quint16 kObjectIdMask = 0x00FF;
inline constexpr int kObjectTypeShift = 8;
inline constexpr quint16 kObjectTypeMask = 0x7F;
inline constexpr int kObjectSlots = 64;
inline constexpr qsizetype kMaxObjectBytes = qsizetype(64) * 1024 * 1024;
inline constexpr int kMaxStack = 4096;
inline constexpr qsizetype kMaxPoints = 1 << 20;
inline constexpr int kRecordHeaderSize = 12;
inline constexpr QRectF kEverywhere(-1e5, -1e5, 2e5, 2e5); // device units

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
inline qreal unitFactor(quint32 unit, qreal dpi)
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

inline bool finite(const QTransform &t)
{
    for (qreal v : {t.m11(), t.m12(), t.m21(), t.m22(), t.dx(), t.dy()})
        if (!std::isfinite(v) || std::abs(v) > 1e9)
            return false;
    return true;
}

inline QColor argb(quint32 value)
{
    return QColor::fromRgba(value);
}

inline QBrush solid(quint32 color)
{
    return QBrush(argb(color));
}

// A path gradient: the centre colour blends towards the colours of the boundary along every
// ray from the centre. Positions of the blend run from the boundary (0) to the centre (1).
struct PathGradient
{
    QPolygonF boundary; // world units
    QPointF centre;
    QColor centreColor;
    QList<QColor> surround; // one per boundary point, the last standing for the rest
    QGradientStops presets; // colours by position, in place of the centre and surround ones
    QList<std::pair<qreal, qreal>> factors; // the centre colour's share by position
    qreal focus = 0; // the share of the way out that stays in the centre colour
};

struct BrushData
{
    BrushData() = default;
    BrushData(const QBrush &b, const QColor &back = {},
              std::shared_ptr<const PathGradient> g = nullptr)
        : brush(b), background(back), gradient(std::move(g))
    {}

    QBrush brush;      // for a path gradient, where one colour must do: its centre colour
    QColor background; // under a hatch
    std::shared_ptr<const PathGradient> gradient;
};

// A line cap drawn as a figure of its own, in units of the pen's width, with the line's end at
// the origin and +y pointing on past it.
struct CapShape
{
    QPainterPath fill, stroke;
    qreal inset = 0; // how far the line stops short of its end
};

struct PenData
{
    qreal width = 0;
    QBrush brush;
    Qt::PenCapStyle cap = Qt::FlatCap;
    Qt::PenJoinStyle join = Qt::MiterJoin;
    qreal miter = 10;
    QList<qreal> dashes;
    std::optional<CapShape> startCap, endCap;
};

// Regions keep their node tree as stored and are worked out where used, under the transforms
// then in force.
struct RegionData
{
    QByteArray nodes;
};

// A metafile drawn as an image, played when drawn.
struct NestedMetafile
{
    QByteArray data;
};

struct FontData
{
    qreal emSize = 12;
    quint32 unit = UnitWorld;
    qint32 style = 0;
    QString family;
};

struct FormatData
{
    quint32 flags = 0;
    quint32 align = 0;
    quint32 lineAlign = 0;
};

using PlusObject = std::variant<std::monostate, BrushData, PenData, QPainterPath, QImage, FontData,
                                FormatData, RegionData, NestedMetafile>;

struct GraphicsState
{
    QTransform world;     // within the innermost container
    QTransform container; // the containers' own placement, applied after the world transform
    std::optional<QPainterPath> clip; // device units
    qreal clipWork = 0;               // what applying the clip costs each drawing
    quint32 pageUnit = UnitDisplay;
    qreal pageScale = 1;
};

// `path` with its ends drawn back under the caps that ask for it.
QPainterPath shortened(const QPainterPath &path, const PenData &pen, qreal width);
// How far a pen's caps reach from the line's end, in pen widths.
qreal capReach(const PenData &pen);

} // namespace emfplus

using namespace emfplus;

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
    QTransform worldToDevice() const { return gs.world * gs.container * pageTransform(); }

    void play(quint16 type, quint16 flags, QByteArrayView data);
    void object(quint16 flags, QByteArrayView data);
    PlusObject parseObject(int type, QByteArrayView data);
    BrushData brush(ByteReader &r);
    std::shared_ptr<const PathGradient> pathGradient(ByteReader &r);
    BrushData brushFor(quint16 flags, quint32 id) const;
    std::optional<CapShape> customCap(ByteReader &r);
    std::optional<PenData> readPen(ByteReader &r);
    std::optional<FontData> readFont(ByteReader &r);
    std::optional<QRegion> region(ByteReader &r, const QTransform &toImage, int depth);
    std::optional<QRegion> region(quint32 id);
    QBrush shaded(QPainter &p, const QPainterPath &world, const PathGradient &g);
    void drawMetafile(const NestedMetafile &m, const QRectF &source, const QTransform &place);
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
    // `pixels`, when given, clips in image pixels.
    void paint(const QPainterPath &world, const BrushData *fill, const PenData *stroke,
               const QRegion *pixels = nullptr);
    void drawCaps(QPainter &p, const QPainterPath &world, const PenData &pen, qreal width) const;
    void text(quint16 flags, ByteReader &r);
    void driverText(quint16 flags, ByteReader &r);
    void drawImage(quint16 type, quint16 flags, ByteReader &r);
    void clip(const QPainterPath &device, int mode);
    void draw(const QRectF &deviceBounds, qreal work, const std::function<void(QPainter &)> &how);
    void keep(int id, PlusObject object);
    void prepare(QPainter &p, const QTransform &worldToDevice) const;
};

} // namespace metafile::detail
