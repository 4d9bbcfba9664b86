#include "canvas.h"

#include "rasterop.h"
#include "symbolfont.h"

#include <QCoreApplication>
#include <QFontMetricsF>
#include <QGuiApplication>
#include <QLinearGradient>
#include <QPainterPathStroker>
#include <cmath>

namespace metafile::detail {
namespace {

constexpr qreal kMaxImageCoordinate = 1 << 22;
// Qt's rasteriser keeps the cells of each pixel row in a list it walks for every new cell, so
// a row that many edges cross costs by the square of their number (measured: a 4000-corner
// star took minutes). A wide pen's outline has two edges per segment and reaches further.
constexpr qreal kCostPerRowCrossing = 8;
// Flattening walks every element, and makes lines of curves.
constexpr qreal kCostPerPathElement = 32;
constexpr qreal kShrinkFactor = 4;
constexpr qreal kSamePoint = 1e-6; // image pixels

qreal rowCrossingCost(const QPainterPath &path, int rows, qreal penWidth, int edgesPerSegment)
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

qint64 heldBytes(const GdiObject &object)
{
    const auto *brush = std::get_if<BrushObject>(&object);
    return brush ? brush->pattern.sizeInBytes() : 0;
}

// Qt's polygon regions leak memory once coordinates reach about 2^20 pixels. What lies outside
// the picture does not matter to a clip, so such a polygon is cut to the picture first.
QPolygon regionPolygon(const QPolygonF &polygon, const QRect &picture)
{
    constexpr qreal kRegionLimit = 1 << 17;
    const QRectF b = polygon.boundingRect();
    if (std::abs(b.left()) < kRegionLimit && std::abs(b.right()) < kRegionLimit &&
        std::abs(b.top()) < kRegionLimit && std::abs(b.bottom()) < kRegionLimit)
        return polygon.toPolygon();
    return polygon.intersected(QPolygonF(QRectF(picture.adjusted(-1, -1, 1, 1)))).toPolygon();
}

// What drawing through a region costs: its rectangles and its pixels.
qreal regionWork(const QRegion &image)
{
    qreal work = 0;
    for (const QRect &r : image)
        work += kCostPerRect + qreal(r.width()) * r.height();
    return work;
}

// How many lines flattening `path` makes at most: Qt splits a curve in halves until it lies
// within half a pixel of its chord (at most 2^9 pieces), and each halving quarters the distance.
qreal flattenedElements(const QPainterPath &path)
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

bool saneRect(const QRectF &r)
{
    return std::isfinite(r.left()) && std::isfinite(r.right()) && std::isfinite(r.top()) &&
           std::isfinite(r.bottom()) && std::abs(r.left()) < kMaxImageCoordinate &&
           std::abs(r.right()) < kMaxImageCoordinate && std::abs(r.top()) < kMaxImageCoordinate &&
           std::abs(r.bottom()) < kMaxImageCoordinate;
}

bool saneTransform(const QTransform &t)
{
    for (qreal v : {t.m11(), t.m12(), t.m21(), t.m22(), t.dx(), t.dy()})
        if (!std::isfinite(v) || std::abs(v) > 1e9)
            return false;
    return true;
}

QColor stockGray(int level)
{
    return QColor(level, level, level);
}

} // namespace

Canvas::Canvas(QImage &image, Mapping mapping, const QTransform &deviceToImage, QSizeF pixelsPerMm,
               const Stop &stop)
    : m_image(image), m_painter(&image), m_mapping(mapping), m_deviceToImage(deviceToImage),
      m_pixelsPerMm(pixelsPerMm), m_budget(stop)
{
    m_painter.setRenderHint(QPainter::Antialiasing);
    m_painter.setRenderHint(QPainter::TextAntialiasing);
    m_painter.setRenderHint(QPainter::SmoothPixmapTransform);
    m_objects.resize(16);
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
        m_dc.pen = PenObject{gdi::PsSolid, 0, Qt::white, {}};
        break;
    case 7:
        m_dc.pen = PenObject{gdi::PsSolid, 0, Qt::black, {}};
        break;
    case 8:
        m_dc.pen = PenObject{gdi::PsNull, 0, Qt::black, {}};
        break;
    case 15:
        m_dc.palette = {};
        break;
    case 18:
        m_dc.brush = BrushObject{gdi::BsSolid, Qt::white, 0, {}};
        break;
    case 19:
        m_dc.pen = PenObject{gdi::PsSolid, 0, Qt::black, {}};
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
    const QRectF visible = imageBounds.intersected(QRectF(m_image.rect()));
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
                         kCostPerRect * std::min<qreal>(b.height(), m_image.height())))
        return {};
    return QRegion(regionPolygon(poly, m_image.rect()));
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
            rects.append(mapped.toAlignedRect().intersected(m_image.rect()));
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
            rects.append(mapped.toAlignedRect().intersected(m_image.rect()));
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

