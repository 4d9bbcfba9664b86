#include "emfplus_objects.h"
#include "text.h"

#include <QFont>
#include <QPainter>

// Fonts and text: strings laid out in a rectangle, and characters placed one by one.
namespace metafile::detail {

namespace {

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

} // namespace

std::optional<FontData> EmfPlusPlayer::State::readFont(ByteReader &r)
{
    r.u32(); // version
    FontData f;
    f.emSize = r.f32();
    f.unit = r.u32();
    f.style = r.i32();
    r.u32();
    const quint32 length = r.u32();
    if (length > 256)
        return {};
    for (quint32 i = 0; i < length; ++i)
        f.family.append(QChar(r.u16()));
    // The name carries its length; a NUL, where one is written, ends it early.
    if (const qsizetype end = f.family.indexOf(QChar(0)); end >= 0)
        f.family.truncate(end);
    f.family = fontFamily(f.family);
    if (!r.ok())
        return {};
    return f;
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

} // namespace metafile::detail
