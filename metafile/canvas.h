#pragma once

#include "budget.h"

#include <QColor>
#include <QImage>
#include <QList>
#include <QPainter>
#include <QPainterPath>
#include <QRegion>
#include <QString>
#include <QTransform>
#include <array>
#include <deque>
#include <functional>
#include <optional>
#include <variant>
#include <vector>

// The device context both metafile kinds play into: drawing state, object table and the
// QPainter calls. Coordinates handed to the drawing functions are logical units.
namespace metafile::detail {

// GDI constants the players and the canvas share.
namespace gdi {
enum MapMode
{
    MmText = 1,
    MmLoMetric,
    MmHiMetric,
    MmLoEnglish,
    MmHiEnglish,
    MmTwips,
    MmIsotropic,
    MmAnisotropic
};
enum BkMode
{
    Transparent = 1,
    Opaque = 2
};
// How a bitmap is stretched; BLACKONWHITE is a device context's own.
enum StretchMode
{
    BlackOnWhite = 1,
    WhiteOnBlack,
    ColorOnColor,
    Halftone
};
enum PolyFill
{
    Alternate = 1,
    Winding = 2
};
enum TextAlign : quint32
{
    TaUpdateCp = 1,
    TaRight = 2,
    TaCenter = 6,
    TaHorizontalMask = 6,
    TaBottom = 8,
    TaBaseline = 24,
    TaVerticalMask = 24,
};
enum ExtTextOptions : quint32
{
    EtoOpaque = 2,
    EtoClipped = 4,
    EtoNoRect = 0x100,
    EtoSmallChars = 0x200, // 8-bit characters: the low bytes of UTF-16 ones
    EtoPdy = 0x2000,       // advances in pairs of x and y
};
enum RegionMode
{
    RgnAnd = 1,
    RgnOr = 2,
    RgnXor = 3,
    RgnDiff = 4,
    RgnCopy = 5
};
enum PenStyle : quint32
{
    PsSolid = 0,
    PsDash = 1,
    PsDot = 2,
    PsDashDot = 3,
    PsDashDotDot = 4,
    PsNull = 5,
    PsInsideFrame = 6,
    PsUserStyle = 7,
    PsAlternate = 8,
    PsStyleMask = 0xf,
    PsEndCapSquare = 0x100,
    PsEndCapFlat = 0x200,
    PsEndCapMask = 0xf00,
    PsJoinBevel = 0x1000,
    PsJoinMiter = 0x2000,
    PsJoinMask = 0xf000,
    PsGeometric = 0x10000,
};
enum BrushStyle : quint32
{
    BsSolid = 0,
    BsNull = 1,
    BsHatched = 2,
    BsPattern = 3,
    BsDibPattern = 5,
    BsDibPatternPt = 6
};
enum ArcDirection
{
    CounterClockwise = 1,
    Clockwise = 2
};
enum Rop3 : quint32
{
    SrcCopy = 0x00CC0020,
    SrcPaint = 0x00EE0086,
    SrcAnd = 0x008800C6,
    SrcInvert = 0x00660046,
    PatCopy = 0x00F00021,
    PatInvert = 0x005A0049,
    DstInvert = 0x00550009,
    Blackness = 0x00000042,
    Whiteness = 0x00FF0062,
};
} // namespace gdi

// BS_PATTERN brushes are monochrome: they take the text and background colours.
struct BrushObject
{
    quint32 style = gdi::BsSolid;
    QColor color = Qt::white;
    quint32 hatch = 0;
    QImage pattern;
};

struct PenObject
{
    quint32 style = gdi::PsSolid;
    qreal width = 0; // logical units; 0 is one device pixel
    QColor color = Qt::black;
    QList<qreal> dashes;             // user style, in logical units
    std::optional<BrushObject> fill; // a geometric pen's hatch or pattern
};

struct FontObject
{
    qint32 height = 0;
    qint32 width = 0;
    qint32 escapement = 0; // tenths of a degree
    qint32 weight = 400;
    bool italic = false;
    bool underline = false;
    bool strikeOut = false;
    quint8 charset = 1;
    QString face;
};

struct PaletteObject
{
    QList<QRgb> colors;
};

struct RegionObject
{
    QRegion region; // logical units
};

// Holds the slot of an object whose record was broken: selecting or using it does nothing.
struct UnusableObject
{};

using GdiObject = std::variant<std::monostate, PenObject, BrushObject, FontObject, PaletteObject,
                               RegionObject, UnusableObject>;

struct DcState
{
    PenObject pen;
    BrushObject brush;
    FontObject font;
    PaletteObject palette;
    int mapMode = gdi::MmText;
    QPointF windowOrg{0, 0};
    QSizeF windowExt{1, 1};
    QPointF viewportOrg{0, 0};
    QSizeF viewportExt{1, 1};
    QTransform world;
    QColor textColor = Qt::black;
    QColor bkColor = Qt::white;
    int bkMode = gdi::Opaque;
    quint32 textAlign = 0;
    int polyFillMode = gdi::Alternate;
    int rop2 = 13; // R2_COPYPEN
    int stretchMode = gdi::BlackOnWhite;
    int arcDirection = gdi::CounterClockwise;
    QPointF currentPos{0, 0};
    std::optional<QRegion> clip; // image pixels
};

enum class ArcKind
{
    Arc,
    ArcTo,
    Chord,
    Pie
};

inline constexpr int kMaxObjects = 65536;
inline constexpr int kMaxSavedStates = 4096;
inline constexpr qsizetype kMaxPathElements = 1 << 20;

class Canvas
{
public:
    enum class Mapping
    {
        Window,   // WMF: the window always maps onto the whole picture
        MapModes, // EMF: mapping modes over a reference device
    };