QPen Canvas::makePen() const
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
    const QRectF bounds = p.controlPointRect().adjusted(-penWidth, -penWidth, penWidth, penWidth);
    const qreal rowWork = (hasBrush ? rowCrossingCost(p, m_image.height(), 0, 1) : 0) +
                          (penWidth > 0 ? rowCrossingCost(p, m_image.height(), penWidth, 2) : 0);
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
        if (pen.style() != Qt::NoPen)
            painter.strokePath(p, pen);
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

void Canvas::fillPath()
{
    QPainterPath p = std::exchange(m_path, QPainterPath());
    m_recording = false;
    p.setFillRule(m_dc.polyFillMode == gdi::Winding ? Qt::WindingFill : Qt::OddEvenFill);
    paintDevicePath(p, true, false);
}

void Canvas::strokePath()
{
    QPainterPath p = std::exchange(m_path, QPainterPath());
    m_recording = false;
    paintDevicePath(p, false, true);
}

void Canvas::strokeAndFillPath()
{
    QPainterPath p = std::exchange(m_path, QPainterPath());
    m_recording = false;
    p.setFillRule(m_dc.polyFillMode == gdi::Winding ? Qt::WindingFill : Qt::OddEvenFill);
    paintDevicePath(p, true, true);
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
    // The region is built row by row, through every edge that crosses the row, as a fill is.
    const qreal lines = flattenedElements(p);
    if (!saneRect(p.controlPointRect()) || lines > kMaxPathElements ||
        !m_budget.charge(kCostPerCall + kCostPerPathElement * lines +
                         rowCrossingCost(p, m_image.height(), 0, 1)))
        return;
    QRegion r;
    for (const QPolygonF &poly : p.toSubpathPolygons()) {
        const QRegion part(regionPolygon(poly, m_image.rect()),
                           m_dc.polyFillMode == gdi::Winding ? Qt::WindingFill : Qt::OddEvenFill);
        if (!m_budget.charge(kCostPerRect * qreal(r.rectCount() + part.rectCount())))
            return;
        r ^= part;
    }
    combineClip(r, mode);
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

// ---------------------------------------------------------------------------------------------
// Text

void Canvas::text(QPointF reference, const QString &given, const QList<qreal> &dx, quint32 options,
                  const std::optional<QRectF> &rect)
{
    QString str = given;
    // Measuring and shaping cost by the characters: paid for before either.
    if (m_recording || m_dc.rop2 == kR2Nop ||
        !m_budget.charge(kCostPerCharacter * qreal(given.size())))
        return;
    const QTransform t = fullTransform();
    if (!saneTransform(t))
        return;
    if (rect && (options & gdi::EtoOpaque)) {
        QPainterPath rp;
        rp.addRect(rect->normalized());
        const QPainterPath mapped = t.map(rp);
        if (spend(mapped.controlPointRect())) {
            applyClip();
            m_painter.fillPath(mapped, m_dc.bkColor);
        }
    }
    if (str.isEmpty() || !qobject_cast<QGuiApplication *>(QCoreApplication::instance()))
        return;

    const bool updateCp = m_dc.textAlign & gdi::TaUpdateCp;
    const QPointF origin = t.map(updateCp ? m_dc.currentPos : reference);
    const qreal sx = std::hypot(t.m11(), t.m12());
    const qreal sy = std::hypot(t.m21(), t.m22());
    const FontObject &f = m_dc.font;
    const qreal dpi = m_image.logicalDpiY() > 0 ? m_image.logicalDpiY() : kScreenDpi;
    qreal pixels = f.height == 0 ? 16 : std::abs(qreal(f.height)) * sy;
    if (!std::isfinite(pixels) || pixels < 0.5 || pixels > 16384 || !std::isfinite(origin.x()) ||
        !std::isfinite(origin.y()))
        return;

    QString family = f.face.isEmpty() ? QStringLiteral("Sans") : f.face;
    if (auto symbols = symbolText(f.face, f.charset, str)) {
        family = symbols->family;
        str = symbols->text;
    }
    QFont font(family);
    font.setPointSizeF(pixels * 72 / dpi);
    if (f.height > 0) { // cell height: shrink to the character height
        const QFontMetricsF cell(font, &m_image);
        if (cell.height() > 0)
            font.setPointSizeF(std::max<qreal>(pixels * pixels / cell.height(), 0.5) * 72 / dpi);
    }
    font.setWeight(QFont::Weight(std::clamp(f.weight == 0 ? 400 : f.weight, 100, 900)));
    font.setItalic(f.italic);
    font.setUnderline(f.underline);
    font.setStrikeOut(f.strikeOut);
    font.setHintingPreference(QFont::PreferNoHinting);
    if (f.width != 0) {
        const qreal average = QFontMetricsF(font, &m_image).averageCharWidth();
        if (average > 0)
            font.setStretch(std::clamp(
                int(std::min<qreal>(100 * std::abs(qreal(f.width)) * sx / average, 4000) + 0.5), 1,
                4000));
    }
    const QFontMetricsF fm(font, &m_image);

    // Positions along the baseline in image pixels
    QList<qreal> positions;
    qreal width = 0;
    if (!dx.isEmpty()) {
        positions.reserve(str.size());
        for (qsizetype i = 0; i < str.size(); ++i) {
            positions.append(width);
            width += dx.value(i) * sx;
        }
    } else {
        width = fm.horizontalAdvance(str);
    }
    if (!std::isfinite(width) || std::abs(width) > kMaxImageCoordinate)
        return;
    qreal x0 = 0, y0 = 0;
    switch (m_dc.textAlign & gdi::TaHorizontalMask) {
    case gdi::TaCenter:
        x0 = -width / 2;
        break;
    case gdi::TaRight:
        x0 = -width;
        break;
    }
    switch (m_dc.textAlign & gdi::TaVerticalMask) {
    case gdi::TaBaseline:
        break;
    case gdi::TaBottom:
        y0 = -fm.descent();
        break;
    default:
        y0 = fm.ascent();
    }
    const QTransform &w = m_dc.world;
    const qreal angle = f.escapement / 10.0 - qRadiansToDegrees(std::atan2(w.m12(), w.m11()));
    QTransform placement;
    placement.translate(origin.x(), origin.y());
    placement.rotate(-angle);
    const QRectF box(x0, y0 - fm.ascent(), width, fm.height());
    if (!spend(placement.mapRect(box)))
        return;

    applyClip();
    if (rect && (options & gdi::EtoClipped)) {
        QRegion clip = QRegion(t.mapRect(rect->normalized()).toAlignedRect());
        if (m_dc.clip)
            clip &= *m_dc.clip;
        m_painter.setClipRegion(clip);
        m_clipApplied = false;
    }
    m_painter.setTransform(placement);
    if (m_dc.bkMode == gdi::Opaque)
        m_painter.fillRect(box, m_dc.bkColor);
    m_painter.setFont(font);
    m_painter.setPen(m_dc.textColor);
    if (positions.isEmpty()) {
        m_painter.drawText(QPointF(x0, y0), str);
    } else {
        for (qsizetype i = 0; i < str.size(); ++i) {
            qsizetype n = 1;
            if (str[i].isHighSurrogate() && i + 1 < str.size() && str[i + 1].isLowSurrogate())
                n = 2;
            m_painter.drawText(QPointF(x0 + positions[i], y0), str.mid(i, n));
            i += n - 1;
        }
    }
    m_painter.resetTransform();
    if (updateCp) {
        const QPointF endImage = placement.map(QPointF(width, 0));
        bool invertible = false;
        const QTransform inv = t.inverted(&invertible);
        if (invertible)
            m_dc.currentPos = inv.map(endImage);
    }
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
    QPainterPath p;
    p.addRect(logical.normalized());
    const QPainterPath mapped = t.map(p);
    if (!saneTransform(t) || !spend(mapped.controlPointRect()))
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
    m_painter.setTransform(full);
    drawSource(m_painter);
    m_painter.resetTransform();
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

qreal Canvas::deviceShapeWork(const QPainterPath &device, bool fill, bool stroke,
                              qreal devicePenWidth) const
{
    if (!saneTransform(m_deviceToImage))
        return 0;
    const QPainterPath image = m_deviceToImage.map(device);
    const qreal width =
        std::max<qreal>(1, devicePenWidth * std::sqrt(std::abs(m_deviceToImage.determinant())));
    const int rows = m_image.height();
    return (fill ? rowCrossingCost(image, rows, 0, 1) : 0) +
           (stroke ? rowCrossingCost(image, rows, width, 2) : 0);
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
