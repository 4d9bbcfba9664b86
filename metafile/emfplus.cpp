// EMF+ player: the GDI+ records a sign needs (shapes, paths and curves, pens with their caps,
// solid, hatched, texture and gradient brushes, transforms with their save stack and containers,
// clipping and regions, bitmaps and metafiles as images, and text).
#include "emfplus.h"

#include "emfplus_objects.h"

#include <QPainter>
#include <QScopeGuard>
#include <algorithm>

// The records: the object table, transforms, saves and containers, and the shapes drawn with
// the brushes and pens of the table.
namespace metafile::detail {

namespace {

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

} // namespace

QTransform EmfPlusPlayer::State::matrix(ByteReader &r)
{
    qreal m[6];
    for (qreal &v : m)
        v = r.f32();
    return QTransform(m[0], m[1], m[2], m[3], m[4], m[5]);
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
    case PenObjectType:
        if (auto pen = readPen(r))
            return std::move(*pen);
        break;
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
    case FontObjectType:
        if (auto font = readFont(r))
            return std::move(*font);
        break;
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
