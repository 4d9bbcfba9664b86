// EMF player: 32-bit records over a reference device described by the header.
#include "bytes/byte_reader.h"
#include "canvas.h"
#include "dib.h"
#include "emfplus.h"
#include "players.h"
#include "rasterop.h"
#include "text.h"

#include <QPolygonF>
#include <algorithm>
#include <cmath>

namespace metafile::detail {

using bytes::ByteReader;

namespace {

constexpr qreal kRegionLimit = 1 << 29;
const QRectF kRegionLimits(QPointF(-kRegionLimit, -kRegionLimit),
                           QPointF(kRegionLimit, kRegionLimit));

enum RecordType : quint32
{
    Header = 1,
    PolyBezier = 2,
    Polygon = 3,
    Polyline = 4,
    PolyBezierTo = 5,
    PolylineTo = 6,
    PolyPolyline = 7,
    PolyPolygon = 8,
    SetWindowExtEx = 9,
    SetWindowOrgEx = 10,
    SetViewportExtEx = 11,
    SetViewportOrgEx = 12,
    Eof = 14,
    SetPixelV = 15,
    SetMapMode = 17,
    SetBkMode = 18,
    SetPolyFillMode = 19,
    SetRop2 = 20,
    SetStretchBltMode = 21,
    SetTextAlign = 22,
    SetTextColor = 24,
    SetBkColor = 25,
    OffsetClipRgn = 26,
    MoveToEx = 27,
    ExcludeClipRect = 29,
    IntersectClipRect = 30,
    ScaleViewportExtEx = 31,
    ScaleWindowExtEx = 32,
    SaveDc = 33,
    RestoreDc = 34,
    SetWorldTransform = 35,
    ModifyWorldTransform = 36,
    SelectObject = 37,
    CreatePen = 38,
    CreateBrushIndirect = 39,
    DeleteObject = 40,
    AngleArc = 41,
    Ellipse = 42,
    Rectangle = 43,
    RoundRect = 44,
    Arc = 45,
    Chord = 46,
    Pie = 47,
    SelectPalette = 48,
    CreatePalette = 49,
    LineTo = 54,
    ArcTo = 55,
    PolyDraw = 56,
    SetArcDirection = 57,
    BeginPath = 59,
    EndPath = 60,
    CloseFigure = 61,
    FillPath = 62,
    StrokeAndFillPath = 63,
    StrokePath = 64,
    FlattenPath = 65,
    WidenPath = 66,
    SelectClipPath = 67,
    AbortPath = 68,
    FillRgn = 71,
    FrameRgn = 72,
    InvertRgn = 73,
    PaintRgn = 74,
    ExtSelectClipRgn = 75,
    BitBlt = 76,
    StretchBlt = 77,
    SetDiBitsToDevice = 80,
    StretchDiBits = 81,
    ExtCreateFontIndirectW = 82,
    ExtTextOutA = 83,
    ExtTextOutW = 84,
    PolyBezier16 = 85,
    Polygon16 = 86,
    Polyline16 = 87,
    PolyBezierTo16 = 88,
    PolylineTo16 = 89,
    PolyPolyline16 = 90,
    PolyPolygon16 = 91,
    PolyDraw16 = 92,
    CreateMonoBrush = 93,
    CreateDibPatternBrushPt = 94,
    ExtCreatePen = 95,
    PolyTextOutA = 96,
    PolyTextOutW = 97,
    SmallTextOut = 108,
    AlphaBlend = 114,
    TransparentBlt = 116,
    GradientFill = 118,
    Comment = 70,
};

constexpr quint32 kStockFlag = 0x80000000u;
constexpr quint32 kGmCompatible = 1;
enum GradientFillMode : quint32
{
    kGradientFillRectH = 0,
    kGradientFillRectV = 1,
    kGradientFillTriangle = 2,
};
constexpr int kHeaderMinSize = 88;
constexpr quint32 kHeaderExtension1Size = 100; // pixel format, OpenGL
constexpr quint32 kHeaderExtension2Size = 108; // size in micrometres

class EmfPlayer
{
public:
    explicit EmfPlayer(Canvas &canvas) : m_canvas(canvas) {}
    bool play(quint32 type, QByteArrayView record);

private:
    QColor color(ByteReader &r);
    QRectF rect(ByteReader &r);
    QPointF point(ByteReader &r);
    QPolygonF points(ByteReader &r, quint32 count, bool small);
    QRegion regionData(ByteReader &r, quint32 size);
    bool polyRecord(ByteReader &r, quint32 type);
    bool polyPolyRecord(ByteReader &r, quint32 type);
    bool textRecord(ByteReader &r, quint32 type);
    bool emrText(ByteReader &r, bool wide, bool compatible);
    bool smallTextRecord(ByteReader &r);
    bool blitRecord(ByteReader &r, quint32 type);
    bool stretchDiBits(ByteReader &r, quint32 type);
    bool patternBrush(ByteReader &r, bool mono);
    bool extCreatePen(ByteReader &r);
    bool gradientFill(ByteReader &r);
    DibStatus dib(ByteReader &r, quint32 offBmi, quint32 cbBmi, quint32 offBits, quint32 cbBits,
                  quint32 usage, DibAlpha alpha, DibResult &out, bool withoutPalette = false);

