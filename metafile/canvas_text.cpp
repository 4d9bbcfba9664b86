#include "canvas.h"
#include "canvas_geometry.h"
#include "rasterop.h"
#include "symbolfont.h"
#include "text.h"

#include <QCoreApplication>
#include <QFontMetricsF>
#include <QGuiApplication>
#include <QLinearGradient>
#include <QPainterPathStroker>
#include <cmath>

// Text: fonts realised as GDI does, placed by their cells.
namespace metafile::detail {

// ---------------------------------------------------------------------------------------------
// Text

void Canvas::text(QPointF reference, const QString &given, const QList<qreal> &dx, quint32 options,
                  const std::optional<QRectF> &rect, const QList<qreal> &dy, bool compatible)
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
        const QPainterPath mapped = filledRect(t, *rect);
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

    QString family = f.face.isEmpty() ? QStringLiteral("Sans") : fontFamily(f.face);
    if (auto symbols = symbolText(f.face, f.charset, str)) {
        family = symbols->family;
        str = symbols->text;
    }
    QFont font(family);
    font.setWeight(QFont::Weight(std::clamp(f.weight == 0 ? 400 : f.weight, 100, 900)));
    font.setItalic(f.italic);
    font.setUnderline(f.underline);
    font.setStrikeOut(f.strikeOut);
    font.setHintingPreference(QFont::PreferNoHinting);
    // A negative height is the em, a positive one the whole cell, as the face's Windows metrics
    // measure it; text is placed by that cell. Fonts are drawn at whole pixel sizes (Qt's glyphs
    // come so, and GDI realises its fonts so), and placed by the size drawn.
    const FaceMetrics face = faceMetrics(font);
    const qreal em = std::max<qreal>(
        std::round(f.height > 0 ? pixels / (face.ascent + face.descent) : pixels), 1);
    const qreal ascent = face.ascent * em, descent = face.descent * em;
    font.setPointSizeF(em * 72 / dpi);
    if (f.width != 0) {
        const qreal average = QFontMetricsF(font, &m_image).averageCharWidth();
        if (average > 0)
            font.setStretch(std::clamp(
                int(std::min<qreal>(100 * std::abs(qreal(f.width)) * sx / average, 4000) + 0.5), 1,
                4000));
    }
    const QFontMetricsF fm(font, &m_image);

    // Positions along the baseline in image pixels, and above it where offsets lift characters
    QList<qreal> positions, rises;
    qreal width = 0, rise = 0, lowest = 0, highest = 0;
    if (!dx.isEmpty() || !dy.isEmpty()) {
        positions.reserve(str.size());
        for (qsizetype i = 0; i < str.size(); ++i) {
            positions.append(width);
            rises.append(rise);
            lowest = std::min(lowest, rise);
            highest = std::max(highest, rise);
            width += dx.value(i) * sx;
            rise += dy.value(i) * sy;
        }
    } else {
        width = fm.horizontalAdvance(str);
    }
    if (!std::isfinite(width) || std::abs(width) > kMaxImageCoordinate || !std::isfinite(rise) ||
        highest - lowest > kMaxImageCoordinate)
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
        y0 = -descent;
        break;
    default:
        y0 = ascent;
    }
    const QTransform &w = m_dc.world;
    // The escapement turns counter-clockwise in logical space, so a mapping that turns an axis
    // over (a y axis pointing up) turns it the other way on the picture; the glyphs stay upright.
    const qreal escapement = (t.determinant() < 0 ? -1 : 1) * f.escapement / 10.0;
    const qreal turn = qRadiansToDegrees(std::atan2(w.m12(), w.m11()));
    const qreal angle = escapement - turn;
    // Raster glyphs cannot turn: in the compatible mode each glyph is placed along the turned
    // baseline and drawn upright (but for the escapement).
    constexpr qreal kNoTurn = 0.01; // degrees
    const bool upright = compatible && std::abs(turn) > kNoTurn;
    if (upright && positions.isEmpty()) {
        for (qsizetype i = 0; i < str.size(); ++i) {
            positions.append(fm.horizontalAdvance(str.left(i)));
            rises.append(0);
        }
    }
    QTransform placement;
    placement.translate(origin.x(), origin.y());
    placement.rotate(-angle);
    const QRectF box(x0, y0 - ascent, width, ascent + descent);
    if (!spend(placement.mapRect(box.adjusted(0, -highest, 0, -lowest))))
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
        m_painter.fillRect(placement.type() > QTransform::TxTranslate
                               ? box
                               : pixelAligned(box.translated(origin)).translated(-origin),
                           m_dc.bkColor);
    m_painter.setFont(font);
    m_painter.setPen(m_dc.textColor);
    if (positions.isEmpty()) {
        m_painter.drawText(QPointF(x0, y0), str);
    } else {
        for (qsizetype i = 0; i < str.size(); ++i) {
            qsizetype n = 1;
            if (str[i].isHighSurrogate() && i + 1 < str.size() && str[i + 1].isLowSurrogate())
                n = 2;
            if (upright) {
                const QPointF at = placement.map(QPointF(x0 + positions[i], -rises[i]));
                QTransform glyph;
                glyph.translate(at.x(), at.y());
                glyph.rotate(-escapement);
                m_painter.setTransform(glyph);
                m_painter.drawText(QPointF(0, y0), str.mid(i, n));
            } else {
                m_painter.drawText(QPointF(x0 + positions[i], y0 - rises[i]), str.mid(i, n));
            }
            i += n - 1;
        }
    }
    m_painter.resetTransform();
    if (updateCp) {
        const QPointF endImage = placement.map(QPointF(width, -rise));
        bool invertible = false;
        const QTransform inv = t.inverted(&invertible);
        if (invertible)
            m_dc.currentPos = inv.map(endImage);
    }
}

} // namespace metafile::detail
