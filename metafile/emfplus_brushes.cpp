#include "emfplus_objects.h"
#include "players.h"

#include <QLinearGradient>
#include <QPainter>
#include <algorithm>
#include <limits>

// Brushes: solid, hatched, texture and linear gradient ones, and path gradients shaded pixel by
// pixel.
namespace metafile::detail {

namespace {

// A metafile as a brush's texture: played at its natural size, spending the host's budget; a
// null image when it is too deep or cannot be played.
QImage playedTexture(Canvas &canvas, QByteArrayView data)
{
    const int depth = canvas.nestingDepth();
    if (data.isEmpty() || depth >= kMaxNesting || !canvas.budget().charge(qreal(data.size())))
        return {};
    const auto picture = renderNested(data, 1, Nesting{&canvas.budget(), depth + 1});
    return picture ? picture->image : QImage();
}

// A position or factor along a gradient, 0 for what is no number.
qreal fraction(qreal v)
{
    return std::isfinite(v) ? std::clamp<qreal>(v, 0, 1) : 0;
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
        constexpr quint32 kMetafileImage = 2;
        ByteReader metafile = r;
        metafile.u32(); // version
        QImage img;
        if (metafile.u32() == kMetafileImage) {
            metafile.u32(); // WMF, placeable WMF, EMF or EMF+: told by the data itself
            img = playedTexture(
                canvas, metafile.bytes(std::min<qint64>(metafile.u32(), metafile.remaining())));
        } else {
            img = image(r);
        }
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

} // namespace metafile::detail