    // `deviceToImage` maps device units to image pixels; `pixelsPerMm` describes the reference
    // device for the metric mapping modes. `image` holds the top-left part of a picture of
    // `picture` pixels (all of it, or what a small box shows of it); the picture is charged for
    // and clipped as a whole, so the part shows what the whole would, at the same cost.
    Canvas(QImage &image, QSize picture, Mapping mapping, const QTransform &deviceToImage,
           QSizeF pixelsPerMm, const Stop &stop = {}, const Nesting &nesting = {});
    ~Canvas();
    Canvas(const Canvas &) = delete;
    Canvas &operator=(const Canvas &) = delete;

    DcState &dc() { return m_dc; }
    const DcState &dc() const { return m_dc; }
    // Also looks at the deadline, so that every loop over records notices it.
    bool failed() { return m_failed || m_budget.expired(); }
    // What the picture may still cost; the bitmap decoders charge it too.
    Budget &budget() { return m_budget; }
    int nestingDepth() const { return m_depth; }
    void fail() { m_failed = true; }

    // Object table
    bool putObject(quint32 index, GdiObject object);
    int putObjectInFreeSlot(GdiObject object);
    void deleteObject(quint32 index);
    const GdiObject *object(quint32 index) const;
    void selectObject(quint32 index);
    void selectStockObject(quint32 stock);
    void setObjectTableSize(int size);

    // State
    void saveDc();
    void restoreDc(int which);
    QTransform pageTransform() const;
    QTransform fullTransform() const; // logical to image pixels

    // Clipping
    void intersectClipRect(const QRectF &logical);
    void excludeClipRect(const QRectF &logical);
    void offsetClip(QPointF logicalOffset);
    void combineClip(const QRegion &image, int mode);
    void selectClipRegionLogical(const QRegion *logical); // nullptr resets
    QRegion deviceRectsToImage(const QList<QRect> &device);
    QRegion logicalRegionToImage(const QRegion &logical);
    // The union of `rects`, given in any order, built band by band and charged for.
    QRegion regionOf(QList<QRect> rects);
    // The pixels of the figures of `image`, xor-ed; nothing once the picture is out of budget.
    std::optional<QRegion> pathRegion(const QPainterPath &image);
    const QTransform &deviceToImage() const { return m_deviceToImage; }
    QRect imageBounds() const { return m_picture; }

    // Lines and shapes
    void moveTo(QPointF p);
    void lineTo(QPointF p);
    void polyline(const QPolygonF &points);
    void polylineTo(const QPolygonF &points);
    void polygon(const QPolygonF &points);
    void polyPolygon(const QList<QPolygonF> &polygons);
    void polyPolyline(const QList<QPolygonF> &polylines);
    void polyBezier(const QPolygonF &points, bool fromCurrent);
    void polyDraw(const QPolygonF &points, const QByteArray &types);
    void rectangle(const QRectF &r);
    void roundRect(const QRectF &r, QSizeF corner);
    void ellipse(const QRectF &r);
    void arc(const QRectF &box, QPointF start, QPointF end, ArcKind kind);
    void angleArc(QPointF center, qreal radius, qreal startDeg, qreal sweepDeg);
    void setPixel(QPointF p, const QColor &color);