    Canvas &m_canvas;
};

QColor EmfPlayer::color(ByteReader &r)
{
    const quint8 red = r.u8(), green = r.u8(), blue = r.u8();
    r.u8();
    return QColor(red, green, blue);
}

QRectF EmfPlayer::rect(ByteReader &r)
{
    const qint32 left = r.i32(), top = r.i32(), right = r.i32(), bottom = r.i32();
    return QRectF(QPointF(left, top), QPointF(right, bottom));
}

QPointF EmfPlayer::point(ByteReader &r)
{
    const qint32 x = r.i32(), y = r.i32();
    return QPointF(x, y);
}

QPolygonF EmfPlayer::points(ByteReader &r, quint32 count, bool small)
{
    QPolygonF out;
    if (qint64(count) * (small ? 4 : 8) > r.remaining()) {
        r.fail();
        return out;
    }
    out.reserve(count);
    for (quint32 i = 0; i < count; ++i) {
        if (small) {
            const qint16 x = r.i16(), y = r.i16();
            out.append(QPointF(x, y));
        } else {
            out.append(point(r));
        }
    }
    return out;
}

// Region data: a 32-byte header and a list of rectangles in device units.
QRegion EmfPlayer::regionData(ByteReader &r, quint32 size)
{
    const qsizetype start = r.pos();
    if (size < 32 || size > r.remaining()) {
        r.fail();
        return {};
    }
    r.u32(); // header size
    r.u32(); // type
    const quint32 count = r.u32();
    r.u32();
    r.skip(16);
    if (qint64(count) * 16 > qint64(size) - 32) {
        r.fail();
        return {};
    }
    QList<QRect> rects;
    rects.reserve(count);
    for (quint32 i = 0; i < count; ++i) {
        // Cut to what an int rectangle holds; the image clips far inside that anyway.
        const QRectF rf = rect(r).normalized() & kRegionLimits;
        if (rf.width() > 0 && rf.height() > 0)
            rects.append(rf.toRect());
    }
    r.seek(start + size);
    // Writers are trusted with neither the order nor the overlap of the rectangles.
    return m_canvas.deviceRectsToImage(rects);
}

bool EmfPlayer::polyRecord(ByteReader &r, quint32 type)
{
    const bool small = type >= PolyBezier16;
    r.skip(16); // bounds
    const quint32 count = r.u32();
    const QPolygonF pts = points(r, count, small);
    if (!r.ok())
        return false;
    Canvas &c = m_canvas;
    switch (small ? type - PolyBezier16 + PolyBezier : type) {
    case PolyBezier:
        c.polyBezier(pts, false);
        break;
    case Polygon:
        c.polygon(pts);
        break;
    case Polyline:
        c.polyline(pts);
        break;
    case PolyBezierTo:
        c.polyBezier(pts, true);
        break;
    case PolylineTo:
        c.polylineTo(pts);
        break;
    }
    return true;
}

bool EmfPlayer::polyPolyRecord(ByteReader &r, quint32 type)
{
    const bool small = type == PolyPolyline16 || type == PolyPolygon16;
    r.skip(16);
    const quint32 polys = r.u32();
    const quint32 total = r.u32();
    if (qint64(polys) * 4 + qint64(total) * (small ? 4 : 8) > r.remaining())
        return false;
    QList<quint32> counts;
    counts.reserve(polys);
    qint64 sum = 0;
    for (quint32 i = 0; i < polys; ++i) {
        counts.append(r.u32());
        sum += counts.last();
    }
    if (sum != total)
        return false;
    QList<QPolygonF> all;
    all.reserve(polys);
    for (quint32 n : counts)
        all.append(points(r, n, small));
    if (!r.ok())
        return false;
    if (type == PolyPolygon || type == PolyPolygon16)
        m_canvas.polyPolygon(all);
    else
        m_canvas.polyPolyline(all);
    return true;
}

// EXTTEXTOUT carries one text object, POLYTEXTOUT a count of them.
bool EmfPlayer::textRecord(ByteReader &r, quint32 type)
{
    constexpr qsizetype kMinTextObjectSize = 24;
    r.skip(16); // bounds
    const bool compatible = r.u32() == kGmCompatible;
    r.f32();
    r.f32();
    const bool poly = type == PolyTextOutA || type == PolyTextOutW;
    const quint32 count = poly ? r.u32() : 1;
    if (!r.ok() || count > r.remaining() / kMinTextObjectSize)
        return false;
    for (quint32 i = 0; i < count; ++i)
        if (!emrText(r, type == ExtTextOutW || type == PolyTextOutW, compatible))
            return false;
    return true;
}

// A text object at the read position; its offsets count from the start of the record.
bool EmfPlayer::emrText(ByteReader &r, bool wide, bool compatible)
{
    const QPointF ref = point(r);
    const quint32 chars = r.u32();
    const quint32 offString = r.u32();
    const quint32 options = r.u32();
    std::optional<QRectF> box;
    if (!(options & gdi::EtoNoRect)) {
        const QRectF rc = rect(r);
        if (rc.width() != 0 && rc.height() != 0)
            box = rc;
    }
    const quint32 offDx = r.u32();
    if (!r.ok())
        return false;
    const qint64 bytes = qint64(chars) * (wide ? 2 : 1);
    const QByteArrayView raw = r.slice(offString, bytes);
    if (!r.ok())
        return false;
    QString str;
    QList<qreal> dx, dy;
    // With ETO_PDY the advances come in pairs: across, then up the font.
    const bool pairs = options & gdi::EtoPdy;
    QList<qreal> unitDx, unitDy;
    if (offDx != 0 && chars > 0) {
        const QByteArrayView dxBytes = r.slice(offDx, qint64(chars) * 4 * (pairs ? 2 : 1));
        if (!r.ok())
            return false;
        ByteReader d(dxBytes);
        for (quint32 i = 0; i < chars; ++i) {
            unitDx.append(d.i32());
            if (pairs)
                unitDy.append(d.i32());
        }
    }
    if (wide) {
        str.reserve(chars);
        ByteReader units(raw);
        for (quint32 i = 0; i < chars; ++i)
            str.append(QChar(units.u16()));
        dx = unitDx;
        dy = unitDy;
    } else {
        str = decodeText(raw, m_canvas.dc().font.charset, unitDx, &dx);
        decodeText(raw, m_canvas.dc().font.charset, unitDy, &dy);
    }
    m_canvas.text(ref, str, dx, options, box, dy, compatible);
    return true;
}

// Text without advances, its characters stored in 8 bits where all of them fit.
bool EmfPlayer::smallTextRecord(ByteReader &r)
{
    const QPointF ref = point(r);
    const quint32 chars = r.u32();
    const quint32 options = r.u32();
    const bool compatible = r.u32() == kGmCompatible;
    r.f32();
    r.f32();
    std::optional<QRectF> box;
    if (!(options & gdi::EtoNoRect)) {
        const QRectF rc = rect(r);
        if (rc.width() != 0 && rc.height() != 0)
            box = rc;
    }
    const bool small = options & gdi::EtoSmallChars;
    ByteReader units(r.bytes(qint64(chars) * (small ? 1 : 2)));
    if (!r.ok())
        return false;
    QString str;
    str.reserve(chars);
    for (quint32 i = 0; i < chars; ++i)
        str.append(QChar(small ? units.u8() : units.u16()));
    m_canvas.text(ref, str, {}, options, box, {}, compatible);
    return true;
}

DibStatus EmfPlayer::dib(ByteReader &r, quint32 offBmi, quint32 cbBmi, quint32 offBits,
                         quint32 cbBits, quint32 usage, DibAlpha alpha, DibResult &out,
                         bool withoutPalette)
{
    // Offsets beyond the record spoil this bitmap only, not the reading of the record.
    ByteReader within = r;
    const QByteArrayView info = within.slice(offBmi, cbBmi);
    const QByteArrayView bits = within.slice(offBits, cbBits);
    if (!within.ok())
        return DibStatus::Malformed;
    return decodeDib(info, bits, usage, alpha,
                     withoutPalette ? QList<QRgb>() : m_canvas.dc().palette.colors, out,
                     &m_canvas.budget());
}

bool EmfPlayer::blitRecord(ByteReader &r, quint32 type)
{
    r.skip(16);
    const qint32 xDest = r.i32(), yDest = r.i32(), cxDest = r.i32(), cyDest = r.i32();
    const quint32 ropOrBlend = r.u32();
    const qint32 xSrc = r.i32(), ySrc = r.i32();
    float xf[6];
    for (float &v : xf)
        v = r.f32();
    r.u32(); // background colour
    const quint32 usage = r.u32();
    const quint32 offBmi = r.u32(), cbBmi = r.u32(), offBits = r.u32(), cbBits = r.u32();
    qint32 cxSrc = cxDest, cySrc = cyDest;
    if (type != BitBlt) {
        cxSrc = r.i32();
        cySrc = r.i32();
    }
    if (!r.ok())
        return false;
    const QRectF dest(xDest, yDest, cxDest, cyDest);
    if (cbBmi == 0 || cbBits == 0) {
        m_canvas.patBlt(dest, ropOrBlend);
        return true;
    }
    DibAlpha alphaMode = DibAlpha::Ignore;
    if (type == AlphaBlend && ((ropOrBlend >> 24) & 0xff) == 1) // AC_SRC_ALPHA
        alphaMode = DibAlpha::Premultiplied;
    DibResult out;
    switch (dib(r, offBmi, cbBmi, offBits, cbBits, usage, alphaMode, out)) {
    case DibStatus::Malformed: // a broken bitmap costs that bitmap only
    case DibStatus::Unsupported:
        return true;
    case DibStatus::Ok:
        break;
    }
    QImage image = out.image;
    quint32 rop = ropOrBlend;
    if (type == AlphaBlend) {
        const int constant = (ropOrBlend >> 16) & 0xff;
        if (constant != 255) {
            image = image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
            QImage faded(image.size(), QImage::Format_ARGB32_Premultiplied);
            faded.fill(Qt::transparent);
            QPainter p(&faded);
            p.setOpacity(constant / 255.0);
            p.drawImage(0, 0, image);
            p.end();
            image = faded;
        }
        rop = gdi::SrcCopy;
    } else if (type == TransparentBlt) {
        const QRgb key =
            qRgb(ropOrBlend & 0xff, (ropOrBlend >> 8) & 0xff, (ropOrBlend >> 16) & 0xff);
        image = image.convertToFormat(QImage::Format_ARGB32);
        for (int y = 0; y < image.height(); ++y) {
            auto *line = reinterpret_cast<QRgb *>(image.scanLine(y));
            for (int x = 0; x < image.width(); ++x)
                if ((line[x] & 0xffffff) == (key & 0xffffff))
                    line[x] = 0;
        }
        rop = gdi::SrcCopy;
    }
    m_canvas.drawBitmap(dest, image, QRectF(xSrc, ySrc, cxSrc, cySrc), rop);
    return true;
}

bool EmfPlayer::stretchDiBits(ByteReader &r, quint32 type)
{
    r.skip(16);
    const qint32 xDest = r.i32(), yDest = r.i32(), xSrc = r.i32(), ySrc = r.i32();
    const qint32 cxSrc = r.i32(), cySrc = r.i32();
    const quint32 offBmi = r.u32(), cbBmi = r.u32(), offBits = r.u32(), cbBits = r.u32();
    const quint32 usage = r.u32();
    quint32 rop = gdi::SrcCopy;
    qint32 cxDest = cxSrc, cyDest = cySrc;
    if (type == StretchDiBits) {
        rop = r.u32();
        cxDest = r.i32();
        cyDest = r.i32();
    } else {
        r.u32(); // first scan line
        r.u32(); // scan lines
    }
    if (!r.ok())
        return false;
    if (cbBmi == 0 || cbBits == 0)
        return true;
    DibResult out;
    switch (dib(r, offBmi, cbBmi, offBits, cbBits, usage, DibAlpha::Ignore, out)) {
    case DibStatus::Malformed:
    case DibStatus::Unsupported:
        return true;
    case DibStatus::Ok:
        break;
    }
    // Source rows count from the bottom of a bottom-up bitmap.
    const qreal top = out.bottomUp ? qreal(out.image.height()) - ySrc - cySrc : ySrc;
    m_canvas.drawBitmap(QRectF(xDest, yDest, cxDest, cyDest), out.image,
                        QRectF(xSrc, top, cxSrc, cySrc), rop);
    return true;
}

bool EmfPlayer::patternBrush(ByteReader &r, bool mono)
{
    const quint32 index = r.u32();
    const quint32 usage = r.u32();
    const quint32 offBmi = r.u32(), cbBmi = r.u32(), offBits = r.u32(), cbBits = r.u32();
    if (!r.ok())
        return false;
    BrushObject brush;
    brush.style = mono ? gdi::BsPattern : gdi::BsDibPattern;
    DibResult out;
    // A broken pattern leaves a grey brush, not a broken picture. A monochrome one's bits
    // (usage DIB_PAL_MONO, no colour table) choose between the text and background colours.
    dib(r, offBmi, cbBmi, offBits, cbBits, mono || usage != kDibPalIndices ? usage : kDibRgbColors,
        DibAlpha::Ignore, out, mono);
    brush.pattern = out.image;
    if (brush.pattern.isNull()) {
        brush.style = gdi::BsSolid;
        brush.color = Qt::gray;
    }
    m_canvas.putObject(index, brush);
    return true;
}

bool EmfPlayer::extCreatePen(ByteReader &r)
{
    const quint32 index = r.u32();
    const quint32 offBmi = r.u32(), cbBmi = r.u32(), offBits = r.u32(), cbBits = r.u32();
    PenObject pen;
    pen.style = r.u32();
    pen.width = r.u32();
    const quint32 brushStyle = r.u32();
    const quint32 colorRef = r.u32(); // the DIB's usage for pattern pens
    pen.color = QColor(colorRef & 0xff, (colorRef >> 8) & 0xff, (colorRef >> 16) & 0xff);
    const quint32 hatch = r.u32();
    const quint32 entries = r.u32();
    if (!r.ok() || qint64(entries) * 4 > r.remaining())
        return false;
    for (quint32 i = 0; i < entries; ++i)
        pen.dashes.append(r.u32());
    if (brushStyle == gdi::BsNull)
        pen.style = (pen.style & ~quint32(gdi::PsStyleMask)) | gdi::PsNull;
    if (!(pen.style & gdi::PsGeometric))
        pen.width = 0;
    else if (brushStyle == gdi::BsHatched)
        pen.fill = BrushObject{brushStyle, pen.color, hatch, {}};
    else if (brushStyle == gdi::BsPattern || brushStyle == gdi::BsDibPattern ||
             brushStyle == gdi::BsDibPatternPt) {
        // Only a monochrome BS_PATTERN takes the text and background colours.
        constexpr quint32 kBitCountOffset = 14;
        ByteReader header = r;
        header.seek(offBmi + kBitCountOffset);
        const bool mono = brushStyle == gdi::BsPattern && header.u16() == 1;
        DibResult out;
        dib(r, offBmi, cbBmi, offBits, cbBits, mono ? kDibRgbColors : colorRef & 0xffff,
            DibAlpha::Ignore, out, mono);
        if (!out.image.isNull()) // else the pen's colour
            pen.fill =
                BrushObject{mono ? gdi::BsPattern : gdi::BsDibPattern, pen.color, 0, out.image};
    }
    m_canvas.putObject(index, pen);
    return true;
}

bool EmfPlayer::gradientFill(ByteReader &r)
{
    r.skip(16);
    const quint32 vertices = r.u32(), objects = r.u32(), mode = r.u32();
    if (qint64(vertices) * 16 > r.remaining())
        return false;
    QList<Canvas::GradientVertex> vs;
    vs.reserve(vertices);
    for (quint32 i = 0; i < vertices; ++i) {
        const QPointF p = point(r);
        const quint16 red = r.u16(), green = r.u16(), blue = r.u16();
        r.u16(); // alpha: only AlphaBlend reads it
        vs.append({p, {red, green, blue}});
    }
    const auto colour = [&](quint32 i) {
        return QColor(vs[i].rgb[0] >> 8, vs[i].rgb[1] >> 8, vs[i].rgb[2] >> 8);
    };
    if (mode > kGradientFillTriangle) // GDI refuses other modes
        return r.ok();
    if (mode == kGradientFillTriangle) {
        if (qint64(objects) * 12 > r.remaining())
            return false;
        QList<std::array<quint32, 3>> triangles;
        triangles.reserve(objects);
        for (quint32 i = 0; i < objects; ++i) {
            const std::array<quint32, 3> tri{r.u32(), r.u32(), r.u32()};
            if (std::ranges::all_of(tri, [&](quint32 v) { return v < vertices; }))
                triangles.append(tri);
        }
        m_canvas.drawGradientTriangles(vs, triangles);
        return r.ok();
    }
    if (qint64(objects) * 8 > r.remaining())
        return false;
    for (quint32 i = 0; i < objects; ++i) {
        const quint32 a = r.u32(), b = r.u32();
        if (a >= vertices || b >= vertices)
            continue;
        m_canvas.drawGradientRect(QRectF(vs[a].p, vs[b].p), colour(a), colour(b),
                                  mode == kGradientFillRectV);
    }
    return r.ok();
}

bool EmfPlayer::play(quint32 type, QByteArrayView record)
{
    ByteReader r(record);
    r.skip(8);
    Canvas &c = m_canvas;
    DcState &dc = c.dc();
    switch (type) {
    case PolyBezier:
    case Polygon:
    case Polyline:
    case PolyBezierTo:
    case PolylineTo:
    case PolyBezier16:
    case Polygon16:
    case Polyline16:
    case PolyBezierTo16:
    case PolylineTo16:
        return polyRecord(r, type) && !c.failed();
    case PolyPolyline:
    case PolyPolygon:
    case PolyPolyline16:
    case PolyPolygon16:
        return polyPolyRecord(r, type) && !c.failed();
    case PolyDraw:
    case PolyDraw16: {
        r.skip(16);
        const quint32 count = r.u32();
        const QPolygonF pts = points(r, count, type == PolyDraw16);
        const QByteArrayView types = r.bytes(count);
        if (!r.ok())
            return false;
        c.polyDraw(pts, types.toByteArray());
        break;
    }
    case SetWindowExtEx: {
        const qint32 w = r.i32(), h = r.i32();
        dc.windowExt = QSizeF(w, h);
        break;
    }
    case SetWindowOrgEx:
        dc.windowOrg = point(r);
        break;
    case SetViewportExtEx: {
        const qint32 w = r.i32(), h = r.i32();
        dc.viewportExt = QSizeF(w, h);
        break;
    }
    case SetViewportOrgEx:
        dc.viewportOrg = point(r);
        break;
    case ScaleViewportExtEx:
    case ScaleWindowExtEx: {
        const qint32 xNum = r.i32(), xDenom = r.i32(), yNum = r.i32(), yDenom = r.i32();
        QSizeF &ext = type == ScaleWindowExtEx ? dc.windowExt : dc.viewportExt;
        if (xDenom != 0 && yDenom != 0)
            ext = QSizeF(ext.width() * xNum / xDenom, ext.height() * yNum / yDenom);
        break;
    }
    case SetPixelV: {
        const QPointF p = point(r);
        c.setPixel(p, color(r));
        break;
    }
    case SetMapMode: {
        const quint32 mode = r.u32();
        if (mode >= gdi::MmText && mode <= gdi::MmAnisotropic)
            dc.mapMode = int(mode);
        break;
    }
    case SetBkMode:
        dc.bkMode = int(r.u32());
        break;
    case SetPolyFillMode:
        dc.polyFillMode = int(r.u32());
        break;
    case SetRop2:
        dc.rop2 = int(r.u32());
        break;
    case SetStretchBltMode:
        dc.stretchMode = int(r.u32());
        break;
    case SetTextAlign:
        dc.textAlign = r.u32();
        break;
    case SetTextColor:
        dc.textColor = color(r);
        break;
    case SetBkColor:
        dc.bkColor = color(r);
        break;
    case SetArcDirection:
        dc.arcDirection = int(r.u32());
        break;
    case OffsetClipRgn:
        c.offsetClip(point(r));
        break;
    case MoveToEx:
        c.moveTo(point(r));
        break;
    case LineTo:
        c.lineTo(point(r));
        break;
    case ExcludeClipRect:
        c.excludeClipRect(rect(r));
        break;
    case IntersectClipRect:
        c.intersectClipRect(rect(r));
        break;
    case SaveDc:
        c.saveDc();
        break;
    case RestoreDc:
        c.restoreDc(r.i32());
        break;
    case SetWorldTransform:
    case ModifyWorldTransform: {
        qreal m[6];
        for (qreal &v : m)
            v = r.f32();
        const quint32 mode = type == SetWorldTransform ? 4 : r.u32();
        if (!r.ok())
            return false;
        for (qreal v : m)
            if (!std::isfinite(v) || std::abs(v) > 1e9)
                return true; // an absurd transform is ignored
        const QTransform x(m[0], m[1], m[2], m[3], m[4], m[5]);
        switch (mode) {
        case 1:
            dc.world = QTransform();
            break;
        case 2:
            dc.world = x * dc.world;
            break;
        case 3:
            dc.world = dc.world * x;
            break;
        case 4:
            dc.world = x;
            break;
        }
        break;
    }
    case SelectObject:
    case SelectPalette: {
        const quint32 index = r.u32();
        if (index & kStockFlag)
            c.selectStockObject(index & ~kStockFlag);
        else
            c.selectObject(index);
        break;
    }
    case DeleteObject:
        c.deleteObject(r.u32());
        break;
    case CreatePen: {
        const quint32 index = r.u32();
        PenObject pen;
        pen.style = r.u32();
        pen.width = r.i32();
        r.i32();
        pen.color = color(r);
        if (!r.ok())
            return false;
        c.putObject(index, pen);
        break;
    }
    case ExtCreatePen:
        if (!extCreatePen(r))
            return false;
        break;
    case CreateBrushIndirect: {
        const quint32 index = r.u32();
        BrushObject brush;
        brush.style = r.u32();
        brush.color = color(r);
        brush.hatch = r.u32();
        if (!r.ok())
            return false;
        if (brush.style != gdi::BsNull && brush.style != gdi::BsHatched)
            brush.style = gdi::BsSolid;
        c.putObject(index, brush);
        break;
    }
    case CreateMonoBrush:
    case CreateDibPatternBrushPt:
        if (!patternBrush(r, type == CreateMonoBrush))
            return false;
        break;
    case CreatePalette: {
        const quint32 index = r.u32();
        r.u16();
        const quint16 n = r.u16();
        if (qsizetype(n) * 4 > r.remaining())
            return false;
        PaletteObject palette;
        for (int i = 0; i < n; ++i) {
            const quint8 red = r.u8(), green = r.u8(), blue = r.u8();
            r.u8();
            palette.colors.append(qRgb(red, green, blue));
        }
        c.putObject(index, palette);
        break;
    }
    case ExtCreateFontIndirectW: {
        const quint32 index = r.u32();
        FontObject font;
        font.height = r.i32();
        font.width = r.i32();
        font.escapement = r.i32();
        r.i32();
        font.weight = r.i32();
        font.italic = r.u8();
        font.underline = r.u8();
        font.strikeOut = r.u8();
        font.charset = r.u8();
        r.skip(4);
        const QByteArrayView face = r.bytes(64);
        if (!r.ok())
            return false;
        QString name;
        for (qsizetype i = 0; i + 1 < face.size(); i += 2) {
            const char16_t u = char16_t(quint8(face[i]) | (quint8(face[i + 1]) << 8));
            if (u == 0)
                break;
            name.append(QChar(u));
        }
        font.face = name;
        c.putObject(index, font);
        break;
    }
    case AngleArc: {
        const QPointF center = point(r);
        const quint32 radius = r.u32();
        const float start = r.f32(), sweep = r.f32();
        c.angleArc(center, radius, start, sweep);
        break;
    }
    case Ellipse:
        c.ellipse(rect(r));
        break;
    case Rectangle:
        c.rectangle(rect(r));
        break;
    case RoundRect: {
        const QRectF box = rect(r);
        const qint32 w = r.i32(), h = r.i32();
        c.roundRect(box, QSizeF(w, h));
        break;
    }
    case Arc:
    case Chord:
    case Pie:
    case ArcTo: {
        const QRectF box = rect(r);
        const QPointF start = point(r), end = point(r);
        const ArcKind kind = type == Arc     ? ArcKind::Arc
                             : type == Chord ? ArcKind::Chord
                             : type == Pie   ? ArcKind::Pie
                                             : ArcKind::ArcTo;
        c.arc(box, start, end, kind);
        break;
    }
    case BeginPath:
        c.beginPath();
        break;
    case EndPath:
        c.endPath();
        break;
    case CloseFigure:
        c.closeFigure();
        break;
    case FillPath:
        c.fillPath();
        break;
    case StrokePath:
        c.strokePath();
        break;
    case StrokeAndFillPath:
        c.strokeAndFillPath();
        break;
    case FlattenPath:
        c.flattenPath();
        break;
    case AbortPath:
        c.abortPath();
        break;
    case SelectClipPath:
        c.selectClipPath(int(r.u32()));
        break;
    case ExtSelectClipRgn: {
        const quint32 size = r.u32();
        const quint32 mode = r.u32();
        if (!r.ok())
            return false;
        if (size == 0 || size < 32) {
            if (mode == gdi::RgnCopy)
                c.selectClipRegionLogical(nullptr);
            break;
        }
        const QRegion region = regionData(r, size);
        if (!r.ok())
            return false;
        c.combineClip(region, int(mode));
        break;
    }
    case FillRgn:
    case FrameRgn:
    case PaintRgn:
    case InvertRgn: {
        r.skip(16);
        const quint32 size = r.u32();
        quint32 brushIndex = 0;
        QSizeF frame;
        if (type == FillRgn || type == FrameRgn)
            brushIndex = r.u32();
        if (type == FrameRgn) {
            const qint32 w = r.i32(), h = r.i32();
            frame = QSizeF(w, h);
        }
        const QRegion region = regionData(r, size);
        if (!r.ok())
            return false;
        BrushObject brush = dc.brush;
        if (type == FillRgn || type == FrameRgn) {
            if (brushIndex & kStockFlag) {
                const BrushObject keep = dc.brush;
                c.selectStockObject(brushIndex & ~kStockFlag);
                brush = dc.brush;
                dc.brush = keep;
            } else if (const GdiObject *o = c.object(brushIndex)) {
                if (const auto *b = std::get_if<BrushObject>(o))
                    brush = *b;
            }
        }
        if (type == InvertRgn)
            c.invertRegion(region);
        else if (type == FrameRgn)
            c.frameRegion(region, brush, frame);
        else
            c.fillRegion(region, brush);
        break;
    }
    case ExtTextOutA:
    case ExtTextOutW:
    case PolyTextOutA:
    case PolyTextOutW:
        if (!textRecord(r, type))
            return false;
        break;
    case SmallTextOut:
        if (!smallTextRecord(r))
            return false;
        break;
    case BitBlt:
    case StretchBlt:
    case AlphaBlend:
    case TransparentBlt:
        if (!blitRecord(r, type))
            return false;
        break;
    case StretchDiBits:
    case SetDiBitsToDevice:
        if (!stretchDiBits(r, type))
            return false;
        break;
    case GradientFill:
        if (!gradientFill(r))
            return false;
        break;
    default:
        // Comments (including EMF+ records, whose EMF twins are played instead) and records
        // that draw nothing.
        break;
    }
    return r.ok() && !c.failed();
}

// Whether a record draws (the no-op blit that ends GDI+ files does not).
bool drawsGdi(quint32 type, QByteArrayView record)
{
    constexpr qsizetype kBlitRopOffset = 40;
    switch (type) {
    case BitBlt:
    case StretchBlt: {
        ByteReader r(record);
        r.seek(kBlitRopOffset);
        return rop3Index(r.u32()) != kRopNoOp;
    }
    case PolyBezier:
    case Polygon:
    case Polyline:
    case PolyBezierTo:
    case PolylineTo:
    case PolyPolyline:
    case PolyPolygon:
    case SetPixelV:
    case AngleArc:
    case Ellipse:
    case Rectangle:
    case RoundRect:
    case Arc:
    case Chord:
    case Pie:
    case LineTo:
    case ArcTo:
    case PolyDraw:
    case FillPath:
    case StrokeAndFillPath:
    case StrokePath:
    case FillRgn:
    case FrameRgn:
    case InvertRgn:
    case PaintRgn:
    case SetDiBitsToDevice:
    case StretchDiBits:
    case ExtTextOutA:
    case ExtTextOutW:
    case PolyTextOutA:
    case PolyTextOutW:
    case SmallTextOut:
    case PolyBezier16:
    case Polygon16:
    case Polyline16:
    case PolyBezierTo16:
    case PolylineTo16:
    case PolyPolyline16:
    case PolyPolygon16:
    case PolyDraw16:
    case AlphaBlend:
    case TransparentBlt:
    case GradientFill:
        return true;
    default:
        return false;
    }
}

// EMF+ records are played for pictures that GDI records do not draw: files written by GDI+
// alone, and dual files whose GDI twin holds no drawing.
bool playsEmfPlus(QByteArrayView stream, qsizetype headerSize, const Stop &stop)
{
    EmfPlusTraits traits;
    bool gdiDraws = false;
    ByteReader scan(stream);
    scan.seek(headerSize);
    for (qint64 count = 0; scan.remaining() >= 8 && count < kMaxRecords; ++count) {
        if (count % kRecordsBetweenStops == 0 && stop.expired())
            return false;
        const qsizetype start = scan.pos();
        const quint32 type = scan.u32(), size = scan.u32();
        if (size < 8 || size > scan.remaining() + 8 || type == Eof)
            break;
        const QByteArrayView record = stream.sliced(start, size);
        if (type == Comment)
            scanEmfPlus(record.sliced(8), traits);
        else
            gdiDraws = gdiDraws || drawsGdi(type, record);
        scan.seek(start + size);
    }
    return traits.present && (!traits.dual || !gdiDraws);
}

} // namespace

std::optional<Picture> renderEmf(QByteArrayView data, qreal devicePixelRatio, const Stop &stop,
                                 QSize seen, const Nesting &nesting)
{
    ByteReader r(data);
    const quint32 type = r.u32();
    const quint32 headerSize = r.u32();
    const QRectF bounds = [&] {
        const qint32 l = r.i32(), t = r.i32(), rr = r.i32(), b = r.i32();
        return QRectF(QPointF(l, t), QPointF(rr, b));
    }();
    const qint32 fl = r.i32(), ft = r.i32(), fr = r.i32(), fb = r.i32();
    r.u32(); // signature
    r.u32(); // version
    const quint32 totalBytes = r.u32();
    r.u32(); // records
    const quint16 handles = r.u16();
    r.u16();
    const quint32 descriptionChars = r.u32(), offDescription = r.u32();
    r.u32(); // palette entries
    const qint32 devW = r.i32(), devH = r.i32(), mmW = r.i32(), mmH = r.i32();
    // The extensions are there only where the header is long enough and neither the description
    // nor the pixel format starts inside them: many writers put the description at byte 88.
    const auto extends = [&](quint32 end, quint32 offset, quint32 size) {
        return headerSize >= end && (descriptionChars == 0 || offDescription >= end) &&
               (size == 0 || offset >= end);
    };
    qint32 umW = 0, umH = 0;
    const quint32 pixelFormatSize = r.u32(), offPixelFormat = r.u32();
    if (extends(kHeaderExtension1Size, offPixelFormat, pixelFormatSize) &&
        extends(kHeaderExtension2Size, offPixelFormat, pixelFormatSize)) {
        r.u32(); // OpenGL
        umW = r.i32();
        umH = r.i32();
    }
    if (!r.ok() || type != Header || headerSize < kHeaderMinSize || headerSize % 4 != 0 ||
        headerSize > data.size())
        return std::nullopt;
    if (totalBytes > data.size())
        return std::nullopt;
    const QByteArrayView stream = data.first(totalBytes >= headerSize ? totalBytes : data.size());

    // Reference device resolution in pixels per millimetre. GDI takes it from the whole
    // millimetres even where the micrometres are there: a frame far from the origin lands a few
    // pixels apart by the two.
    QSizeF ppmm(kScreenDpi / kMmPerInch, kScreenDpi / kMmPerInch);
    if (mmW > 0 && mmH > 0 && devW > 0 && devH > 0)
        ppmm = QSizeF(qreal(devW) / mmW, qreal(devH) / mmH);
    else if (umW > 0 && umH > 0 && devW > 0 && devH > 0)
        ppmm = QSizeF(devW * 1000.0 / umW, devH * 1000.0 / umH);

    // The frame is inclusive-inclusive in hundredths of a millimetre.
    QRectF frameMm(fl / 100.0, ft / 100.0, (qint64(fr) - fl + 1) / 100.0,
                   (qint64(fb) - ft + 1) / 100.0);
    if (!(frameMm.width() > 0 && frameMm.height() > 0)) {
        const QRectF b = bounds.normalized();
        if (!(b.width() >= 0 && b.height() >= 0))
            return std::nullopt;
        frameMm = QRectF(b.x() / ppmm.width(), b.y() / ppmm.height(),
                         (b.width() + 1) / ppmm.width(), (b.height() + 1) / ppmm.height());
    }
    // A frame of several metres (a page's units taken for hundredths of a millimetre) is
    // brought down to a size a picture can have, as the program showing it would scale it.
    const QSizeF twips = fitPhysical(frameMm.size() * kScreenDpi / kMmPerInch) * kTwipsPerPixel;
    auto [image, picture] = makeTarget(twips, devicePixelRatio, seen);
    if (image.isNull())
        return std::nullopt;

    // Reference device pixels to image pixels: the frame fills the picture.
    const QRectF frameDevice(frameMm.x() * ppmm.width(), frameMm.y() * ppmm.height(),
                             frameMm.width() * ppmm.width(), frameMm.height() * ppmm.height());
    QTransform deviceToImage;
    deviceToImage.scale(picture.width() / frameDevice.width(),
                        picture.height() / frameDevice.height());
    deviceToImage.translate(-frameDevice.x(), -frameDevice.y());

    {
        Canvas canvas(image, picture, Canvas::Mapping::MapModes, deviceToImage, ppmm, stop,
                      nesting);
        canvas.setObjectTableSize(handles);
        EmfPlayer player(canvas);
        std::optional<EmfPlusPlayer> plus;
        if (playsEmfPlus(stream, headerSize, stop))
            plus.emplace(canvas);
        ByteReader records(stream);
        records.seek(headerSize);
        qint64 count = 0;
        // A record that contradicts itself within its own size is passed over, as GDI passes it
        // over; the picture fails when the chain of records breaks, when it runs out of budget,
        // or when it shows nothing at all.
        bool skipped = false;
        while (true) {
            if (records.remaining() < 8 || ++count > kMaxRecords)
                return std::nullopt;
            const qsizetype start = records.pos();
            const quint32 recType = records.u32();
            const quint32 size = records.u32();
            if (size < 8 || size % 4 != 0 || size > records.remaining() + 8)
                return std::nullopt;
            const QByteArrayView record = stream.sliced(start, size);
            records.seek(start + size);
            if (recType == Eof)
                break;
            if (recType == Header)
                return std::nullopt;
            if (plus && recType == Comment)
                plus->playComment(record.sliced(8));
            skipped = !player.play(recType, record) || skipped;
            if (canvas.failed())
                return std::nullopt;
        }
        if (skipped && isBlank(image))
            return blankPlayed(image.size(), picture, [&] {
                return renderEmf(data, devicePixelRatio, stop, {}, nesting);
            });
    }
    return Picture{image, QSize(qRound(twips.width()), qRound(twips.height()))};
}

} // namespace metafile::detail
