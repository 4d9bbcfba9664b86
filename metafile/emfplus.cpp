// EMF+ player: the GDI+ records a sign needs (shapes, paths and curves, pens with their caps,
// solid, hatched, texture and gradient brushes, transforms with their save stack and containers,
// clipping and regions, bitmaps and metafiles as images, and text).
#include "emfplus.h"

#include "bytes/byte_reader.h"
#include "canvas.h"
#include "dib.h"
#include "players.h"
#include "text.h"

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
constexpr quint16 kHeaderDual = 0x0001;
constexpr quint16 kSolidColor = 0x8000;  // the brush id is a colour
constexpr quint16 kCompressed = 0x4000;  // 16-bit integer coordinates
constexpr quint16 kRelative = 0x0800;    // coordinates relative to the previous point
constexpr quint16 kClosedLines = 0x2000; // DrawLines: close the figure
constexpr quint16 kWinding = 0x2000;     // fills: the winding rule, not the alternate one
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

constexpr qreal kDefaultTension = 0.5;

// GDI+'s curves: cardinal splines through `pts`, from point `first` on for `segments` segments,
// as Bezier segments whose tangent at each point runs parallel to the line between its
// neighbours, `tension` / 3 of that line long.
QPainterPath cardinalSpline(const QPolygonF &pts, qreal tension, bool closed, qsizetype first,
                            qsizetype segments)
{
    const qsizetype n = pts.size();
    const auto at = [&](qsizetype i) {
        return closed ? pts[(i % n + n) % n] : pts[std::clamp<qsizetype>(i, 0, n - 1)];
    };
    const qreal k = tension / 3;
    QPainterPath out(at(first));
    for (qsizetype i = first; i < first + segments; ++i)
        out.cubicTo(at(i) + k * (at(i + 1) - at(i - 1)), at(i + 1) - k * (at(i + 2) - at(i)),
                    at(i + 1));
    if (closed)
        out.closeSubpath();
    return out;
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

// A cap's figure stays within a thousand pen widths of the line's end.
bool saneCap(const QPainterPath &cap)
{
    constexpr qreal kReach = 1000;
    const QRectF b = cap.controlPointRect();
    return cap.isEmpty() || (std::isfinite(b.width()) && std::isfinite(b.height()) &&
                             QRectF(-kReach, -kReach, 2 * kReach, 2 * kReach).contains(b));
}

// GDI+'s triangle and anchor caps as figures, in pen widths; nothing for the caps Qt's pen draws.
std::optional<CapShape> anchorCap(qint32 cap)
{
    enum
    {
        Triangle = 3,
        SquareAnchor = 0x11,
        RoundAnchor = 0x12,
        DiamondAnchor = 0x13,
        ArrowAnchor = 0x14
    };
    CapShape out;
    switch (cap) {
    case Triangle:
        out.fill.addPolygon(QPolygonF({{-0.5, 0}, {0, 0.5}, {0.5, 0}}));
        break;
    case SquareAnchor:
        out.fill.addRect(-1, -1, 2, 2);
        break;
    case RoundAnchor:
        out.fill.addEllipse(QPointF(0, 0), 1, 1);
        break;
    case DiamondAnchor:
        out.fill.addPolygon(QPolygonF({{0, -1}, {1, 0}, {0, 1}, {-1, 0}}));
        break;
    case ArrowAnchor:
        out.fill.addPolygon(QPolygonF({{0, 0}, {-1, -2}, {1, -2}}));
        out.inset = 1;
        break;
    default:
        return {};
    }
    out.fill.closeSubpath();
    return out;
}

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
    QTransform worldToDevice() const { return gs.world * gs.container * pageTransform(); }

    void play(quint16 type, quint16 flags, QByteArrayView data);
    void object(quint16 flags, QByteArrayView data);
    PlusObject parseObject(int type, QByteArrayView data);
    BrushData brush(ByteReader &r);
    std::shared_ptr<const PathGradient> pathGradient(ByteReader &r);
    BrushData brushFor(quint16 flags, quint32 id) const;
    std::optional<CapShape> customCap(ByteReader &r);
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

namespace {

QBrush solid(quint32 color)
{
    return QBrush(argb(color));
}

struct Rgba
{
    float r = 0, g = 0, b = 0, a = 0;

    explicit Rgba(const QColor &c) : r(c.redF()), g(c.greenF()), b(c.blueF()), a(c.alphaF()) {}
    Rgba mixed(const Rgba &o, float w) const
    {
        Rgba out = *this;
        out.r += (o.r - r) * w;
        out.g += (o.g - g) * w;
        out.b += (o.b - b) * w;
        out.a += (o.a - a) * w;
        return out;
    }
    QRgb premultiplied() const
    {
        const auto c = [](float v) { return int(std::clamp(v, 0.0f, 1.0f) * 255 + 0.5f); };
        return qPremultiply(qRgba(c(r), c(g), c(b), c(a)));
    }
};

// Calls `visit(index, at, outward, start)` for both ends of every open figure of `path`: the
// element at the end, where it lies, and the way out to it from the figure's nearest other point.
template<typename Visit> void forEachEnd(const QPainterPath &path, Visit visit)
{
    const int n = path.elementCount();
    for (int first = 0; first < n;) {
        int next = first + 1;
        while (next < n && !path.elementAt(next).isMoveTo())
            ++next;
        const int last = next - 1;
        const QPointF start = path.elementAt(first), end = path.elementAt(last);
        if (last > first && start != end) {
            for (int i = first + 1; i <= last; ++i) {
                if (const QPointF p = path.elementAt(i); p != start) {
                    visit(first, start, start - p, true);
                    break;
                }
            }
            for (int i = last - 1; i >= first; --i) {
                if (const QPointF p = path.elementAt(i); p != end) {
                    visit(last, end, end - p, false);
                    break;
                }
            }
        }
        first = next;
    }
}

// `path` with its ends drawn back under the caps that ask for it.
QPainterPath shortened(const QPainterPath &path, const PenData &pen, qreal width)
{
    QPainterPath out = path;
    forEachEnd(path, [&](int index, QPointF at, QPointF outward, bool start) {
        const auto &cap = start ? pen.startCap : pen.endCap;
        const qreal length = std::hypot(outward.x(), outward.y());
        if (!cap || !(cap->inset > 0) || !(length > 0))
            return;
        const QPointF moved = at - outward / length * std::min(cap->inset * width, length / 2);
        out.setElementPositionAt(index, moved.x(), moved.y());
    });
    return out;
}

// How far a pen's caps reach from the line's end, in pen widths.
qreal capReach(const PenData &pen)
{
    qreal reach = 0;
    for (const auto &cap : {pen.startCap, pen.endCap}) {
        if (!cap)
            continue;
        const QRectF b = cap->fill.controlPointRect() | cap->stroke.controlPointRect();
        reach = std::max({reach, std::abs(b.left()), std::abs(b.right()), std::abs(b.top()),
                          std::abs(b.bottom())});
    }
    return reach;
}

// Piecewise linear through `points` (position, value), level beyond its ends.
qreal interpolate(const QList<std::pair<qreal, qreal>> &points, qreal at)
{
    if (points.isEmpty())
        return at;
    if (at <= points.first().first)
        return points.first().second;
    for (qsizetype i = 1; i < points.size(); ++i) {
        const auto [x0, y0] = points[i - 1];
        const auto [x1, y1] = points[i];
        if (at <= x1)
            return x1 > x0 ? y0 + (y1 - y0) * (at - x0) / (x1 - x0) : y1;
    }
    return points.last().second;
}

// The colours of `g` over `area` of the image, `worldToImage` placing it. Each edge of the
// boundary makes a triangle with the centre, where a pixel's barycentric weights tell how far
// out it lies and where along the edge. Pixels just outside the boundary take the colour of
// their neighbour inside, for the anti-aliased edge of a fill.
QImage shadePathGradient(const PathGradient &g, const QTransform &worldToImage, const QRect &area,
                         Budget &budget)
{
    constexpr int kSteps = 256;
    constexpr int kEdgePasses = 2;
    const QPointF c = worldToImage.map(g.centre) - area.topLeft();
    const QPolygonF boundary = worldToImage.map(g.boundary).translated(-area.topLeft());
    // Each triangle costs the rows and pixels of its box within the area, a pixel worked out
    // here as much as Qt takes to paint a dozen.
    constexpr qreal kCostPerPixel = 16;
    qreal work = qreal(kEdgePasses + 1) * area.width() * area.height();
    const QRectF within(QPointF(0, 0), area.size());
    for (qsizetype i = 0; i < boundary.size(); ++i) {
        const QRectF box = QPolygonF({c, boundary[i], boundary[(i + 1) % boundary.size()]})
                               .boundingRect()
                               .intersected(within);
        work += box.height() + kCostPerPixel * box.width() * box.height();
    }
    QImage out;
    if (!budget.charge(work) ||
        (out = QImage(area.size(), QImage::Format_ARGB32_Premultiplied)).isNull())
        return {};
    out.fill(Qt::transparent);
    const int w = out.width(), h = out.height();
    std::vector<bool> covered(size_t(w) * size_t(h));
    const Rgba centre(g.centreColor);
    // The centre colour's share, or the preset colour, by how far out a pixel lies.
    std::array<float, kSteps> share{};
    std::vector<QRgb> preset;
    for (int k = 0; k < kSteps; ++k) {
        const qreal outward = qreal(k) / (kSteps - 1);
        const qreal t = outward <= g.focus ? 0 : (outward - g.focus) / (1 - g.focus);
        const qreal at = 1 - t; // blend positions run from the boundary to the centre
        share[size_t(k)] = float(interpolate(g.factors, at));
        if (g.presets.isEmpty())
            continue;
        Rgba color(g.presets.first().second);
        for (qsizetype i = 1; i < g.presets.size(); ++i) {
            const auto &[x0, c0] = g.presets[i - 1];
            const auto &[x1, c1] = g.presets[i];
            if (at > x1) {
                color = Rgba(c1);
            } else {
                if (at >= x0)
                    color =
                        x1 > x0 ? Rgba(c0).mixed(Rgba(c1), float((at - x0) / (x1 - x0))) : Rgba(c1);
                break;
            }
        }
        preset.push_back(color.premultiplied());
    }
    const qsizetype n = boundary.size();
    const auto surround = [&](qsizetype i) {
        return Rgba(g.surround[std::min(i % n, g.surround.size() - 1)]);
    };
    for (qsizetype i = 0; i < n; ++i) {
        const QPointF e1 = boundary[i] - c, e2 = boundary[(i + 1) % n] - c;
        const qreal det = e1.x() * e2.y() - e1.y() * e2.x();
        if (!(std::abs(det) > 1e-9) || !std::isfinite(det))
            continue;
        const Rgba s1 = surround(i), s2 = surround(i + 1);
        const QPointF corners[] = {c, boundary[i], boundary[(i + 1) % n]};
        const qreal top = std::min({corners[0].y(), corners[1].y(), corners[2].y()});
        const qreal bottom = std::max({corners[0].y(), corners[1].y(), corners[2].y()});
        const int y1 = int(std::clamp<qreal>(std::ceil(bottom), 0, h));
        for (int y = int(std::clamp<qreal>(std::floor(top), 0, h)); y < y1; ++y) {
            const qreal yc = y + 0.5;
            qreal lo = std::numeric_limits<qreal>::max(), hi = -lo;
            for (int k = 0; k < 3; ++k) {
                const QPointF a = corners[k], b = corners[(k + 1) % 3];
                if ((a.y() <= yc) == (b.y() <= yc))
                    continue;
                const qreal x = a.x() + (yc - a.y()) * (b.x() - a.x()) / (b.y() - a.y());
                lo = std::min(lo, x);
                hi = std::max(hi, x);
            }
            if (lo > hi)
                continue;
            auto *line = reinterpret_cast<QRgb *>(out.scanLine(y));
            const int x0 = int(std::clamp<qreal>(std::ceil(lo - 0.5), 0, w));
            const int x1 = int(std::clamp<qreal>(std::floor(hi - 0.5), -1, w - 1));
            for (int x = x0; x <= x1; ++x) {
                const qreal dx = x + 0.5 - c.x(), dy = yc - c.y();
                const qreal a = std::max<qreal>((dx * e2.y() - dy * e2.x()) / det, 0);
                const qreal b = std::max<qreal>((e1.x() * dy - e1.y() * dx) / det, 0);
                const int step = int(std::min<qreal>(a + b, 1) * (kSteps - 1) + 0.5);
                if (!preset.empty()) {
                    line[x] = preset[size_t(step)];
                } else {
                    const float along = a + b > 0 ? float(b / (a + b)) : 0;
                    line[x] =
                        s1.mixed(s2, along).mixed(centre, share[size_t(step)]).premultiplied();
                }
                covered[size_t(y) * size_t(w) + size_t(x)] = true;
            }
        }
    }
    for (int pass = 0; pass < kEdgePasses; ++pass) {
        const std::vector<bool> before = covered;
        for (int y = 0; y < h; ++y) {
            auto *line = reinterpret_cast<QRgb *>(out.scanLine(y));
            for (int x = 0; x < w; ++x) {
                if (before[size_t(y) * size_t(w) + size_t(x)])
                    continue;
                const std::pair<int, int> near[] = {{x - 1, y}, {x + 1, y}, {x, y - 1}, {x, y + 1}};
                for (const auto &[nx, ny] : near) {
                    if (nx >= 0 && ny >= 0 && nx < w && ny < h &&
                        before[size_t(ny) * size_t(w) + size_t(nx)]) {
                        line[x] = reinterpret_cast<const QRgb *>(out.constScanLine(ny))[nx];
                        covered[size_t(y) * size_t(w) + size_t(x)] = true;
                        break;
                    }
                }
            }
        }
    }
    return out;
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

BrushData EmfPlusPlayer::State::brush(ByteReader &r)
{
    enum
    {
        Solid = 0,
        Hatch = 1,
        Texture = 2,
        PathGradientBrush = 3,
        LinearGradient = 4
    };
    constexpr quint32 kHasTransform = 0x02, kPresetColors = 0x04, kBlendH = 0x08;
    r.u32(); // version
    const quint32 type = r.u32();
    switch (type) {
    case Solid:
        return {solid(r.u32())};
    case Hatch: {
        const quint32 style = r.u32();
        const QColor fore = argb(r.u32()), back = argb(r.u32());
        // Qt's own hatches stand in for the first six of GDI+'s many.
        static constexpr Qt::BrushStyle kHatches[] = {Qt::HorPattern,   Qt::VerPattern,
                                                      Qt::FDiagPattern, Qt::BDiagPattern,
                                                      Qt::CrossPattern, Qt::DiagCrossPattern};
        return {QBrush(fore, style < 6 ? kHatches[style] : Qt::Dense4Pattern), back};
    }
    case Texture: {
        const quint32 flags = r.u32();
        r.u32(); // wrap mode
        const QTransform t = (flags & kHasTransform) ? matrix(r) : QTransform();
        const QImage img = image(r);
        if (img.isNull())
            return {QBrush(Qt::gray)};
        QBrush b(img);
        if (finite(t))
            b.setTransform(t);
        return {b};
    }
    case PathGradientBrush: {
        auto g = pathGradient(r);
        if (!g)
            return {};
        const QBrush centre(g->centreColor);
        if (g->boundary.isEmpty())
            g.reset();
        return {centre, {}, std::move(g)};
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
        return {b};
    }
    default:
        r.fail();
        return {};
    }
}

std::shared_ptr<const PathGradient> EmfPlusPlayer::State::pathGradient(ByteReader &r)
{
    constexpr quint32 kBoundaryPath = 0x01, kHasTransform = 0x02, kPresetColors = 0x04,
                      kBlendH = 0x08, kFocusScales = 0x40;
    constexpr quint32 kMaxStops = 4096;
    auto g = std::make_shared<PathGradient>();
    const quint32 flags = r.u32();
    r.u32(); // wrap mode
    g->centreColor = argb(r.u32());
    const float cx = r.f32(), cy = r.f32();
    g->centre = QPointF(cx, cy);
    const quint32 colors = r.u32();
    if (colors == 0 || qint64(colors) * 4 > r.remaining()) {
        r.fail();
        return {};
    }
    for (quint32 i = 0; i < colors; ++i)
        g->surround.append(argb(r.u32()));
    if (flags & kBoundaryPath) {
        ByteReader boundary(r.bytes(r.u32()));
        g->boundary = path(boundary).toFillPolygon();
    } else {
        g->boundary = points(r, r.u32(), 0);
    }
    const QTransform t = (flags & kHasTransform) ? matrix(r) : QTransform();
    if (flags & (kPresetColors | kBlendH)) {
        const quint32 n = r.u32();
        if (n == 0 || n > kMaxStops || qint64(n) * 8 > r.remaining()) {
            r.fail();
            return {};
        }
        const auto unit = [](float v) { return std::isfinite(v) ? std::clamp<qreal>(v, 0, 1) : 0; };
        QList<qreal> at;
        for (quint32 i = 0; i < n; ++i)
            at.append(unit(r.f32()));
        for (quint32 i = 0; i < n; ++i) {
            if (flags & kPresetColors)
                g->presets.append({at[i], argb(r.u32())});
            else
                g->factors.append({at[i], unit(r.f32())});
        }
    }
    if (flags & kFocusScales) {
        r.u32(); // count: two
        const float fx = r.f32(), fy = r.f32();
        const qreal focus = (qreal(fx) + fy) / 2;
        if (std::isfinite(focus) && focus > 0 && focus < 1)
            g->focus = focus;
    }
    if (!r.ok())
        return {};
    if (finite(t) && g->boundary.size() >= 3 && std::isfinite(cx) && std::isfinite(cy)) {
        g->boundary = t.map(g->boundary);
        g->centre = t.map(g->centre);
    } else {
        g->boundary.clear(); // drawn in its centre colour
    }
    return g;
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

// A custom line cap: an arrow of given width and height, or figures to fill and to stroke.
std::optional<CapShape> EmfPlusPlayer::State::customCap(ByteReader &r)
{
    enum
    {
        Default = 0,
        AdjustableArrow = 1
    };
    constexpr quint32 kFillPath = 0x1, kLinePath = 0x2;
    constexpr int kMaxCapElements = 4096;
    r.u32(); // version
    const quint32 type = r.u32();
    CapShape cap;
    qreal scale = 1;
    if (type == AdjustableArrow) {
        const float width = r.f32(), height = r.f32(), middle = r.f32();
        const bool filled = r.u32();
        r.skip(16); // the caps, join and miter limit of its outline
        scale = r.f32();
        QPainterPath arrow(QPointF(0, 0));
        arrow.lineTo(-width / 2, -height);
        arrow.lineTo(0, middle - height);
        arrow.lineTo(width / 2, -height);
        arrow.closeSubpath();
        (filled ? cap.fill : cap.stroke) = arrow;
        // A wide line stops inside a filled head rather than show past its sides near the tip.
        cap.inset = filled ? (height - middle) / 2 : 0;
    } else if (type == Default) {
        const quint32 flags = r.u32();
        r.u32(); // base cap
        cap.inset = r.f32();
        r.skip(16); // the caps, join and miter limit of its outline
        scale = r.f32();
        r.skip(16); // hot spots
        for (quint32 bit : {kFillPath, kLinePath}) {
            if (flags & bit) {
                ByteReader data(r.bytes(r.u32()));
                (bit == kFillPath ? cap.fill : cap.stroke) = path(data);
            }
        }
        // GDI+ fills a cap by the winding rule, and not at all where it has a line to draw.
        if (!cap.stroke.isEmpty())
            cap.fill = QPainterPath();
        cap.fill.setFillRule(Qt::WindingFill);
    } else {
        return {};
    }
    const QTransform t = QTransform::fromScale(scale, scale);
    cap.fill = t.map(cap.fill);
    cap.stroke = t.map(cap.stroke);
    cap.inset *= scale;
    if (!r.ok() || !std::isfinite(cap.inset) || !std::isfinite(scale) ||
        cap.fill.elementCount() + cap.stroke.elementCount() > kMaxCapElements ||
        !saneCap(cap.fill) || !saneCap(cap.stroke))
        return {};
    return cap;
}

PlusObject EmfPlusPlayer::State::parseObject(int type, QByteArrayView data)
{
    ByteReader r(data);
    switch (type) {
    case BrushObjectType: {
        BrushData b = brush(r);
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
        qint32 startCap = 0, endCap = 0;
        if (flags & StartCap) {
            startCap = r.i32();
            pen.cap = startCap == 2 ? Qt::RoundCap : startCap == 1 ? Qt::SquareCap : Qt::FlatCap;
        }
        if (flags & EndCap)
            endCap = r.i32();
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
        if (flags & CompoundLine)
            r.skip(qint64(r.u32()) * 4);
        for (quint32 bit : {quint32(CustomStartCap), quint32(CustomEndCap)}) {
            if (flags & bit) {
                ByteReader cap(r.bytes(r.u32()));
                (bit == CustomStartCap ? pen.startCap : pen.endCap) = customCap(cap);
            }
        }
        if (!pen.startCap)
            pen.startCap = anchorCap(startCap);
        if (!pen.endCap)
            pen.endCap = anchorCap(endCap);
        pen.brush = brush(r).brush;
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
        constexpr quint32 kMetafileImage = 2;
        ByteReader kind(data);
        kind.u32(); // version
        if (kind.u32() == kMetafileImage) {
            kind.u32(); // WMF, placeable WMF, EMF or EMF+: told by the data itself
            const QByteArrayView bytes = kind.bytes(std::min<qint64>(kind.u32(), kind.remaining()));
            if (kind.ok() && !bytes.isEmpty())
                return NestedMetafile{bytes.toByteArray()};
            break;
        }
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
        // The name carries its length; a NUL, where one is written, ends it early.
        if (const qsizetype end = f.family.indexOf(QChar(0)); end >= 0)
            f.family.truncate(end);
        f.family = fontFamily(f.family);
        if (r.ok())
            return f;
        break;
    }
    case RegionObjectType: {
        r.u32(); // version
        r.u32(); // node count: the tree tells its own
        if (r.ok())
            return RegionData{r.bytes(r.remaining()).toByteArray()};
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
        if (const auto *brush = std::get_if<BrushData>(&o))
            return heldBytes(brush->brush);
        if (const auto *nested = std::get_if<NestedMetafile>(&o))
            return nested->data.size();
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

BrushData EmfPlusPlayer::State::brushFor(quint16 flags, quint32 id) const
{
    if (flags & kSolidColor)
        return {solid(id)};
    if (const auto *b = get<BrushData>(id))
        return *b;
    return {Qt::NoBrush};
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

// The path gradient's colours over what `world` covers of the painter's device, as a brush.
QBrush EmfPlusPlayer::State::shaded(QPainter &p, const QPainterPath &world, const PathGradient &g)
{
    constexpr int kEdge = 2; // pixels for the anti-aliased edge
    const QTransform toImage = p.transform();
    QRect area = toImage.mapRect(world.controlPointRect() & g.boundary.boundingRect())
                     .toAlignedRect()
                     .adjusted(-kEdge, -kEdge, kEdge, kEdge) &
                 QRect(0, 0, p.device()->width(), p.device()->height());
    if (p.hasClipping())
        area &= toImage.mapRect(p.clipBoundingRect()).toAlignedRect();
    bool invertible = false;
    const QTransform fromImage = toImage.inverted(&invertible);
    if (area.isEmpty() || !invertible)
        return Qt::NoBrush;
    const QImage shades = shadePathGradient(g, toImage, area, canvas.budget());
    if (shades.isNull())
        return Qt::NoBrush;
    QBrush brush(shades);
    brush.setTransform(QTransform::fromTranslate(area.x(), area.y()) * fromImage);
    return brush;
}

void EmfPlusPlayer::State::paint(const QPainterPath &world, const BrushData *fill,
                                 const PenData *stroke, const QRegion *pixels)
{
    const QTransform t = worldToDevice();
    if (!finite(t) || world.isEmpty())
        return;
    const qreal scale = std::sqrt(std::abs(t.determinant()));
    // Caps are measured in pen widths, a cosmetic pen's being one device pixel.
    const qreal width = stroke && stroke->width > 0 ? stroke->width : 1 / scale;
    const qreal margin = stroke ? (stroke->width + capReach(*stroke) * width) * scale : 0;
    const QPainterPath device = t.map(world);
    const QRectF bounds = device.controlPointRect().adjusted(-margin, -margin, margin, margin);
    draw(bounds, canvas.deviceShapeWork(device, fill, stroke, margin), [&](QPainter &p) {
        if (pixels) {
            const QTransform toImage = p.transform();
            p.setTransform(QTransform());
            p.setClipRegion(*pixels, Qt::IntersectClip);
            p.setTransform(toImage);
        }
        prepare(p, t);
        if (fill) {
            if (fill->background.isValid())
                p.fillPath(world, fill->background);
            p.fillPath(world, fill->gradient ? shaded(p, world, *fill->gradient) : fill->brush);
        }
        if (stroke) {
            QPen pen(stroke->brush, stroke->width, Qt::SolidLine, stroke->cap, stroke->join);
            pen.setMiterLimit(stroke->miter);
            if (stroke->width <= 0)
                pen.setCosmetic(true);
            if (!stroke->dashes.isEmpty() && stroke->dashes.size() % 2 == 0)
                pen.setDashPattern(stroke->dashes);
            if (!stroke->startCap && !stroke->endCap) {
                p.strokePath(world, pen);
                return;
            }
            p.strokePath(shortened(world, *stroke, width), pen);
            drawCaps(p, world, *stroke, width);
        }
    });
}

void EmfPlusPlayer::State::drawCaps(QPainter &p, const QPainterPath &world, const PenData &pen,
                                    qreal width) const
{
    forEachEnd(world, [&](int, QPointF at, QPointF outward, bool start) {
        const auto &cap = start ? pen.startCap : pen.endCap;
        const qreal length = std::hypot(outward.x(), outward.y());
        if (!cap || !(length > 0))
            return;
        const QPointF d = outward / length * width, n(-d.y(), d.x());
        const QTransform place(n.x(), n.y(), d.x(), d.y(), at.x(), at.y());
        if (!cap->fill.isEmpty())
            p.fillPath(place.map(cap->fill), pen.brush);
        if (!cap->stroke.isEmpty()) {
            QPen line(pen.brush, pen.width, Qt::SolidLine, Qt::FlatCap, pen.join);
            line.setCosmetic(pen.width <= 0);
            p.strokePath(place.map(cap->stroke), line);
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
    const QBrush color = brushFor(flags, brushId).brush;
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
    const QBrush color = brushFor(flags, brushId).brush;
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
    constexpr int kMaxDepth = 3;
    constexpr qreal kMinRatio = 1.0 / 64, kMaxRatio = 16, kLargerThanHost = 2;
    const QTransform t = place * worldToDevice();
    const int depth = canvas.nestingDepth();
    // Reading its records again costs about its size, however little it draws.
    if (depth >= kMaxDepth || !finite(t) || !canvas.budget().charge(qreal(m.data.size())))
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
        const BrushData b = type == FillRects ? brushFor(flags, r.u32()) : BrushData();
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
        const BrushData b = fill ? brushFor(flags, r.u32()) : BrushData();
        const bool curve = type == FillClosedCurve || type == DrawClosedCurve || type == DrawCurve;
        const float tension = curve ? r.f32() : 0;
        quint32 first = 0, segments = 0;
        if (type == DrawCurve) {
            first = r.u32();
            segments = r.u32();
        }
        const QPolygonF pts = points(r, r.u32(), flags);
        if (!r.ok() || pts.isEmpty())
            break;
        QPainterPath p(pts.first());
        if (type == DrawBeziers) {
            for (qsizetype i = 1; i + 2 < pts.size(); i += 3)
                p.cubicTo(pts[i], pts[i + 1], pts[i + 2]);
        } else if (curve) {
            const bool closed = type != DrawCurve;
            const qsizetype all = closed ? pts.size() : pts.size() - 1;
            if (type == DrawCurve && (first >= all || segments == 0))
                break;
            p = cardinalSpline(
                pts, std::isfinite(tension) ? tension : kDefaultTension, closed, first,
                type == DrawCurve ? std::min<qsizetype>(segments, all - first) : all);
        } else {
            for (qsizetype i = 1; i < pts.size(); ++i)
                p.lineTo(pts[i]);
            if (fill || (type == DrawLines && (flags & kClosedLines)))
                p.closeSubpath();
        }
        if (fill)
            p.setFillRule((flags & kWinding) ? Qt::WindingFill : Qt::OddEvenFill);
        paint(p, fill ? &b : nullptr, fill ? nullptr : pen(id));
        break;
    }
    case FillEllipse:
    case DrawEllipse:
    case FillPie:
    case DrawPie:
    case DrawArc: {
        const bool fill = type == FillEllipse || type == FillPie;
        const BrushData b = fill ? brushFor(flags, r.u32()) : BrushData();
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
            const BrushData b = brushFor(flags, other);
            paint(*p, &b, nullptr);
        } else {
            paint(*p, nullptr, pen(other));
        }
        break;
    }
    case FillRegion: {
        // Its bounds filled through the region as a clip: a region of many rectangles is
        // quicker to clip by than to fill as a path.
        const BrushData b = brushFor(flags, r.u32());
        const auto pixels = region(id);
        bool invertible = false;
        const QTransform toWorld = (worldToDevice() * canvas.deviceToImage()).inverted(&invertible);
        if (r.ok() && pixels && !pixels->isEmpty() && invertible) {
            QPainterPath box;
            box.addRect(pixels->boundingRect());
            paint(toWorld.map(box), &b, nullptr, &*pixels);
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
        if (type == Save)
            break;
        // A container starts with a world transform of its own; what was in force before
        // places the container, so transforms set inside it still compose with it.
        QTransform m;
        if (type == BeginContainer && source.width() != 0 && source.height() != 0) {
            // The container's source rectangle maps onto its destination, in the page unit
            // given by the record's flags.
            m.translate(dest.x(), dest.y());
            const qreal unit = unitFactor(flags & 0xFF, dpi.width()) /
                               unitFactor(gs.pageUnit, dpi.width()) /
                               (gs.pageScale > 0 ? gs.pageScale : 1);
            m.scale(dest.width() / source.width() * unit, dest.height() / source.height() * unit);
            m.translate(-source.x(), -source.y());
        }
        if (const QTransform placed = m * gs.world * gs.container; finite(placed)) {
            gs.container = placed;
            gs.world = QTransform();
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
    case SetClipRegion: {
        bool invertible = false;
        const QTransform toDevice = canvas.deviceToImage().inverted(&invertible);
        if (const auto pixels = region(id); pixels && invertible) {
            QPainterPath device;
            device.addRegion(*pixels);
            clip(toDevice.map(device), (flags >> 8) & 0xF);
        }
        break;
    }
    case OffsetClip: {
        const float dx = r.f32(), dy = r.f32();
        const QTransform t = worldToDevice();
        const QPointF d = t.map(QPointF(dx, dy)) - t.map(QPointF(0, 0));
        if (r.ok() && gs.clip && finite(t) && std::isfinite(d.x()) && std::isfinite(d.y()) &&
            kEverywhere.contains(d))
            gs.clip->translate(d);
        break;
    }
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

// A host's budget outlives a picture drawn inside it, and holds its objects no longer.
EmfPlusPlayer::~EmfPlusPlayer()
{
    for (int id = 0; id < kObjectSlots; ++id)
        m_state->keep(id, {});
}

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
