#include "canvas.h"
#include "canvas_geometry.h"
#include "rasterop.h"

#include <QCoreApplication>
#include <QFontMetricsF>
#include <QGuiApplication>
#include <QLinearGradient>
#include <QPainterPathStroker>
#include <algorithm>
#include <cmath>

// Raster operations and bitmaps: what is drawn pixel by pixel against what is already there.
namespace metafile::detail {

// ---------------------------------------------------------------------------------------------
// Raster operations

void Canvas::rasterOp(const QRectF &bounds, quint8 index, const LayerPainter &draw)
{
    QRect area = bounds.toAlignedRect().intersected(m_image.rect());
    if (m_dc.clip)
        area &= m_dc.clip->boundingRect();
    if (area.isEmpty())
        return;
    const auto layer = [&](bool used, QImage::Format format) {
        QImage out;
        if (used) {
            out = QImage(area.size(), format);
            out.fill(0);
        }
        return out;
    };
    QImage pattern = layer(rop3UsesPattern(index), QImage::Format_ARGB32_Premultiplied);
    QImage source = layer(rop3UsesSource(index), QImage::Format_ARGB32_Premultiplied);
    QImage mask = layer(true, QImage::Format_Alpha8);
    if (mask.isNull())
        return;
    {
        // Painters on null layers stay inactive and draw nothing.
        QPainter painters[] = {QPainter(), QPainter(), QPainter(&mask)};
        if (!pattern.isNull())
            painters[0].begin(&pattern);
        if (!source.isNull())
            painters[1].begin(&source);
        for (QPainter &q : painters) {
            if (!q.isActive())
                continue;
            q.translate(-area.topLeft());
            if (m_dc.clip)
                q.setClipRegion(*m_dc.clip);
        }
        draw(painters[0], painters[1], painters[2]);
    }
    applyRop3(m_image, area, mask, pattern, source, index);
}

// ---------------------------------------------------------------------------------------------
// Bitmaps

void Canvas::patBlt(const QRectF &logical, quint32 rop)
{
    const quint8 index = rop3Index(rop);
    // Without a bitmap an operation that reads one is passed over rather than guessed at, as
    // is the no-op GDI+ ends its files with.
    if (m_recording || index == kRopNoOp || rop3UsesSource(index))
        return;
    if (rop3UsesPattern(index) && m_dc.brush.style == gdi::BsNull)
        return;
    const QTransform t = fullTransform();
    if (!saneTransform(t))
        return;
    const QPainterPath mapped = filledRect(t, logical);
    if (!spend(mapped.controlPointRect()))
        return;
    applyClip();
    switch (index) {
    case kRopBlackness:
        m_painter.fillPath(mapped, Qt::black);
        break;
    case kRopWhiteness:
        m_painter.fillPath(mapped, Qt::white);
        break;
    case kRopPatCopy:
        m_painter.fillPath(mapped, makeBrush(m_dc.brush));
        break;
    default:
        rasterOp(mapped.controlPointRect(), index,
                 [&](QPainter &pattern, QPainter &, QPainter &mask) {
                     if (pattern.isActive())
                         pattern.fillPath(mapped, makeBrush(m_dc.brush));
                     mask.fillPath(mapped, Qt::black);
                 });
        break;
    }
}

void Canvas::drawBitmap(const QRectF &dest, const QImage &image, const QRectF &source, quint32 rop)
{
    const quint8 index = rop3Index(rop);
    if (index == kRopNoOp)
        return;
    if (!rop3UsesSource(index)) {
        patBlt(dest, rop);
        return;
    }
    if (m_recording || image.isNull() || source.width() == 0 || source.height() == 0)
        return;
    const QTransform t = fullTransform();
    if (!saneTransform(t))
        return;
    QTransform placement;
    placement.translate(dest.x(), dest.y());
    placement.scale(dest.width() / source.width(), dest.height() / source.height());
    placement.translate(-source.x(), -source.y());
    const QTransform full = placement * t;
    const QRectF bounds = full.mapRect(source);
    const QRectF clipped = source.intersected(QRectF(image.rect()));
    // A bitmap drawn much smaller than it is gets shrunk to about its drawn size first, so
    // the painter's filter does not work through every source pixel.
    const bool shrink = full.type() <= QTransform::TxScale && image.depth() == 32 &&
                        clipped.width() * clipped.height() >
                            kShrinkFactor * (bounds.width() + 1) * (bounds.height() + 1);
    const qreal sourceWork = shrink ? 0 : clipped.width() * clipped.height();
    if (!saneTransform(full) || !spend(bounds, sourceWork))
        return;
    if (clipped.isEmpty())
        return;
    const auto drawSource = [&](QPainter &q) {
        if (!shrink) {
            q.drawImage(clipped.topLeft(), image, clipped);
            return;
        }
        const QRect part = clipped.toAlignedRect() & image.rect();
        const QImage view(image.constScanLine(part.top()) + qsizetype(part.left()) * 4,
                          part.width(), part.height(), image.bytesPerLine(), image.format());
        const QSize drawn(int(std::ceil(bounds.width())), int(std::ceil(bounds.height())));
        q.drawImage(QRectF(part), view.scaled(drawn.expandedTo(QSize(1, 1)), Qt::IgnoreAspectRatio,
                                              Qt::FastTransformation));
    };
    applyClip();
    if (index != kRopSrcCopy) {
        rasterOp(bounds, index, [&](QPainter &pattern, QPainter &src, QPainter &mask) {
            if (pattern.isActive())
                pattern.fillRect(bounds, makeBrush(m_dc.brush));
            mask.setTransform(full, true);
            if (src.isActive()) {
                src.setTransform(full, true);
                drawSource(src);
            }
            mask.fillRect(clipped, Qt::black);
        });
        return;
    }
    // COLORONCOLOR deletes and repeats whole pixels; the other modes combine them, which
    // smoothing stands for. (The raster-operation layers above never smooth, so that masks
    // and the pictures they cut out keep their exact edges.)
    const bool smooth = m_dc.stretchMode != gdi::ColorOnColor;
    m_painter.setRenderHint(QPainter::SmoothPixmapTransform, smooth);
    m_painter.setTransform(full);
    drawSource(m_painter);
    m_painter.resetTransform();
    m_painter.setRenderHint(QPainter::SmoothPixmapTransform);
}

void Canvas::drawGradientRect(const QRectF &logical, const QColor &a, const QColor &b,
                              bool vertical)
{
    if (m_recording)
        return;
    const QTransform t = fullTransform();
    QPainterPath p;
    p.addRect(logical);
    const QPainterPath mapped = t.map(p);
    if (!saneTransform(t) || !spend(mapped.controlPointRect()))
        return;
    applyClip();
    const QPointF from = t.map(logical.topLeft());
    const QPointF to = t.map(vertical ? logical.bottomLeft() : logical.topRight());
    QLinearGradient g(from, to);
    g.setColorAt(0, a);
    g.setColorAt(1, b);
    m_painter.fillPath(mapped, g);
}

void Canvas::drawGradientTriangles(const QList<GradientVertex> &vertices,
                                   const QList<std::array<quint32, 3>> &triangles)
{
    const QTransform t = fullTransform();
    if (m_recording || triangles.isEmpty() || !saneTransform(t))
        return;
    QList<QPointF> at;
    at.reserve(vertices.size());
    for (const GradientVertex &v : vertices)
        at.append(t.map(v.p));
    QRectF all;
    for (const auto &tri : triangles)
        all |= QPolygonF{at[tri[0]], at[tri[1]], at[tri[2]]}.boundingRect();
    // What the triangles reach of the picture is paid for; what the image holds of it is filled.
    QRect reach = saneRect(all) ? all.toAlignedRect() & m_picture : QRect();
    if (m_dc.clip)
        reach &= m_dc.clip->boundingRect();
    const QRect area = reach & m_image.rect();
    if (reach.isEmpty())
        return;
    QImage layer(area.size(), QImage::Format_ARGB32_Premultiplied);
    layer.fill(0);
    // GDI fills the pixels whose centres lie inside, without smoothing the edges.
    constexpr qreal kInside = -1e-9;
    for (const auto &tri : triangles) {
        const QPointF a = at[tri[0]], b = at[tri[1]], c = at[tri[2]];
        const qreal det = (b.x() - a.x()) * (c.y() - a.y()) - (c.x() - a.x()) * (b.y() - a.y());
        const QRect drawn = QPolygonF{a, b, c}.boundingRect().toAlignedRect() & reach;
        if (drawn.isEmpty() || det == 0)
            continue;
        if (!spend(drawn))
            return;
        const QRect box = drawn & area;
        const auto &ca = vertices[tri[0]].rgb, &cb = vertices[tri[1]].rgb,
                   &cc = vertices[tri[2]].rgb;
        for (int y = box.top(); y <= box.bottom(); ++y) {
            auto *line = reinterpret_cast<QRgb *>(layer.scanLine(y - area.top()));
            const qreal py = y + 0.5;
            for (int x = box.left(); x <= box.right(); ++x) {
                const qreal px = x + 0.5;
                const qreal wb =
                    ((px - a.x()) * (c.y() - a.y()) - (c.x() - a.x()) * (py - a.y())) / det;
                const qreal wc =
                    ((b.x() - a.x()) * (py - a.y()) - (px - a.x()) * (b.y() - a.y())) / det;
                const qreal wa = 1 - wb - wc;
                if (wa < kInside || wb < kInside || wc < kInside)
                    continue;
                const auto channel = [&](int i) {
                    const qreal v = wa * ca[i] + wb * cb[i] + wc * cc[i];
                    return std::clamp(int(v) >> 8, 0, 255);
                };
                line[x - area.left()] = qRgb(channel(0), channel(1), channel(2));
            }
        }
    }
    if (area.isEmpty())
        return;
    applyClip();
    m_painter.drawImage(area.topLeft(), layer);
}

qreal Canvas::deviceShapeWork(const QPainterPath &device, bool fill, bool stroke,
                              qreal devicePenWidth) const
{
    if (!saneTransform(m_deviceToImage))
        return 0;
    const QPainterPath image = m_deviceToImage.map(device);
    const qreal width =
        std::max<qreal>(1, devicePenWidth * std::sqrt(std::abs(m_deviceToImage.determinant())));
    return (fill ? paintCost(image, m_picture.size(), 0, 1) : 0) +
           (stroke ? paintCost(image, m_picture.size(), width, 2) : 0);
}

void Canvas::drawDevice(const QRectF &deviceBounds, const std::function<void(QPainter &)> &draw,
                        qreal extraWork)
{
    if (m_recording || !saneTransform(m_deviceToImage) || !saneRect(deviceBounds) ||
        !spend(m_deviceToImage.mapRect(deviceBounds), extraWork))
        return;
    m_painter.save();
    m_painter.setClipRect(m_image.rect());
    m_painter.setTransform(m_deviceToImage);
    draw(m_painter);
    m_painter.restore();
    m_clipApplied = false;
}

} // namespace metafile::detail
