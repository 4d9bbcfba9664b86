// WMF player: 16-bit records, optionally behind a 22-byte placeable header.
#include "bytes/byte_reader.h"
#include "canvas.h"
#include "dib.h"
#include "players.h"
#include "text.h"

#include <QPolygonF>

namespace metafile::detail {

using bytes::ByteReader;

namespace {

enum Function : quint16
{
    Eof = 0x0000,
    SaveDc = 0x001E,
    RealizePalette = 0x0035,
    SetPalEntries = 0x0037,
    CreatePalette = 0x00F7,
    SetBkMode = 0x0102,
    SetMapMode = 0x0103,
    SetRop2 = 0x0104,
    SetPolyFillMode = 0x0106,
    SetStretchBltMode = 0x0107,
    RestoreDc = 0x0127,
    InvertRegion = 0x012A,
    PaintRegion = 0x012B,
    SelectClipRegion = 0x012C,
    SelectObject = 0x012D,
    SetTextAlign = 0x012E,
    DibCreatePatternBrush = 0x0142,
    DeleteObject = 0x01F0,
    CreatePatternBrush = 0x01F9,
    SetBkColor = 0x0201,
    SetTextColor = 0x0209,
    SetWindowOrg = 0x020B,
    SetWindowExt = 0x020C,
    SetViewportOrg = 0x020D,
    SetViewportExt = 0x020E,
    OffsetWindowOrg = 0x020F,
    OffsetViewportOrg = 0x0211,
    LineTo = 0x0213,
    MoveTo = 0x0214,
    OffsetClipRgn = 0x0220,
    FillRegion = 0x0228,
    SelectPalette = 0x0234,
    CreatePenIndirect = 0x02FA,
    CreateFontIndirect = 0x02FB,
    CreateBrushIndirect = 0x02FC,
    Polygon = 0x0324,
    Polyline = 0x0325,
    ScaleWindowExt = 0x0410,
    ScaleViewportExt = 0x0412,
    ExcludeClipRect = 0x0415,
    IntersectClipRect = 0x0416,
    Ellipse = 0x0418,
    Rectangle = 0x041B,
    SetPixel = 0x041F,
    FrameRegion = 0x0429,
    TextOut = 0x0521,
    PolyPolygon = 0x0538,
    RoundRect = 0x061C,
    PatBlt = 0x061D,
    CreateRegion = 0x06FF,
    Arc = 0x0817,
    Pie = 0x081A,
    Chord = 0x0830,
    DibBitBlt = 0x0940,
    ExtTextOut = 0x0A32,
    DibStretchBlt = 0x0B41,
    SetDibToDev = 0x0D33,
    StretchDib = 0x0F43,
};

struct Record
{
    quint16 function = 0;
    QByteArrayView params;
};

struct Scan
{
    std::vector<Record> records;
};

// Splits the record stream and checks its framing; the picture fails without an end record.
bool scanRecords(QByteArrayView data, Scan &out, const Stop &stop)
{
    ByteReader r(data);
    while (true) {
        if (r.remaining() < 6)
            return false;
        const quint32 words = r.u32();
        const quint16 function = r.u16();
        if (words < 3 || qint64(words) * 2 - 6 > r.remaining())
            return false;
        const QByteArrayView params = r.bytes(qsizetype(words) * 2 - 6);
        if (function == Eof)
            return true;
        if (out.records.size() >= size_t(kMaxRecords) ||
            (out.records.size() % kRecordsBetweenStops == 0 && stop.expired()))
            return false;
        out.records.push_back({function, params});
    }
}

// Twips per logical unit of the mapping modes that have a physical unit; 0 for the others.
qreal twipsPerUnit(int mapMode)
{
    switch (mapMode) {
    case gdi::MmLoMetric:
        return kTwipsPerInch / kMmPerInch / 10;
    case gdi::MmHiMetric:
        return kTwipsPerInch / kMmPerInch / 100;
    case gdi::MmLoEnglish:
        return kTwipsPerInch / 100.0;
    case gdi::MmHiEnglish:
        return kTwipsPerInch / 1000.0;
    case gdi::MmTwips:
        return 1;
    default:
        return 0;
    }
}

bool draws(quint16 function)
{
    switch (function) {
    case LineTo:
    case Polyline:
    case Polygon:
    case PolyPolygon:
    case Rectangle:
    case RoundRect:
    case Ellipse:
    case Arc:
    case Pie:
    case Chord:
    case SetPixel:
    case TextOut:
    case ExtTextOut:
    case PatBlt:
    case DibBitBlt:
    case DibStretchBlt:
    case StretchDib:
    case FillRegion:
    case FrameRegion:
    case PaintRegion:
    case InvertRegion:
        return true;
    default:
        return false;
    }
}

// The smallest rectangle around the points added.
struct Bounds
{
    qreal left = qInf(), top = qInf(), right = -qInf(), bottom = -qInf();
    void add(QPointF p)
    {
        left = std::min(left, p.x());
        right = std::max(right, p.x());
        top = std::min(top, p.y());
        bottom = std::max(bottom, p.y());
    }
    bool isEmpty() const { return left > right; }
    QRectF rect() const { return QRectF(QPointF(left, top), QPointF(right, bottom)); }
};

// Grows `bounds` by the logical points a drawing record touches; `current` follows MOVETO.
void addBounds(const Record &rec, QPointF &current, Bounds &bounds)
{
    ByteReader r(rec.params);
    QPolygonF points;
    const auto point = [&] {
        const qint16 y = r.i16(), x = r.i16();
        return QPointF(x, y);
    };
    const auto xyPoints = [&](qsizetype n) {
        for (qsizetype i = 0; i < n && r.remaining() >= 4; ++i) {
            const qint16 x = r.i16(), y = r.i16();
            points << QPointF(x, y);
        }
    };
    switch (rec.function) {
    case MoveTo:
        current = point();
        return;
    case LineTo:
        points << current << point();
        current = points.last();
        break;
    case Polyline:
    case Polygon:
        xyPoints(r.i16());
        break;
    case PolyPolygon: {
        const quint16 polys = r.u16();
        qsizetype total = 0;
        for (int i = 0; i < polys && r.ok(); ++i)
            total += r.u16();
        xyPoints(total);
        break;
    }
    case Rectangle:
    case Ellipse:
    case RoundRect:
    case Arc:
    case Pie:
    case Chord:
        r.skip(rec.function == RoundRect
                   ? 4
                   : (rec.function == Rectangle || rec.function == Ellipse ? 0 : 8));
        points << point() << point();
        break;
    case SetPixel:
        r.skip(4);
        points << point();
        break;
    case TextOut:
        r.skip((r.u16() + 1) & ~1);
        points << point();
        break;
    case ExtTextOut:
        points << point();
        break;
    case PatBlt:
    case DibBitBlt:
    case DibStretchBlt:
    case StretchDib: {
        // The destination rectangle closes the fixed part: height, width, y, x.
        const bool noBitmap = (rec.function == DibBitBlt || rec.function == DibStretchBlt) &&
                              rec.params.size() == qsizetype(rec.function >> 8) * 2;
        const qsizetype before = rec.function == PatBlt       ? 4
                                 : rec.function == DibBitBlt  ? 8
                                 : rec.function == StretchDib ? 14
                                                              : 12;
        r.skip(before + (noBitmap ? 2 : 0));
        const qint16 h = r.i16(), w = r.i16(), y = r.i16(), x = r.i16();
        points << QPointF(x, y) << QPointF(x + w, y + h);
        break;
    }
    default:
        return;
    }
    if (r.ok())
        for (const QPointF &p : points)
            bounds.add(p);
}

// GDI gives a WMF without a placeable header no size: the player that shows it chooses one. The
// window is the one in force when the drawing starts (writers often set a placeholder first),
// or the bounds of the drawing where the file sets none. A mapping mode with a physical unit
// (metric, English, twips) gives the picture that size, within kMaxPhysicalSide and
// kMaxPhysicalPixels (so that it still fits at twice the pixel density); in the others the
// window's units count as pixels of a 96-dpi screen and a longer side above kMaxPlainSide is
// brought down to it. Both keep the aspect, and no such picture is refused for its size.
constexpr qreal kMaxPlainSide = 1024;

struct PlainFrame
{
    QRectF window; // logical units; a negative extent turns the axis round
    QSizeF pixels; // natural size at 96 dpi
};

std::optional<PlainFrame> plainFrame(const std::vector<Record> &records)
{
    int mapMode = gdi::MmAnisotropic;
    QPointF org;
    std::optional<QSizeF> ext;
    QPointF current;
    Bounds bounds;
    bool drawing = false;
    for (const Record &rec : records) {
        drawing = drawing || draws(rec.function);
        addBounds(rec, current, bounds);
        if (drawing)
            continue;
        ByteReader r(rec.params);
        if (rec.function == SetMapMode) {
            mapMode = r.u16();
        } else if (rec.function == ScaleWindowExt) {
            const qint16 yDenom = r.i16(), yNum = r.i16(), xDenom = r.i16(), xNum = r.i16();
            if (ext && r.ok() && xDenom != 0 && xNum != 0 && yDenom != 0 && yNum != 0)
                ext = QSizeF(ext->width() * xNum / xDenom, ext->height() * yNum / yDenom);
        } else {
            const qint16 y = r.i16(), x = r.i16();
            if (!r.ok())
                continue;
            if (rec.function == SetWindowOrg)
                org = QPointF(x, y);
            else if (rec.function == OffsetWindowOrg)
                org += QPointF(x, y);
            else if (rec.function == SetWindowExt && x != 0 && y != 0)
                ext = QSizeF(x, y);
        }
    }
    const qreal unit = twipsPerUnit(mapMode);
    PlainFrame frame;
    if (ext) {
        // A fixed mode's y axis points up from the window origin.
        frame.window =
            QRectF(org, unit > 0 ? QSizeF(std::abs(ext->width()), -std::abs(ext->height())) : *ext);
    } else if (!bounds.isEmpty()) {
        const QRectF b = bounds.rect();
        frame.window = unit > 0 ? QRectF(b.bottomLeft(), QSizeF(b.width(), -b.height())) : b;
    } else {
        return std::nullopt; // nothing drawn and no size given
    }
    // A line along an axis still has some width.
    QSizeF size(std::max<qreal>(std::abs(frame.window.width()), 1),
                std::max<qreal>(std::abs(frame.window.height()), 1));
    if (unit > 0)
        size = fitPhysical(size * unit / kTwipsPerPixel);
    else
        size *= std::min(qreal(1), kMaxPlainSide / std::max(size.width(), size.height()));
    frame.pixels = QSizeF(std::max<qreal>(std::round(size.width()), 1),
                          std::max<qreal>(std::round(size.height()), 1));
    if (frame.window.width() == 0)
        frame.window.setWidth(1);
    if (frame.window.height() == 0)
        frame.window.setHeight(1);
    return frame;
}

class WmfPlayer
{
public:
    WmfPlayer(Canvas &canvas) : m_canvas(canvas) {}
    // False for a record whose content does not hold together; it is then passed over.
    bool play(const Record &record);

private:
    bool playRecord(const Record &record);
    void place(GdiObject object);
    QColor color(ByteReader &r);
    QRectF rect(ByteReader &r);
    QPointF point(ByteReader &r);
    QPolygonF points(ByteReader &r, qsizetype count);
    void textOut(ByteReader &r, bool extended);
    bool bitmap(ByteReader &r, quint16 function, quint16 recordWords);