    // Paths
    void beginPath();
    void endPath() { m_recording = false; }
    void abortPath();
    void closeFigure();
    void fillPath();
    void strokePath();
    void strokeAndFillPath();
    void selectClipPath(int mode);
    void flattenPath();

    // Regions in image pixels
    void fillRegion(const QRegion &image, const BrushObject &brush);
    void frameRegion(const QRegion &image, const BrushObject &brush, QSizeF logicalSize);
    void invertRegion(const QRegion &image);

    // Text; `dx` holds logical advances per UTF-16 unit (may be empty), `dy` the rise after each
    // unit along the font's up direction (ETO_PDY; may be empty)
    // In GDI's compatible graphics mode (`compatible`) a world transform moves the glyphs but
    // does not turn them.
    void text(QPointF reference, const QString &text, const QList<qreal> &dx, quint32 options,
              const std::optional<QRectF> &rect, const QList<qreal> &dy = {},
              bool compatible = false);

    // Bitmaps
    void patBlt(const QRectF &logical, quint32 rop);
    void drawBitmap(const QRectF &dest, const QImage &image, const QRectF &source, quint32 rop);
    void drawGradientRect(const QRectF &logical, const QColor &a, const QColor &b, bool vertical);
    // Triangles shaded between the colours of their corners (16 bits a channel), as one layer
    // so that shared edges leave no seam.
    struct GradientVertex
    {
        QPointF p;
        std::array<quint16, 3> rgb;
    };
    void drawGradientTriangles(const QList<GradientVertex> &vertices,
                               const QList<std::array<quint32, 3>> &triangles);

    // Drawing in reference device units for EMF+ records, which keep their own state; charged
    // for `deviceBounds` and `extraWork`.
    void drawDevice(const QRectF &deviceBounds, const std::function<void(QPainter &)> &draw,
                    qreal extraWork = 0);
    // What filling and stroking a path in device units costs beyond its area: its edges (and
    // a pen's outline) crossing the image's rows.
    qreal deviceShapeWork(const QPainterPath &device, bool fill, bool stroke,
                          qreal devicePenWidth) const;

private:
    void addToPath(const QPainterPath &logical);
    bool pathRoom(qsizetype elements);
    QRegion unite(QList<QRegion> parts);
    QRegion turnedRect(const QTransform &t, const QRectF &logical);
    bool expiredEvery(qsizetype i);
    bool clipToRegion(const QRegion &image);
    void extendFigure(const QPainterPath &logical);
    void paintShape(const QPainterPath &logical, bool fill, bool stroke);
    void paintRecordedPath(bool fill, bool stroke);
    void paintDevicePath(const QPainterPath &image, bool fill, bool stroke);
    bool spend(const QRectF &imageBounds, qreal extraWork = 0);
    void keep(GdiObject &slot, GdiObject object);
    void applyClip();
    // Draws through a raster operation other than a plain copy: `draw` paints the pattern (pen
    // and brush), the source bitmap and a mask of what they cover into layers in image pixels.
    using LayerPainter = std::function<void(QPainter &pattern, QPainter &source, QPainter &mask)>;
    void rasterOp(const QRectF &bounds, quint8 index, const LayerPainter &draw);
    QPen makePen();
    QBrush makeBrush(const BrushObject &b);
    QImage monoPattern(const QImage &pattern);
    qreal scaleFactor() const;
    QRegion imageRect() const { return QRegion(m_picture); }

    QImage &m_image;
    QRect m_picture; // the whole picture in image pixels; m_image may hold only its top left
    QPainter m_painter;
    Mapping m_mapping;
    QTransform m_deviceToImage;
    QSizeF m_pixelsPerMm;
    DcState m_dc;
    std::deque<DcState> m_saved;
    std::vector<GdiObject> m_objects;
    QPainterPath m_path; // image pixels
    bool m_recording = false;
    bool m_failed = false;
    Budget m_ownBudget;
    Budget &m_budget; // its own, or that of the picture it is drawn inside
    int m_depth;
    bool m_clipApplied = false;
    std::optional<QRegion> m_appliedClip;
    struct MonoPattern
    {
        QImage source;
        QRgb fore = 0, back = 0;
        QImage image;
    } m_mono; // the last monochrome pattern coloured
};

} // namespace metafile::detail
