#include "canvas.h"

#include "canvas_geometry.h"
#include "rasterop.h"

#include <QCoreApplication>
#include <QFontMetricsF>
#include <QGuiApplication>
#include <QLinearGradient>
#include <QPainterPathStroker>
#include <cmath>

namespace metafile::detail {

Canvas::Canvas(QImage &image, QSize picture, Mapping mapping, const QTransform &deviceToImage,
               QSizeF pixelsPerMm, const Stop &stop, const Nesting &nesting)
    : m_image(image), m_picture(QPoint(0, 0), picture), m_painter(&image), m_mapping(mapping),
      m_deviceToImage(deviceToImage), m_pixelsPerMm(pixelsPerMm), m_ownBudget(stop),
      m_budget(nesting.host ? *nesting.host : m_ownBudget), m_depth(nesting.depth)
{
    m_painter.setRenderHint(QPainter::Antialiasing);
    m_painter.setRenderHint(QPainter::TextAntialiasing);
    m_painter.setRenderHint(QPainter::SmoothPixmapTransform);
    m_objects.resize(16);
}

// A host's budget outlives the picture drawn inside it, and holds its bitmaps no longer.
Canvas::~Canvas()
{
    for (const GdiObject &o : m_objects)
        m_budget.release(heldBytes(o));
}

// ---------------------------------------------------------------------------------------------
// Objects

void Canvas::setObjectTableSize(int size)
{
    m_objects.resize(std::clamp(size, 1, kMaxObjects));
}

bool Canvas::putObject(quint32 index, GdiObject object)
{
    if (index >= quint32(kMaxObjects))
        return false;
    if (index >= m_objects.size())
        m_objects.resize(index + 1);
    keep(m_objects[index], std::move(object));
    return true;
}

// Bitmaps in the table count against the picture's memory for as long as they are kept.
void Canvas::keep(GdiObject &slot, GdiObject object)
{
    m_budget.release(heldBytes(slot));
    m_budget.hold(heldBytes(object));
    slot = std::move(object);
}

int Canvas::putObjectInFreeSlot(GdiObject object)
{
    for (size_t i = 0; i < m_objects.size(); ++i) {
        if (std::holds_alternative<std::monostate>(m_objects[i])) {
            keep(m_objects[i], std::move(object));
            return int(i);
        }
    }
    if (m_objects.size() >= size_t(kMaxObjects))
        return -1;
    m_objects.emplace_back();
    keep(m_objects.back(), std::move(object));
    return int(m_objects.size() - 1);
}

void Canvas::deleteObject(quint32 index)
{
    if (index < m_objects.size())
        keep(m_objects[index], std::monostate{});
}

const GdiObject *Canvas::object(quint32 index) const
{
    if (index >= m_objects.size())
        return nullptr;
    return &m_objects[index];
}

void Canvas::selectObject(quint32 index)
{
    const GdiObject *o = object(index);
    if (!o)
        return;
    if (auto *pen = std::get_if<PenObject>(o))
        m_dc.pen = *pen;
    else if (auto *brush = std::get_if<BrushObject>(o))
        m_dc.brush = *brush;
    else if (auto *font = std::get_if<FontObject>(o))
        m_dc.font = *font;
    else if (auto *palette = std::get_if<PaletteObject>(o))
        m_dc.palette = *palette;
    else if (auto *region = std::get_if<RegionObject>(o))
        selectClipRegionLogical(&region->region);
}

void Canvas::selectStockObject(quint32 stock)
{
    switch (stock) {
    case 0:
        m_dc.brush = BrushObject{gdi::BsSolid, Qt::white, 0, {}};
        break;
    case 1:
        m_dc.brush = BrushObject{gdi::BsSolid, stockGray(0xc0), 0, {}};
        break;
    case 2:
        m_dc.brush = BrushObject{gdi::BsSolid, stockGray(0x80), 0, {}};
        break;
    case 3:
        m_dc.brush = BrushObject{gdi::BsSolid, stockGray(0x40), 0, {}};
        break;
    case 4:
        m_dc.brush = BrushObject{gdi::BsSolid, Qt::black, 0, {}};
        break;
    case 5:
        m_dc.brush = BrushObject{gdi::BsNull, Qt::black, 0, {}};
        break;
    case 6:
        m_dc.pen = PenObject{gdi::PsSolid, 0, Qt::white, {}, {}};
        break;
    case 7:
        m_dc.pen = PenObject{gdi::PsSolid, 0, Qt::black, {}, {}};
        break;
    case 8:
        m_dc.pen = PenObject{gdi::PsNull, 0, Qt::black, {}, {}};
        break;
    case 15:
        m_dc.palette = {};
        break;
    case 18:
        m_dc.brush = BrushObject{gdi::BsSolid, Qt::white, 0, {}};
        break;
    case 19:
        m_dc.pen = PenObject{gdi::PsSolid, 0, Qt::black, {}, {}};
        break;
    default:
        if (stock >= 10 && stock <= 17)
            m_dc.font = FontObject{};
        break;
    }
}

// ---------------------------------------------------------------------------------------------
// State and mapping

void Canvas::saveDc()
{
    // A copy shares its brush pattern and clip with the current state; its rectangles are what
    // a later restore may have to work through.
    if (!m_budget.charge(kCostPerCall + (m_dc.clip ? m_dc.clip->rectCount() : 0)))
        return;
    if (m_saved.size() >= size_t(kMaxSavedStates))
        m_saved.pop_front();
    m_saved.push_back(m_dc);
}

void Canvas::restoreDc(int which)
{
    qsizetype index = -1;
    if (which < 0)
        index = qsizetype(m_saved.size()) + which;
    else if (which > 0)
        index = which - 1;
    if (index < 0 || index >= qsizetype(m_saved.size()))
        return;
    m_dc = m_saved[size_t(index)];
    m_saved.resize(size_t(index));
    m_clipApplied = false;
}

QTransform Canvas::pageTransform() const
{
    int mode = m_dc.mapMode;
    if (m_mapping == Mapping::Window && mode != gdi::MmIsotropic)
        mode = gdi::MmAnisotropic;
    qreal sx = 1, sy = 1;
    const qreal mmx = m_pixelsPerMm.width(), mmy = m_pixelsPerMm.height();
    switch (mode) {
    case gdi::MmLoMetric:
        sx = mmx * 0.1;
        sy = -mmy * 0.1;
        break;
    case gdi::MmHiMetric:
        sx = mmx * 0.01;
        sy = -mmy * 0.01;
        break;
    case gdi::MmLoEnglish:
        sx = mmx * 0.254;
        sy = -mmy * 0.254;
        break;
    case gdi::MmHiEnglish:
        sx = mmx * 0.0254;
        sy = -mmy * 0.0254;
        break;
    case gdi::MmTwips:
        sx = mmx * kMmPerInch / kTwipsPerInch;
        sy = -mmy * kMmPerInch / kTwipsPerInch;
        break;
    case gdi::MmIsotropic:
    case gdi::MmAnisotropic: {
        const QSizeF we = m_dc.windowExt, ve = m_dc.viewportExt;
        sx = we.width() != 0 ? ve.width() / we.width() : 1;
        sy = we.height() != 0 ? ve.height() / we.height() : 1;
        if (mode == gdi::MmIsotropic) {
            const qreal m = std::min(std::abs(sx), std::abs(sy));
            sx = std::copysign(m, sx);
            sy = std::copysign(m, sy);
        }
        break;
    }
    default:
        break;
    }
    const QPointF wo = m_dc.windowOrg, vo = m_dc.viewportOrg;
    return QTransform(sx, 0, 0, sy, vo.x() - wo.x() * sx, vo.y() - wo.y() * sy);
}

QTransform Canvas::fullTransform() const
{
    return m_dc.world * pageTransform() * m_deviceToImage;
}

qreal Canvas::scaleFactor() const
{
    const QTransform t = fullTransform();
    return std::sqrt(std::abs(t.m11() * t.m22() - t.m12() * t.m21()));
}

bool Canvas::spend(const QRectF &imageBounds, qreal extraWork)
{
    if (!saneRect(imageBounds))
        return false;
    const QRectF visible = imageBounds.intersected(QRectF(m_picture));
    return m_budget.charge(kCostPerCall + visible.width() * visible.height() + extraWork);
}

// ---------------------------------------------------------------------------------------------
// Clipping

void Canvas::applyClip()
{
    if (m_clipApplied)
        return;
    // Spent or not, this drawing is paid for; the next record finds the budget gone.
    m_budget.charge(kCostPerRect * qreal(m_dc.clip ? m_dc.clip->rectCount() : 1));
    // Qt 6.4 ignores a complex clip region set after setClipping(false), so "no clip" is the
    // whole image instead.
    m_painter.setClipRegion(m_dc.clip ? *m_dc.clip : imageRect());
    m_clipApplied = true;
}

bool Canvas::expiredEvery(qsizetype i)
{
    constexpr qsizetype kSteps = 1024;
    return i % kSteps == 0 && m_budget.expired();
}

// Unites `parts` pairwise, neighbours first once sorted from top to bottom: adding them one at
// a time would rebuild the growing region for every part.
QRegion Canvas::unite(QList<QRegion> parts)
{
    std::sort(parts.begin(), parts.end(), [](const QRegion &a, const QRegion &b) {
        const QRect ra = a.boundingRect(), rb = b.boundingRect();
        return std::pair(ra.top(), ra.left()) < std::pair(rb.top(), rb.left());
    });
    for (qsizetype step = 1; step < parts.size(); step *= 2) {
        for (qsizetype i = 0; i + step < parts.size(); i += 2 * step) {
            QRegion &a = parts[i], &b = parts[i + step];
            if (!m_budget.charge(kCostPerRect * qreal(a.rectCount() + b.rectCount())))
                return {};
            a |= b;
            b = QRegion();
        }
    }
    return parts.isEmpty() ? QRegion() : parts.first();
}

// Rectangles sorted from top to bottom are taken as they are for as long as they keep the form
// regions have (rows of equal height, apart, each from left to right with gaps); the pieces
// where they do not are united.
QRegion Canvas::regionOf(QList<QRect> rects)
{
    if (!m_budget.charge(kCostPerCall + kCostPerRect * qreal(rects.size())))
        return {};
    rects.removeIf([](const QRect &r) { return r.isEmpty(); });
    const auto above = [](const QRect &a, const QRect &b) {
        return std::pair(a.top(), a.left()) < std::pair(b.top(), b.left());
    };
    if (!std::is_sorted(rects.begin(), rects.end(), above))
        std::sort(rects.begin(), rects.end(), above);
    QList<QRegion> parts;
    for (qsizetype start = 0, end = 0; start < rects.size(); start = end) {
        for (end = start + 1; end < rects.size(); ++end) {
            const QRect &last = rects[end - 1], &r = rects[end];
            const bool sameRow =
                r.top() == last.top() && r.bottom() == last.bottom() && r.left() > last.right() + 1;
            if (!sameRow && r.top() <= last.bottom())
                break;
        }
        QRegion part;
        part.setRects(rects.constData() + start, int(end - start));
        parts.append(part);
    }
    return unite(std::move(parts));
}

// A rectangle under a rotation or shear: the turned rectangle itself, about a region
// rectangle for each of its rows.
QRegion Canvas::turnedRect(const QTransform &t, const QRectF &logical)
{
    QPainterPath p;
    p.addRect(logical.normalized());
    const QPolygonF poly = t.map(p).toFillPolygon();
    const QRectF b = poly.boundingRect();
    if (!saneRect(b) ||
        !m_budget.charge(kCostPerCall +
                         kCostPerRect * std::min<qreal>(b.height(), m_picture.height())))
        return {};
    return QRegion(regionPolygon(poly, m_picture));
}

QRegion Canvas::logicalRegionToImage(const QRegion &logical)
{
    const QTransform t = fullTransform();
    if (!saneTransform(t) ||
        !m_budget.charge(kCostPerCall + kCostPerRect * qreal(logical.rectCount())))
        return {};
    if (t.type() > QTransform::TxScale) {
        QList<QRegion> parts;
        for (const QRect &r : logical)
            if (!expiredEvery(parts.size()))
                parts.append(turnedRect(t, QRectF(r)) & imageRect());
        return unite(std::move(parts));
    }
    QList<QRect> rects;
    rects.reserve(logical.rectCount());
    for (const QRect &r : logical) {
        const QRectF mapped = t.mapRect(QRectF(r));
        if (saneRect(mapped))
            rects.append(mapped.toAlignedRect().intersected(m_picture));
    }
    return regionOf(std::move(rects));
}

QRegion Canvas::deviceRectsToImage(const QList<QRect> &device)
{
    QList<QRect> rects;
    rects.reserve(device.size());
    for (const QRect &r : device) {
        const QRectF mapped = m_deviceToImage.mapRect(QRectF(r));
        if (saneRect(mapped))
            rects.append(mapped.toAlignedRect().intersected(m_picture));
    }
    return regionOf(std::move(rects));
}

void Canvas::intersectClipRect(const QRectF &logical)
{
    const QTransform t = fullTransform();
    const QRectF b = t.mapRect(logical.normalized());
    QRegion r;
    if (saneRect(b))
        r = t.type() <= QTransform::TxScale ? QRegion(b.toRect()) : turnedRect(t, logical);
    combineClip(r, gdi::RgnAnd);
}

void Canvas::excludeClipRect(const QRectF &logical)
{
    const QTransform t = fullTransform();
    const QRectF b = t.mapRect(logical.normalized());
    if (!saneRect(b))
        return;
    combineClip(t.type() <= QTransform::TxScale ? QRegion(b.toRect()) : turnedRect(t, logical),
                gdi::RgnDiff);
}

void Canvas::offsetClip(QPointF logicalOffset)
{
    if (!m_dc.clip)
        return;
    const QTransform t = fullTransform();
    const QPointF d = t.map(logicalOffset) - t.map(QPointF(0, 0));
    if (!std::isfinite(d.x()) || !std::isfinite(d.y()) || std::abs(d.x()) > kMaxImageCoordinate ||
        std::abs(d.y()) > kMaxImageCoordinate ||
        !m_budget.charge(kCostPerCall + 2 * kCostPerRect * qreal(m_dc.clip->rectCount())))
        return;
    m_dc.clip = m_dc.clip->translated(qRound(d.x()), qRound(d.y())).intersected(imageRect());
    m_clipApplied = false;
}

void Canvas::combineClip(const QRegion &r, int mode)
{
    const QRegion base = m_dc.clip ? *m_dc.clip : imageRect();
    if (!m_budget.charge(kCostPerCall + kCostPerRect * qreal(base.rectCount() + r.rectCount())))
        return;
    QRegion result;
    switch (mode) {
    case gdi::RgnAnd:
        result = base & r;
        break;
    case gdi::RgnOr:
        result = base | r;
        break;
    case gdi::RgnXor:
        result = base ^ r;
        break;
    case gdi::RgnDiff:
        result = base - r;
        break;
    case gdi::RgnCopy:
        result = r;
        break;
    default:
        return;
    }
    m_dc.clip = result & imageRect();
    m_clipApplied = false;
}

void Canvas::selectClipRegionLogical(const QRegion *logical)
{
    if (!logical) {
        m_dc.clip.reset();
        m_clipApplied = false;
        return;
    }
    combineClip(logicalRegionToImage(*logical), gdi::RgnCopy);
}

// ---------------------------------------------------------------------------------------------
// Pens and brushes

QPen Canvas::makePen()
{
    const PenObject &p = m_dc.pen;
    const quint32 style = p.style & gdi::PsStyleMask;
    if (style == gdi::PsNull)
        return Qt::NoPen;
    QColor color = p.color;
    if (m_dc.rop2 == kR2Black)
        color = Qt::black;
    else if (m_dc.rop2 == kR2White)
        color = Qt::white;
    qreal width = p.width * scaleFactor();
    const bool thin = width <= 1.5;
    if (width < 1 || !std::isfinite(width))
        width = 1;
    width = std::min<qreal>(width, kMaxImageCoordinate);
    QPen pen(color, width);
    const bool geometric = p.style & gdi::PsGeometric;
    switch (p.style & gdi::PsEndCapMask) {
    case gdi::PsEndCapSquare:
        pen.setCapStyle(Qt::SquareCap);
        break;
    case gdi::PsEndCapFlat:
        pen.setCapStyle(Qt::FlatCap);
        break;
    default:
        pen.setCapStyle(Qt::RoundCap);
    }
    switch (p.style & gdi::PsJoinMask) {
    case gdi::PsJoinBevel:
        pen.setJoinStyle(Qt::BevelJoin);
        break;
    case gdi::PsJoinMiter:
        pen.setJoinStyle(Qt::MiterJoin);
        break;
    default:
        pen.setJoinStyle(Qt::RoundJoin);
    }
    // Dash lengths: thin pens use fixed pixel patterns, wide ones scale with their width.
    QList<qreal> dashes;
    switch (style) {
    case gdi::PsDash:
        dashes = thin ? QList<qreal>{18, 6} : QList<qreal>{3, 1};
        break;
    case gdi::PsDot:
    case gdi::PsAlternate:
        dashes = thin ? QList<qreal>{3, 3} : QList<qreal>{1, 1};
        break;
    case gdi::PsDashDot:
        dashes = thin ? QList<qreal>{9, 6, 3, 6} : QList<qreal>{3, 1, 1, 1};
        break;
    case gdi::PsDashDotDot:
        dashes = thin ? QList<qreal>{9, 3, 3, 3, 3, 3} : QList<qreal>{3, 1, 1, 1, 1, 1};
        break;
    case gdi::PsUserStyle:
        for (qreal d : p.dashes)
            dashes.append(std::max<qreal>(geometric ? d : d * scaleFactor() / width, 0.1));
        break;
    default:
        break;
    }
    if (!dashes.isEmpty() && dashes.size() % 2 == 0) {
        if (thin)
            pen.setCapStyle(Qt::FlatCap);
        pen.setDashPattern(dashes);
    }
    if (p.fill && geometric)
        pen.setBrush(makeBrush(*p.fill));
    return pen;
}

// A monochrome pattern paints its dark pixels in the text colour and its light ones in the
// background colour in force where it is used.
QImage Canvas::monoPattern(const QImage &pattern)
{
    const QRgb fore = m_dc.textColor.rgb(), back = m_dc.bkColor.rgb();
    if (m_mono.source.cacheKey() == pattern.cacheKey() && m_mono.fore == fore &&
        m_mono.back == back)
        return m_mono.image;
    if (!m_budget.charge(qreal(pattern.width()) * pattern.height()))
        return {};
    QImage out = pattern.convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < out.height(); ++y) {
        auto *line = reinterpret_cast<QRgb *>(out.scanLine(y));
        for (int x = 0; x < out.width(); ++x)
            line[x] = qGray(line[x]) < 128 ? fore : back;
    }
    m_mono = {pattern, fore, back, out};
    return out;
}

QBrush Canvas::makeBrush(const BrushObject &b)
{
    QColor color = b.color;
    if (m_dc.rop2 == kR2Black)
        color = Qt::black;
    else if (m_dc.rop2 == kR2White)
        color = Qt::white;
    switch (b.style) {
    case gdi::BsSolid:
        return color;
    case gdi::BsHatched: {
        static constexpr Qt::BrushStyle kHatches[] = {Qt::HorPattern,   Qt::VerPattern,
                                                      Qt::FDiagPattern, Qt::BDiagPattern,
                                                      Qt::CrossPattern, Qt::DiagCrossPattern};
        return QBrush(color, b.hatch < 6 ? kHatches[b.hatch] : Qt::SolidPattern);
    }
    case gdi::BsPattern:
        if (const QImage mono = b.pattern.isNull() ? QImage() : monoPattern(b.pattern);
            !mono.isNull())
            return QBrush(mono);
        return color;
    case gdi::BsDibPattern:
    case gdi::BsDibPatternPt:
        if (!b.pattern.isNull())
            return QBrush(b.pattern);
        return color;
    default:
        return Qt::NoBrush;
    }
}

} // namespace metafile::detail