    Canvas &m_canvas;
    bool m_placed = false;
};

// Objects take the lowest free slot of the table, so one that GDI fails to create still takes
// its slot: the objects after it keep the indices their writer gave them.
void WmfPlayer::place(GdiObject object)
{
    m_canvas.putObjectInFreeSlot(std::move(object));
    m_placed = true;
}

bool WmfPlayer::play(const Record &record)
{
    m_placed = false;
    const bool consistent = playRecord(record);
    if (!consistent && !m_placed) {
        switch (record.function) {
        case CreatePalette:
        case CreatePenIndirect:
        case CreateFontIndirect:
        case CreateBrushIndirect:
        case CreatePatternBrush:
        case DibCreatePatternBrush:
        case CreateRegion:
            place(UnusableObject{});
            break;
        default:
            break;
        }
    }
    return consistent;
}

QColor WmfPlayer::color(ByteReader &r)
{
    const quint8 red = r.u8(), green = r.u8(), blue = r.u8(), flags = r.u8();
    if (flags == 1) { // palette index
        const QList<QRgb> &pal = m_canvas.dc().palette.colors;
        const int index = red | (green << 8);
        if (index < pal.size())
            return QColor(pal[index]);
    }
    return QColor(red, green, blue);
}

// Rectangles come as bottom, right, top, left.
QRectF WmfPlayer::rect(ByteReader &r)
{
    const qint16 bottom = r.i16(), right = r.i16(), top = r.i16(), left = r.i16();
    return QRectF(QPointF(left, top), QPointF(right, bottom));
}

QPointF WmfPlayer::point(ByteReader &r)
{
    const qint16 y = r.i16(), x = r.i16();
    return QPointF(x, y);
}

QPolygonF WmfPlayer::points(ByteReader &r, qsizetype count)
{
    QPolygonF out;
    if (count < 0 || count * 4 > r.remaining()) {
        r.fail();
        return out;
    }
    out.reserve(count);
    for (qsizetype i = 0; i < count; ++i) {
        const qint16 x = r.i16(), y = r.i16();
        out.append(QPointF(x, y));
    }
    return out;
}

void WmfPlayer::textOut(ByteReader &r, bool extended)
{
    QPointF ref;
    quint16 count = 0, options = 0;
    std::optional<QRectF> clipRect;
    if (extended) {
        ref = point(r);
        count = r.u16();
        options = r.u16();
        if (options & (gdi::EtoOpaque | gdi::EtoClipped)) {
            const qint16 left = r.i16(), top = r.i16(), right = r.i16(), bottom = r.i16();
            clipRect = QRectF(QPointF(left, top), QPointF(right, bottom));
        }
    } else {
        count = r.u16();
    }
    const QByteArrayView bytes = r.bytes(count);
    if (count & 1)
        r.skip(extended ? std::min<qsizetype>(1, r.remaining()) : 1);
    if (!extended)
        ref = point(r);
    if (!r.ok())
        return;
    // With ETO_PDY the advances come in pairs: across, then up the font (where the record holds
    // them; else they are single advances).
    const bool pairs = (options & gdi::EtoPdy) && r.remaining() >= qsizetype(count) * 4;
    QList<qreal> byteDx, byteDy;
    if (extended && r.remaining() >= qsizetype(count) * (pairs ? 4 : 2)) {
        byteDx.reserve(count);
        for (int i = 0; i < count; ++i) {
            byteDx.append(r.i16());
            if (pairs)
                byteDy.append(r.i16());
        }
    }
    QList<qreal> charDx, charDy;
    const quint8 charset = m_canvas.dc().font.charset;
    const QString str = decodeText(bytes, charset, byteDx, &charDx);
    decodeText(bytes, charset, byteDy, &charDy);
    m_canvas.text(ref, str, charDx, options, clipRect, charDy);
}

bool WmfPlayer::bitmap(ByteReader &r, quint16 function, quint16 recordWords)
{
    // Without a bitmap these records carry a reserved word and paint with the brush.
    const bool noBitmap =
        (function == DibBitBlt || function == DibStretchBlt) && recordWords == (function >> 8) + 3;
    const quint32 rop = r.u32();
    quint16 usage = 0;
    if (function == StretchDib)
        usage = r.u16();
    qint16 srcH = 0, srcW = 0, srcY = 0, srcX = 0;
    if (function == DibStretchBlt || function == StretchDib) {
        srcH = r.i16();
        srcW = r.i16();
    }
    srcY = r.i16();
    srcX = r.i16();
    if (noBitmap)
        r.u16();
    const qint16 dstH = r.i16(), dstW = r.i16(), dstY = r.i16(), dstX = r.i16();
    if (function == DibBitBlt) {
        srcW = dstW;
        srcH = dstH;
    }
    if (!r.ok())
        return false;
    const QRectF dest(dstX, dstY, dstW, dstH);
    if (noBitmap) {
        m_canvas.patBlt(dest, rop);
        return true;
    }
    DibResult dib;
    switch (decodePackedDib(r.bytes(r.remaining()), usage, m_canvas.dc().palette.colors, dib,
                            &m_canvas.budget())) {
    case DibStatus::Malformed: // a broken bitmap costs that bitmap only (a spent budget, all)
    case DibStatus::Unsupported:
        return true;
    case DibStatus::Ok:
        break;
    }
    qreal top = srcY;
    // Source rows count from the bottom of a bottom-up bitmap, in all three records: GDI plays
    // them through StretchDIBits (Office's icons pick the AND half of a stacked mask so).
    if (dib.bottomUp)
        top = dib.image.height() - srcY - srcH;
    m_canvas.drawBitmap(dest, dib.image, QRectF(srcX, top, srcW, srcH), rop);
    return true;
}

bool WmfPlayer::playRecord(const Record &rec)
{
    ByteReader r(rec.params);
    Canvas &c = m_canvas;
    DcState &dc = c.dc();
    // The mapping modes with a physical unit keep their scale whatever the extents say.
    const bool fixedScale = twipsPerUnit(dc.mapMode) > 0;
    switch (rec.function) {
    case SaveDc:
        c.saveDc();
        break;
    case RestoreDc:
        c.restoreDc(r.i16());
        break;
    case SetBkMode:
        dc.bkMode = r.u16();
        break;
    case SetMapMode:
        dc.mapMode = r.u16();
        break;
    case SetRop2:
        dc.rop2 = r.u16();
        break;
    case SetStretchBltMode:
        dc.stretchMode = r.u16();
        break;
    case SetPolyFillMode:
        dc.polyFillMode = r.u16();
        break;
    case SetTextAlign:
        dc.textAlign = r.u16();
        break;
    case SetBkColor:
        dc.bkColor = color(r);
        break;
    case SetTextColor:
        dc.textColor = color(r);
        break;
    case SetWindowOrg:
        dc.windowOrg = point(r);
        break;
    case SetWindowExt: {
        const qint16 h = r.i16(), w = r.i16();
        if (!fixedScale)
            dc.windowExt = QSizeF(w, h);
        break;
    }
    case OffsetWindowOrg: {
        const qint16 y = r.i16(), x = r.i16();
        dc.windowOrg += QPointF(x, y);
        break;
    }
    case ScaleWindowExt:
    case ScaleViewportExt: {
        const qint16 yDenom = r.i16(), yNum = r.i16(), xDenom = r.i16(), xNum = r.i16();
        QSizeF &ext = rec.function == ScaleWindowExt ? dc.windowExt : dc.viewportExt;
        if (xDenom != 0 && yDenom != 0 && !fixedScale)
            ext = QSizeF(ext.width() * xNum / xDenom, ext.height() * yNum / yDenom);
        break;
    }
    case OffsetViewportOrg: {
        const qint16 y = r.i16(), x = r.i16();
        dc.viewportOrg += QPointF(x, y);
        break;
    }
    case SetViewportOrg:
    case SetViewportExt:
        // The player sets the viewport on the picture's frame; a file's own would name pixels
        // of a device it does not know. Moves and scales relative to it are honoured above.
        break;
    case MoveTo:
        c.moveTo(point(r));
        break;
    case LineTo:
        c.lineTo(point(r));
        break;
    case Polyline:
    case Polygon: {
        const qint16 n = r.i16();
        const QPolygonF pts = points(r, n);
        if (!r.ok())
            return false;
        if (rec.function == Polyline)
            c.polyline(pts);
        else
            c.polygon(pts);
        break;
    }
    case PolyPolygon: {
        const quint16 polys = r.u16();
        if (qsizetype(polys) * 2 > r.remaining())
            return false;
        QList<quint16> counts;
        for (int i = 0; i < polys; ++i)
            counts.append(r.u16());
        QList<QPolygonF> all;
        for (quint16 n : counts) {
            all.append(points(r, n));
            if (!r.ok())
                return false;
        }
        c.polyPolygon(all);
        break;
    }
    case Rectangle:
        c.rectangle(rect(r));
        break;
    case RoundRect: {
        const qint16 h = r.i16(), w = r.i16();
        c.roundRect(rect(r), QSizeF(w, h));
        break;
    }
    case Ellipse:
        c.ellipse(rect(r));
        break;
    case Arc:
    case Pie:
    case Chord: {
        const QPointF end = point(r), start = point(r);
        const QRectF box = rect(r);
        c.arc(box, start, end,
              rec.function == Arc ? ArcKind::Arc
                                  : (rec.function == Pie ? ArcKind::Pie : ArcKind::Chord));
        break;
    }
    case SetPixel: {
        const QColor col = color(r);
        c.setPixel(point(r), col);
        break;
    }
    case TextOut:
        textOut(r, false);
        break;
    case ExtTextOut:
        textOut(r, true);
        break;
    case CreatePenIndirect: {
        PenObject pen;
        pen.style = r.u16();
        pen.width = r.i16();
        r.i16();
        pen.color = color(r);
        if (!r.ok())
            return false;
        // Old pens carry no geometric flag; join and cap bits still apply.
        place(pen);
        break;
    }
    case CreateBrushIndirect: {
        BrushObject brush;
        brush.style = r.u16();
        brush.color = color(r);
        brush.hatch = r.u16();
        if (!r.ok())
            return false;
        if (brush.style == gdi::BsPattern || brush.style > gdi::BsDibPatternPt)
            brush.style = gdi::BsSolid;
        place(brush);
        break;
    }
    case DibCreatePatternBrush: {
        BrushObject brush;
        const quint16 style = r.u16();
        const quint16 usage = r.u16();
        brush.style = gdi::BsDibPattern;
        DibResult dib;
        const DibStatus status = style == gdi::BsPattern
                                     ? DibStatus::Unsupported
                                     : decodePackedDib(r.bytes(r.remaining()), usage,
                                                       dc.palette.colors, dib, &c.budget());
        Q_UNUSED(status); // a broken pattern leaves a grey brush, not a broken picture
        brush.pattern = dib.image;
        if (brush.pattern.isNull()) {
            brush.style = gdi::BsSolid;
            brush.color = Qt::gray;
        }
        place(brush);
        break;
    }
    case CreatePatternBrush: {
        // 16-bit device-dependent pattern: keep the slot, paint grey.
        place(BrushObject{gdi::BsSolid, Qt::gray, 0, {}});
        break;
    }
    case CreateFontIndirect: {
        FontObject font;
        font.height = r.i16();
        font.width = r.i16();
        font.escapement = r.i16();
        r.i16(); // orientation
        font.weight = r.i16();
        font.italic = r.u8();
        font.underline = r.u8();
        font.strikeOut = r.u8();
        font.charset = r.u8();
        r.skip(4);
        if (!r.ok())
            return false;
        QByteArrayView face = r.bytes(std::min<qsizetype>(32, r.remaining()));
        const qsizetype nul = face.indexOf('\0');
        if (nul >= 0)
            face = face.first(nul);
        font.face = decodeText(face, font.charset);
        place(font);
        break;
    }
    case CreatePalette: {
        PaletteObject palette;
        r.u16(); // start
        const quint16 n = r.u16();
        if (qsizetype(n) * 4 > r.remaining())
            return false;
        for (int i = 0; i < n; ++i) {
            const quint8 red = r.u8(), green = r.u8(), blue = r.u8();
            r.u8();
            palette.colors.append(qRgb(red, green, blue));
        }
        place(palette);
        break;
    }
    case CreateRegion: {
        r.skip(10); // chain, type, object count, size
        const quint16 scans = r.u16();
        r.skip(2 + 8); // max scan, bounds
        QList<QRect> rects;
        for (int s = 0; s < scans && r.ok(); ++s) {
            const quint16 count = r.u16();
            const qint16 top = r.i16(), bottom = r.i16();
            if (qsizetype(count) * 2 > r.remaining())
                return false;
            for (int k = 0; k + 1 < count; k += 2) {
                const qint16 left = r.i16(), right = r.i16();
                if (right > left && bottom > top)
                    rects.append(QRect(left, top, right - left, bottom - top));
            }
            if (count & 1)
                r.i16();
            r.u16();
        }
        if (!r.ok())
            return false;
        place(RegionObject{c.regionOf(std::move(rects))});
        break;
    }
    case SelectObject:
        c.selectObject(r.u16());
        break;
    case DeleteObject:
        c.deleteObject(r.u16());
        break;
    case SelectPalette:
        c.selectObject(r.u16());
        break;
    case SelectClipRegion: {
        const quint16 index = r.u16();
        const GdiObject *o = c.object(index);
        const auto *region = o ? std::get_if<RegionObject>(o) : nullptr;
        if (!o || !std::holds_alternative<UnusableObject>(*o))
            c.selectClipRegionLogical(region ? &region->region : nullptr);
        break;
    }
    case FillRegion:
    case FrameRegion:
    case PaintRegion:
    case InvertRegion: {
        const quint16 regionIndex = r.u16();
        quint16 brushIndex = 0;
        QSizeF frame;
        if (rec.function == FillRegion || rec.function == FrameRegion)
            brushIndex = r.u16();
        if (rec.function == FrameRegion) {
            const qint16 h = r.i16(), w = r.i16();
            frame = QSizeF(w, h);
        }
        if (!r.ok())
            return false;
        const GdiObject *ro = c.object(regionIndex);
        const auto *region = ro ? std::get_if<RegionObject>(ro) : nullptr;
        if (!region)
            break;
        const QRegion image = c.logicalRegionToImage(region->region);
        BrushObject brush = dc.brush;
        if (rec.function == FillRegion || rec.function == FrameRegion) {
            const GdiObject *bo = c.object(brushIndex);
            if (const auto *b = bo ? std::get_if<BrushObject>(bo) : nullptr)
                brush = *b;
        }
        if (rec.function == InvertRegion)
            c.invertRegion(image);
        else if (rec.function == FrameRegion)
            c.frameRegion(image, brush, frame);
        else
            c.fillRegion(image, brush);
        break;
    }
    case IntersectClipRect:
        c.intersectClipRect(rect(r));
        break;
    case ExcludeClipRect:
        c.excludeClipRect(rect(r));
        break;
    case OffsetClipRgn:
        c.offsetClip(point(r));
        break;
    case PatBlt: {
        const quint32 rop = r.u32();
        const qint16 h = r.i16(), w = r.i16(), y = r.i16(), x = r.i16();
        c.patBlt(QRectF(x, y, w, h), rop);
        break;
    }
    case DibBitBlt:
    case DibStretchBlt:
    case StretchDib:
        if (!bitmap(r, rec.function, quint16((rec.params.size() + 6) / 2)))
            return false;
        break;
    default:
        // Records that draw nothing (escapes, palette animation, mapper flags, ...) and the
        // few 16-bit device-dependent bitmap records are passed over.
        break;
    }
    return r.ok();
}

} // namespace

std::optional<Picture> renderWmf(QByteArrayView data, qreal devicePixelRatio, const Stop &stop,
                                 QSize seen, const Nesting &nesting)
{
    ByteReader r(data);
    std::optional<QRectF> bbox;
    qreal unitsPerInch = kTwipsPerInch;
    if (r.u32() == 0x9AC6CDD7u) {
        r.u16();
        const qint16 left = r.i16(), top = r.i16(), right = r.i16(), bottom = r.i16();
        unitsPerInch = r.u16();
        r.skip(6);
        if (!r.ok() || unitsPerInch == 0 || left == right || top == bottom)
            return std::nullopt;
        bbox = QRectF(QPointF(left, top), QPointF(right, bottom));
    } else {
        r.seek(0);
    }
    const qsizetype headerStart = r.pos();
    const quint16 type = r.u16();
    const quint16 headerWords = r.u16();
    r.u16(); // version
    r.u32(); // size in words
    const quint16 objects = r.u16();
    r.u32(); // largest record
    r.u16();
    if (!r.ok() || (type != 1 && type != 2) || headerWords != 9)
        return std::nullopt;

    Scan scan;
    if (!scanRecords(data.sliced(headerStart + 18), scan, stop))
        return std::nullopt;

    QRectF window;
    QSizeF pixels; // natural size at 96 dpi
    if (bbox) {
        window = *bbox;
        pixels = QSizeF(std::abs(bbox->width()) * kScreenDpi / unitsPerInch,
                        std::abs(bbox->height()) * kScreenDpi / unitsPerInch);
    } else {
        const std::optional<PlainFrame> frame = plainFrame(scan.records);
        if (!frame)
            return std::nullopt;
        window = frame->window;
        pixels = frame->pixels;
    }
    const QSizeF twips = pixels * kTwipsPerPixel;
    auto [image, picture] = makeTarget(twips, devicePixelRatio, seen);
    if (image.isNull())
        return std::nullopt;

    {
        // The device is a 96-dpi screen showing the picture at its natural size: the viewport
        // records of the file move and scale in its pixels.
        const QTransform deviceToImage = QTransform::fromScale(picture.width() / pixels.width(),
                                                               picture.height() / pixels.height());
        const qreal ppmm = kScreenDpi / kMmPerInch;
        Canvas canvas(image, picture, Canvas::Mapping::Window, deviceToImage, QSizeF(ppmm, ppmm),
                      stop, nesting);
        canvas.setObjectTableSize(objects);
        DcState &dc = canvas.dc();
        dc.mapMode = gdi::MmAnisotropic;
        dc.windowOrg = window.topLeft();
        dc.windowExt = window.size();
        dc.viewportOrg = QPointF(0, 0);
        dc.viewportExt = pixels;
        WmfPlayer player(canvas);
        // A record that contradicts itself within its own size is passed over, as GDI passes it
        // over; the picture fails only once it runs out of budget, or shows nothing at all.
        bool skipped = false;
        for (const Record &rec : scan.records) {
            skipped = !player.play(rec) || skipped;
            if (canvas.failed())
                return std::nullopt;
        }
        if (skipped && isBlank(image))
            return blankPlayed(image.size(), picture, [&] {
                return renderWmf(data, devicePixelRatio, stop, {}, nesting);
            });
    }
    return Picture{image, QSize(qRound(twips.width()), qRound(twips.height()))};
}

} // namespace metafile::detail
