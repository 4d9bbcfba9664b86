#pragma once

// What the parts of the canvas share: the cost of the work they do, and the checks and roundings
// of geometry before it reaches the painter.

#include "canvas.h"

#include <QPainterPath>
#include <QPolygonF>
#include <QRegion>
#include <QTransform>
#include <algorithm>
#include <cmath>
#include <vector>

namespace metafile::detail {

inline constexpr qreal kMaxImageCoordinate = 1 << 22;
// Qt's rasteriser keeps the cells of each pixel row in a list it walks for every new cell, so
// a row that many edges cross costs by the square of their number (measured: a 4000-corner
// star took minutes). A wide pen's outline has two edges per segment and reaches further.
inline constexpr qreal kCostPerRowCrossing = 8;
// Flattening walks every element, and makes lines of curves.
inline constexpr qreal kCostPerPathElement = 32;
inline constexpr qreal kShrinkFactor = 4;
inline constexpr qreal kSamePoint = 1e-6; // image pixels

inline qreal rowCrossingCost(const QPainterPath &path, int rows, qreal penWidth,
                             int edgesPerSegment)
{
    std::vector<qint64> changes(size_t(rows) + 1, 0);
    const qreal reach = penWidth / 2;
    QPointF last;
    for (int i = 0; i < path.elementCount(); ++i) {
        const QPointF p = path.elementAt(i);
        if (!path.elementAt(i).isMoveTo()) {
            const qreal top = std::floor(std::min(last.y(), p.y()) - reach);
            const qreal bottom = std::ceil(std::max(last.y(), p.y()) + reach);
            changes[size_t(std::clamp<qreal>(top, 0, rows))] += edgesPerSegment;
            changes[size_t(std::clamp<qreal>(bottom, 0, rows))] -= edgesPerSegment;
        }
        last = p;
    }
    qreal cost = 0;
    qint64 crossing = 0;
    for (int y = 0; y < rows; ++y) {
        crossing += changes[size_t(y)];
        cost += qreal(crossing) * qreal(crossing);
    }
    return cost * kCostPerRowCrossing;
}

// Painting also walks an edge over all its length outside the picture: a polygon of six corners
// millions of pixels out took seconds. (A clip region is cut to the picture before it is built.)
inline constexpr qreal kCostPerOutsidePixel = 128;

inline qreal paintCost(const QPainterPath &path, QSize image, qreal penWidth, int edgesPerSegment)
{
    qreal outside = 0;
    for (int i = 1; i < path.elementCount(); ++i) {
        if (path.elementAt(i).isMoveTo())
            continue;
        const QPointF step = QPointF(path.elementAt(i)) - QPointF(path.elementAt(i - 1));
        outside += std::max<qreal>(0, std::abs(step.x()) - image.width()) +
                   std::max<qreal>(0, std::abs(step.y()) - image.height());
    }
    return rowCrossingCost(path, image.height(), penWidth, edgesPerSegment) +
           outside * edgesPerSegment * kCostPerOutsidePixel;
}

inline qint64 heldBytes(const GdiObject &object)
{
    const auto *brush = std::get_if<BrushObject>(&object);
    return brush ? brush->pattern.sizeInBytes() : 0;
}

// Qt's polygon regions leak memory once coordinates reach about 2^20 pixels. What lies outside
// the picture does not matter to a clip, so such a polygon is cut to the picture first.
inline QPolygon regionPolygon(const QPolygonF &polygon, const QRect &picture)
{
    constexpr qreal kRegionLimit = 1 << 17;
    const QRectF b = polygon.boundingRect();
    if (std::abs(b.left()) < kRegionLimit && std::abs(b.right()) < kRegionLimit &&
        std::abs(b.top()) < kRegionLimit && std::abs(b.bottom()) < kRegionLimit)
        return polygon.toPolygon();
    return polygon.intersected(QPolygonF(QRectF(picture.adjusted(-1, -1, 1, 1)))).toPolygon();
}

// What drawing through a region costs: its rectangles and its pixels.
inline qreal regionWork(const QRegion &image)
{
    qreal work = 0;
    for (const QRect &r : image)
        work += kCostPerRect + qreal(r.width()) * r.height();
    return work;
}

// How many lines flattening `path` makes at most: Qt splits a curve in halves until it lies
// within half a pixel of its chord (at most 2^9 pieces), and each halving quarters the distance.
inline qreal flattenedElements(const QPainterPath &path)
{
    constexpr qreal kMaxPieces = 512;
    qreal count = 0;
    for (int i = 0; i < path.elementCount(); ++i) {
        if (i == 0 || !path.elementAt(i).isCurveTo() || i + 2 >= path.elementCount()) {
            ++count;
            continue;
        }
        const QPointF p0 = path.elementAt(i - 1), p1 = path.elementAt(i),
                      p2 = path.elementAt(i + 1), p3 = path.elementAt(i + 2);
        const qreal length =
            QLineF(p0, p1).length() + QLineF(p1, p2).length() + QLineF(p2, p3).length();
        count += std::min(kMaxPieces, std::sqrt(2 * length) + 1);
        i += 2;
    }
    return count;
}

inline bool saneRect(const QRectF &r)
{
    return std::isfinite(r.left()) && std::isfinite(r.right()) && std::isfinite(r.top()) &&
           std::isfinite(r.bottom()) && std::abs(r.left()) < kMaxImageCoordinate &&
           std::abs(r.right()) < kMaxImageCoordinate && std::abs(r.top()) < kMaxImageCoordinate &&
           std::abs(r.bottom()) < kMaxImageCoordinate;
}

inline bool saneTransform(const QTransform &t)
{
    for (qreal v : {t.m11(), t.m12(), t.m21(), t.m22(), t.dx(), t.dy()})
        if (!std::isfinite(v) || std::abs(v) > 1e9)
            return false;
    return true;
}

// GDI fills rectangles by whole pixels: edges on the pixel grid, so that rectangles sharing an
// edge leave no seam between them; one that is not empty keeps at least a pixel.
inline QRectF pixelAligned(const QRectF &image)
{
    const QRectF r = image.normalized();
    const qreal left = std::round(r.left()), top = std::round(r.top());
    return QRectF(QPointF(left, top),
                  QPointF(std::max(std::round(r.right()), left + (r.width() > 0 ? 1 : 0)),
                          std::max(std::round(r.bottom()), top + (r.height() > 0 ? 1 : 0))));
}

// A logical rectangle in image pixels, filled by whole pixels wherever it stays upright.
inline QPainterPath filledRect(const QTransform &t, const QRectF &logical)
{
    QPainterPath p;
    if (t.type() > QTransform::TxScale) {
        p.addRect(logical.normalized());
        return t.map(p);
    }
    p.addRect(pixelAligned(t.mapRect(logical.normalized())));
    return p;
}

inline QColor stockGray(int level)
{
    return QColor(level, level, level);
}

// GDI draws a thin pen through the pixels its points round to, and its pixel (x, y) is Qt's
// square from (x, y) to (x + 1, y + 1): moved onto their centres, a one-pixel line covers one
// column in full, as GDI draws it, instead of two at part strength. The control points of
// curves only move with them, so that curves stay smooth.
inline QPainterPath onPixelCentres(QPainterPath path)
{
    for (int i = 0; i < path.elementCount(); ++i) {
        const QPainterPath::Element e = path.elementAt(i);
        const bool control = e.isCurveTo() || (e.type == QPainterPath::CurveToDataElement &&
                                               path.elementAt(i - 1).isCurveTo());
        const auto centre = [control](qreal v) { return (control ? v : std::round(v)) + 0.5; };
        path.setElementPositionAt(i, centre(e.x), centre(e.y));
    }
    return path;
}

} // namespace metafile::detail
