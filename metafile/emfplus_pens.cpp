#include "emfplus_objects.h"

#include <QPainter>
#include <algorithm>

// Pens: widths, joins and dashes, and the caps GDI+ draws as figures of their own.
namespace metafile::detail {

namespace {

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

} // namespace

namespace emfplus {

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

} // namespace emfplus

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

std::optional<PenData> EmfPlusPlayer::State::readPen(ByteReader &r)
{
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
            return {};
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
    if (!r.ok())
        return {};
    return pen;
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

} // namespace metafile::detail
