#include "canvas.h"
#include "canvas_geometry.h"
#include "rasterop.h"

#include <QCoreApplication>
#include <QFontMetricsF>
#include <QGuiApplication>
#include <QLinearGradient>
#include <QPainterPathStroker>
#include <cmath>

// Lines, curves and shapes, the path being recorded, and regions.
namespace metafile::detail {

// ---------------------------------------------------------------------------------------------
// Shapes

// Whether the path being recorded may grow by `elements`; one that grows too long fails the
// picture.
bool Canvas::pathRoom(qsizetype elements)
{
    if (m_path.elementCount() + elements > kMaxPathElements || !m_budget.charge(qreal(elements))) {
        m_failed = true;
        return false;
    }
    return true;
}

void Canvas::addToPath(const QPainterPath &logical)
{
    const QTransform t = fullTransform();
    if (!saneTransform(t) || !pathRoom(logical.elementCount()))
        return;
    m_path.addPath(t.map(logical));
}

// Lines and curves drawn from the current position continue the path's open figure. A move
// has started a figure of its own there, which must not be joined to the one before it; after
// a closed figure or a shape, the current position starts a new one.
void Canvas::extendFigure(const QPainterPath &logical)
{
    const QTransform t = fullTransform();
    if (!saneTransform(t) || logical.elementCount() == 0)
        return;
    if (!pathRoom(logical.elementCount()))
        return;
    const QPainterPath mapped = t.map(logical);
    const QPointF start = mapped.elementAt(0);
    const QPointF gap = m_path.currentPosition() - start;
    if (m_path.elementCount() == 0 || std::abs(gap.x()) + std::abs(gap.y()) > kSamePoint)
        m_path.moveTo(start);
    for (int i = 1; i < mapped.elementCount(); ++i) {
        const QPainterPath::Element e = mapped.elementAt(i);
        if (e.isMoveTo()) {
            m_path.moveTo(e);
        } else if (e.isLineTo()) {
            m_path.lineTo(e);
        } else if (e.isCurveTo() && i + 2 < mapped.elementCount()) {
            m_path.cubicTo(e, mapped.elementAt(i + 1), mapped.elementAt(i + 2));
            i += 2;
        }
    }
}

void Canvas::paintShape(const QPainterPath &logical, bool fill, bool stroke)
{
    if (m_recording) {
        addToPath(logical);
        return;
    }
    const QTransform t = fullTransform();
    if (!saneTransform(t))
        return;
    QPainterPath p = t.map(logical);
    p.setFillRule(m_dc.polyFillMode == gdi::Winding ? Qt::WindingFill : Qt::OddEvenFill);
    paintDevicePath(p, fill, stroke);
}

void Canvas::paintDevicePath(const QPainterPath &p, bool fill, bool stroke)
{
    if (m_dc.rop2 == kR2Nop)
        return;
    const QPen pen = stroke ? makePen() : QPen(Qt::NoPen);
    const bool hasBrush = fill && m_dc.brush.style != gdi::BsNull;
    if (pen.style() == Qt::NoPen && !hasBrush)
        return;
    const qreal penWidth = pen.style() == Qt::NoPen ? 0 : pen.widthF();
    constexpr qreal kThinPen = 1.5; // image pixels
    const bool thin = penWidth > 0 && penWidth < kThinPen;
    const QRectF bounds = p.controlPointRect().adjusted(-penWidth, -penWidth, penWidth, penWidth);
    const qreal rowWork = (hasBrush ? paintCost(p, m_picture.size(), 0, 1) : 0) +
                          (penWidth > 0 ? paintCost(p, m_picture.size(), penWidth, 2) : 0);
    if (!saneRect(bounds) || !spend(bounds, rowWork))
        return;
    applyClip();
    const auto paint = [&](QPainter &painter) {
        // A raster operation that needs no pattern gives an inactive painter for it.
        if (!painter.isActive())
            return;
        if (hasBrush) {
            if (m_dc.brush.style == gdi::BsHatched && m_dc.bkMode == gdi::Opaque)
                painter.fillPath(p, m_dc.bkColor);
            painter.fillPath(p, makeBrush(m_dc.brush));
        }
        // The layers of a raster operation are not anti-aliased and already fill the pixels
        // right of and below a thin line, as GDI does.
        if (pen.style() == Qt::NoPen)
            return;
        const QPainterPath &line =
            thin && painter.testRenderHint(QPainter::Antialiasing) ? onPixelCentres(p) : p;
        const Qt::BrushStyle hatch = pen.brush().style();
        if (hatch >= Qt::HorPattern && hatch <= Qt::DiagCrossPattern &&
            m_dc.bkMode == gdi::Opaque) {
            QPen back = pen; // a hatched pen's gaps, as a hatched brush's
            back.setBrush(m_dc.bkColor);
            painter.strokePath(line, back);
        }
        painter.strokePath(line, pen);
    };
    if (m_dc.rop2 != kR2CopyPen && m_dc.rop2 >= kR2Black && m_dc.rop2 <= kR2White) {
        rasterOp(bounds, rop2AsRop3(m_dc.rop2), [&](QPainter &pattern, QPainter &, QPainter &mask) {
            paint(pattern);
            paint(mask);
        });
        return;
    }
    paint(m_painter);
}

void Canvas::moveTo(QPointF p)
{
    m_dc.currentPos = p;
    if (m_recording) {
        const QPointF mapped = fullTransform().map(p);
        if (std::isfinite(mapped.x()) && std::isfinite(mapped.y()) && pathRoom(1))
            m_path.moveTo(mapped);
    }
}

void Canvas::lineTo(QPointF p)
{
    QPolygonF line{p};
    polylineTo(line);
}

void Canvas::polyline(const QPolygonF &points)
{
    if (points.size() < 2)
        return;
    QPainterPath path;
    path.addPolygon(points);
    paintShape(path, false, true);
}

void Canvas::polylineTo(const QPolygonF &points)
{
    if (points.isEmpty())
        return;
    if (m_recording) {
        QPainterPath path(m_dc.currentPos);
        for (const QPointF &pt : points)
            path.lineTo(pt);
        extendFigure(path);
    } else {
        QPolygonF all;
        all.reserve(points.size() + 1);
        all.append(m_dc.currentPos);
        all.append(points);
        polyline(all);
    }
    m_dc.currentPos = points.last();
}

void Canvas::polygon(const QPolygonF &points)
{
    if (points.size() < 2)
        return;
    QPainterPath path;
    path.addPolygon(points);
    path.closeSubpath();
    paintShape(path, true, true);
}

void Canvas::polyPolygon(const QList<QPolygonF> &polygons)
{
    QPainterPath path;
    for (const QPolygonF &poly : polygons) {
        if (poly.size() < 2)
            continue;
        path.addPolygon(poly);
        path.closeSubpath();
    }
    paintShape(path, true, true);
}

void Canvas::polyPolyline(const QList<QPolygonF> &polylines)
{
    QPainterPath path;
    for (const QPolygonF &poly : polylines)
        if (poly.size() >= 2)
            path.addPolygon(poly);
    paintShape(path, false, true);
}

void Canvas::polyBezier(const QPolygonF &points, bool fromCurrent)
{
    QPainterPath path;
    qsizetype i = 0;
    if (fromCurrent) {
        path.moveTo(m_dc.currentPos);
    } else {
        if (points.isEmpty())
            return;
        path.moveTo(points[0]);
        i = 1;
    }
    for (; i + 2 < points.size(); i += 3)
        path.cubicTo(points[i], points[i + 1], points[i + 2]);
    if (fromCurrent && m_recording) {
        extendFigure(path);
    } else {
        paintShape(path, false, true);
    }
    if (fromCurrent && path.elementCount() > 1)
        m_dc.currentPos = path.currentPosition();
    else if (!fromCurrent)
        m_dc.currentPos = path.currentPosition();
}

void Canvas::polyDraw(const QPolygonF &points, const QByteArray &types)
{
    QPainterPath path;
    path.moveTo(m_dc.currentPos);
    for (qsizetype i = 0; i < points.size() && i < types.size(); ++i) {
        const int type = quint8(types[i]) & ~1;
        if (type == 6) {
            path.moveTo(points[i]);
        } else if (type == 2) {
            path.lineTo(points[i]);
        } else if (type == 4 && i + 2 < points.size()) {
            path.cubicTo(points[i], points[i + 1], points[i + 2]);
            i += 2;
        }
        if (quint8(types[i]) & 1)
            path.closeSubpath();
    }
    m_dc.currentPos = path.currentPosition();
    if (m_recording)
        extendFigure(path);
    else
        paintShape(path, false, true);
}

void Canvas::rectangle(const QRectF &r)
{
    if (!m_recording && (m_dc.pen.style & gdi::PsStyleMask) == gdi::PsNull) {
        if (const QTransform t = fullTransform(); saneTransform(t))
            paintDevicePath(filledRect(t, r), true, false);
        return;
    }
    QPainterPath path;
    path.addRect(r.normalized());
    paintShape(path, true, true);
}

void Canvas::roundRect(const QRectF &r, QSizeF corner)
{
    QPainterPath path;
    path.addRoundedRect(r.normalized(), std::abs(corner.width()) / 2,
                        std::abs(corner.height()) / 2);
    paintShape(path, true, true);
}

void Canvas::ellipse(const QRectF &r)
{
    QPainterPath path;
    path.addEllipse(r.normalized());
    paintShape(path, true, true);
}

void Canvas::arc(const QRectF &box, QPointF start, QPointF end, ArcKind kind)
{
    const QRectF r = box.normalized();
    if (r.width() <= 0 || r.height() <= 0)
        return;
    const QPointF c = r.center();
    auto angleOf = [&](QPointF p) {
        return qRadiansToDegrees(
            std::atan2(-(p.y() - c.y()) * r.width(), (p.x() - c.x()) * r.height()));
    };
    const qreal a0 = angleOf(start), a1 = angleOf(end);
    // The direction is as seen on the device: a mirrored mapping turns it around.
    const QTransform t = fullTransform();
    const bool mirrored = t.m11() * t.m22() - t.m12() * t.m21() < 0;
    const bool ccw = (m_dc.arcDirection == gdi::CounterClockwise) != mirrored;
    qreal sweep = a1 - a0;
    if (ccw) {
        if (sweep <= 0)
            sweep += 360;
    } else if (sweep >= 0) {
        sweep -= 360;
    }
    QPainterPath path;
    if (kind == ArcKind::Pie) {
        path.moveTo(c);
        path.arcTo(r, a0, sweep);
        path.closeSubpath();
    } else {
        path.arcMoveTo(r, a0);
        path.arcTo(r, a0, sweep);
        if (kind == ArcKind::Chord)
            path.closeSubpath();
    }
    if (kind == ArcKind::ArcTo) {
        QPainterPath joined;
        joined.moveTo(m_dc.currentPos);
        joined.connectPath(path);
        m_dc.currentPos = path.currentPosition();
        if (m_recording) {
            extendFigure(joined);
            return;
        }
        paintShape(joined, false, true);
        return;
    }
    const bool closed = kind != ArcKind::Arc;
    paintShape(path, closed, true);
}

void Canvas::angleArc(QPointF center, qreal radius, qreal startDeg, qreal sweepDeg)
{
    if (!std::isfinite(startDeg) || !std::isfinite(sweepDeg) || !std::isfinite(radius))
        return;
    sweepDeg = std::clamp<qreal>(sweepDeg, -3600, 3600);
    startDeg = std::fmod(startDeg, 360);
    const QRectF r(center.x() - radius, center.y() - radius, 2 * radius, 2 * radius);
    QPainterPath arcPath;
    arcPath.arcMoveTo(r, startDeg);
    arcPath.arcTo(r, startDeg, sweepDeg);
    QPainterPath path;
    path.moveTo(m_dc.currentPos);
    path.connectPath(arcPath);
    m_dc.currentPos = path.currentPosition();
    if (m_recording)
        extendFigure(path);
    else
        paintShape(path, false, true);
}

void Canvas::setPixel(QPointF p, const QColor &color)
{
    if (m_recording)
        return;
    const QPointF mapped = fullTransform().map(p);
    const QRectF r(mapped.x(), mapped.y(), 1, 1);
    if (!spend(r))
        return;
    applyClip();
    m_painter.fillRect(r, color);
}

// ---------------------------------------------------------------------------------------------
// Paths

void Canvas::beginPath()
{
    m_path = QPainterPath();
    m_recording = true;
}

void Canvas::abortPath()
{
    m_path = QPainterPath();
    m_recording = false;
}

void Canvas::closeFigure()
{
    if (m_recording)
        m_path.closeSubpath();
}

// Ends the path being recorded and draws it, filled by the fill mode in force.
void Canvas::paintRecordedPath(bool fill, bool stroke)
{
    QPainterPath p = std::exchange(m_path, QPainterPath());
    m_recording = false;
    p.setFillRule(m_dc.polyFillMode == gdi::Winding ? Qt::WindingFill : Qt::OddEvenFill);
    paintDevicePath(p, fill, stroke);
}

void Canvas::fillPath()
{
    paintRecordedPath(true, false);
}

void Canvas::strokePath()
{
    paintRecordedPath(false, true);
}

void Canvas::strokeAndFillPath()
{
    paintRecordedPath(true, true);
}

void Canvas::flattenPath()
{
    const qreal lines = flattenedElements(m_path);
    if (lines > kMaxPathElements ||
        !m_budget.charge(kCostPerCall + kCostPerPathElement * (m_path.elementCount() + lines))) {
        m_failed = true;
        return;
    }
    QPainterPath flat;
    for (const QPolygonF &poly : m_path.toSubpathPolygons())
        flat.addPolygon(poly);
    m_path = flat;
}

void Canvas::selectClipPath(int mode)
{
    QPainterPath p = std::exchange(m_path, QPainterPath());
    m_recording = false;
    p.setFillRule(m_dc.polyFillMode == gdi::Winding ? Qt::WindingFill : Qt::OddEvenFill);
    if (const auto r = pathRegion(p))
        combineClip(*r, mode);
}

std::optional<QRegion> Canvas::pathRegion(const QPainterPath &image)
{
    // The region is built row by row, through every edge that crosses the row, as a fill is.
    const qreal lines = flattenedElements(image);
    if (!saneRect(image.controlPointRect()) || lines > kMaxPathElements ||
        !m_budget.charge(kCostPerCall + kCostPerPathElement * lines +
                         rowCrossingCost(image, m_picture.height(), 0, 1)))
        return std::nullopt;
    QRegion r;
    for (const QPolygonF &poly : image.toSubpathPolygons()) {
        const QRegion part(regionPolygon(poly, m_picture), image.fillRule());
        if (!m_budget.charge(kCostPerRect * qreal(r.rectCount() + part.rectCount())))
            return std::nullopt;
        r ^= part;
    }
    return r;
}

// ---------------------------------------------------------------------------------------------
// Regions

// Regions are drawn through a clip of their own: as one path, rectangles side by side in a row
// would cost by the square of their number, and a call for each rectangle more than its pixels.
bool Canvas::clipToRegion(const QRegion &image)
{
    if (m_recording || image.isEmpty() ||
        !m_budget.charge(kCostPerCall + regionWork(image) +
                         kCostPerRect * qreal(m_dc.clip ? m_dc.clip->rectCount() : 0)))
        return false;
    m_painter.setClipRegion(m_dc.clip ? image & *m_dc.clip : image);
    m_clipApplied = false;
    return true;
}

void Canvas::fillRegion(const QRegion &image, const BrushObject &brush)
{
    if (!clipToRegion(image))
        return;
    if (brush.style == gdi::BsHatched && m_dc.bkMode == gdi::Opaque)
        m_painter.fillRect(image.boundingRect(), m_dc.bkColor);
    m_painter.fillRect(image.boundingRect(), makeBrush(brush));
}

void Canvas::frameRegion(const QRegion &image, const BrushObject &brush, QSizeF logicalSize)
{
    const QTransform t = fullTransform();
    const int w = std::clamp(qRound(std::abs(logicalSize.width() * t.m11())), 1, 1 << 12);
    const int h = std::clamp(qRound(std::abs(logicalSize.height() * t.m22())), 1, 1 << 12);
    constexpr int kOperations = 8; // four shifted copies and their intersection
    if (!m_budget.charge(kCostPerCall + kOperations * kCostPerRect * qreal(image.rectCount())))
        return;
    const QRegion inner = image.translated(w, 0) & image.translated(-w, 0) &
                          image.translated(0, h) & image.translated(0, -h);
    fillRegion(image - inner, brush);
}

void Canvas::invertRegion(const QRegion &image)
{
    if (!clipToRegion(image))
        return;
    m_painter.setCompositionMode(QPainter::RasterOp_NotDestination);
    m_painter.fillRect(image.boundingRect(), Qt::black);
    m_painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
}

} // namespace metafile::detail
