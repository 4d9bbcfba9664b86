#pragma once

// Small pictures that cost a lot to draw, written record by record from the WMF and EMF formats
// (and one JPEG from libjpeg's progressive writer). The tests and bench/bench_pictures use them.

#include "builders.h"

#include <QBuffer>
#include <QImage>
#include <QImageWriter>
#include <bit>
#include <cmath>
#include <numbers>
#include <vector>

namespace testing::costly {

constexpr int kSide = 1000; // pixels of every picture here

// `count` corners going round a circle by nearly half a turn each, as 16-bit points: every edge
// crosses the picture and nearly all others.
inline QByteArray star(int count, int turnOffset = 0)
{
    QByteArray points;
    for (int i = 0; i < count; ++i) {
        const double a = (i * 0.499 + turnOffset * 0.01) * 2 * std::numbers::pi;
        points += words({int(kSide / 2 + kSide * 0.49 * std::cos(a)),
                         int(kSide / 2 + kSide * 0.49 * std::sin(a))});
    }
    return points;
}

inline QByteArray bounds()
{
    return dwords({0, 0, kSide - 1, kSide - 1});
}

inline QByteArray selfCrossingPolygon()
{
    return EmfBuilder({kSide, kSide})
        .record(EmrPolygon16, bounds() + dwords({4000}) + star(4000))
        .finish();
}

// 20 records of `type`, each its `params(i)` and an 8192 x 4096 run-length bitmap of one colour
// whose pixels end at once: a few bytes that decode to 128 MiB.
inline QByteArray twentyHugeBitmaps(quint32 type, QByteArray (*params)(int))
{
    const QByteArray dib = dwords({40, 8192, 4096}) + words({1, 8}) +
                           dwords({1, 2, 0, 0, 1, 0, rgb(0, 128, 0)}) + words({0x0100});
    EmfBuilder emf({kSide, kSide});
    for (int i = 0; i < 20; ++i)
        emf.record(type, params(i) + dib);
    return emf.finish();
}

inline QByteArray millionSaveDc()
{
    WmfBuilder wmf(QRect(0, 0, kSide, kSide));
    for (int i = 0; i < 1000000; ++i)
        wmf.record(MetaSaveDc, QByteArray());
    return wmf.finish();
}

inline QByteArray jpeg(int side, bool progressive)
{
    QImage image(side, side, QImage::Format_RGB32);
    image.fill(qRgb(40, 90, 200));
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "jpeg");
    writer.setProgressiveScanWrite(progressive);
    writer.write(image);
    return buffer.data();
}

// A progressive JPEG whose last scan is repeated `copies` times before the end marker.
inline QByteArray repeatedScans(int side, int copies)
{
    const QByteArray image = jpeg(side, true);
    const qsizetype lastScan = image.lastIndexOf("\xff\xda");
    const qsizetype end = image.lastIndexOf("\xff\xd9");
    return image.left(end) + image.mid(lastScan, end - lastScan).repeated(copies) + image.mid(end);
}

// A picture of GDI+ records alone, in one comment after their header.
inline QByteArray plusPicture(const QByteArray &records)
{
    const QByteArray data =
        dwords({0x2B464D45}) + emfPlus(0x4001, 0, dwords({0xDBC01002, 1, 96, 96})) + records;
    return EmfBuilder({kSide, kSide}).record(EmrComment, dwords({data.size()}) + data).finish();
}

// GDI+ objects: a path of 16-bit points (lines from the first), a solid pen, a bitmap image.
inline QByteArray plusPath(int id, int corners)
{
    const QByteArray types = QByteArray(1, '\0') + QByteArray(corners - 1, '\1');
    return emfPlus(0x4008, 0x0300 | id,
                   dwords({0xDBC01002, corners, 0x4000}) + star(corners) + types);
}
inline QByteArray plusPen(int id, float width)
{
    return emfPlus(
        0x4008, 0x0200 | id,
        dwords({0xDBC01002, 0, 0, 0, std::bit_cast<quint32>(width), 0xDBC01002, 0, 0xFF0000FF}));
}
inline QByteArray plusImage(int id, const QByteArray &compressed)
{
    return emfPlus(0x4008, 0x0500 | id, dwords({0xDBC01002, 1, 0, 0, 0, 0, 1}) + compressed);
}
inline QByteArray plusFillRect(QRect r)
{
    return emfPlus(0x400A, 0xC000,
                   dwords({0xFF00FF00, 1}) + words({r.x(), r.y(), r.width(), r.height()}));
}

// EMF region data of `rects` as given (left, top, right, bottom each).
inline QByteArray regionData(const QList<QRect> &rects)
{
    QByteArray out = dwords({32, 1, rects.size(), rects.size() * 16}) + bounds();
    for (const QRect &r : rects)
        out += dwords({r.left(), r.top(), r.right() + 1, r.bottom() + 1});
    return out;
}

// An open path of about `elements` elements along one row, cheap to draw, added by records of
// `type` (a 16-bit poly record: bounds, count and points).
inline EmfBuilder longPath(int elements, quint32 type)
{
    constexpr int kPerRecord = 99999; // whole curves
    EmfBuilder emf({kSide, kSide});
    emf.record(EmrBeginPath, QByteArray()).record(EmrMoveToEx, {1, 1});
    for (int done = 0; done + kPerRecord <= elements; done += kPerRecord) {
        QByteArray params = bounds() + dwords({kPerRecord});
        for (int i = 0; i < kPerRecord; ++i)
            params += words({1 + i % 2, 1});
        emf.record(type, params);
    }
    return emf;
}

inline QByteArray plusStarFill()
{
    return plusPicture(emfPlus(0x400C, 0xC000, dwords({0xFF0000FF, 8000}) + star(8000)));
}
inline QByteArray plusStarWideLine()
{
    return plusPicture(plusPen(0, 200) + emfPlus(0x400D, 0x4000, dwords({4000}) + star(4000)));
}
inline QByteArray plusClipPath()
{
    return plusPicture(plusPath(0, 36000) + emfPlus(0x4033, 0x0000, {}) +
                       plusFillRect(QRect(500, 500, 1, 1)));
}
inline QByteArray plusClipPathsCombined()
{
    return plusPicture(plusPath(0, 4000) + emfPlus(0x4033, 0x0000, {}) +
                       emfPlus(0x4033, 0x0100, {}) + plusFillRect(QRect(500, 500, 1, 1)));
}
// 5000 small rectangles from the bottom row up, against the band order regions keep.
inline QByteArray fillRegionOutOfBandOrder()
{
    QList<QRect> rects;
    for (int i = 0; i < 5000; ++i)
        rects << QRect(i * 7 % (kSide - 10), kSide - 1 - i % kSide, 5, 1);
    const QByteArray region = regionData(rects);
    return EmfBuilder({kSide, kSide})
        .record(EmrFillRgn, bounds() + dwords({region.size(), 0x80000000 | 4}) + region)
        .finish();
}
// A region of 500 rows of 10 rectangles, painted 10000 times.
inline QByteArray paintRegionLoop()
{
    constexpr int kRows = 500, kPerRow = 10;
    QByteArray scans;
    for (int row = 0; row < kRows; ++row) {
        scans += words({2 * kPerRow, 2 * row, 2 * row + 1});
        for (int i = 0; i < kPerRow; ++i)
            scans += words({100 * i, 100 * i + 50});
        scans += words({2 * kPerRow});
    }
    WmfBuilder wmf(QRect(0, 0, kSide, kSide));
    wmf.record(MetaCreateRegion, words({0, 6, 0, 0, 0, kRows, 0, 0, 0, kSide, kSide}) + scans);
    for (int i = 0; i < 10000; ++i)
        wmf.record(MetaPaintRegion, {0});
    return wmf.finish();
}
inline QByteArray offsetClipRegionLoop()
{
    // 300 strips each way, overlapping: their union has about 300^2 rectangles.
    QList<QRect> rects;
    for (int i = 0; i < 300; ++i)
        rects << QRect(0, i * kSide / 300, kSide, 1) << QRect(i * kSide / 300, 0, 1, kSide);
    const QByteArray region = regionData(rects);
    EmfBuilder emf({kSide, kSide});
    emf.record(EmrExtSelectClipRgn, dwords({region.size(), 5}) + region);
    for (int i = 0; i < 20000; ++i)
        emf.record(EmrOffsetClipRgn, {i % 2 ? -1 : 1, 0});
    return emf.finish();
}
inline QByteArray selectClipPathOfStar()
{
    EmfBuilder emf({kSide, kSide});
    for (int i = 0; i < 10; ++i)
        emf.record(EmrBeginPath, QByteArray())
            .record(EmrPolygon16, bounds() + dwords({1600}) + star(1600))
            .record(EmrEndPath, QByteArray())
            .record(EmrSelectClipPath, {5});
    return emf.finish();
}
inline QByteArray pathBeyondElementCap()
{
    return longPath(1200000, EmrPolylineTo16)
        .record(EmrEndPath, QByteArray())
        .record(EmrStrokePath, bounds())
        .finish();
}
inline QByteArray flattenLongPathLoop()
{
    EmfBuilder emf = longPath(1000000, EmrPolyBezierTo16);
    for (int i = 0; i < 5000; ++i)
        emf.record(EmrFlattenPath, QByteArray());
    return emf.finish();
}
// A bitmap record that says 1x1 and holds a progressive JPEG whose last scan repeats.
inline QByteArray jpegBitmapOfRepeatedScans()
{
    const QByteArray jpeg = repeatedScans(2000, 1000);
    const QByteArray info =
        dwords({40, 1, 1}) + words({1, 0}) + dwords({4, jpeg.size(), 0, 0, 0, 0});
    return EmfBuilder({kSide, kSide})
        .record(EmrStretchDiBits, bounds() +
                                      dwords({0, 0, 0, 0, 1, 1, 80, info.size(), 80 + info.size(),
                                              jpeg.size(), 0, 0x00CC0020, 1, 1}) +
                                      info + jpeg)
        .finish();
}
inline QByteArray plusImageOfRepeatedScans()
{
    return plusPicture(plusImage(0, repeatedScans(2000, 1000)));
}
inline QByteArray plusImagesKept()
{
    const QByteArray big = jpeg(4096, false);
    QByteArray records;
    for (int i = 0; i < 10; ++i)
        records += plusImage(i, big);
    return plusPicture(records);
}
inline QByteArray longText()
{
    constexpr int kChars = 1000000;
    return EmfBuilder({kSide, kSide})
        .record(EmrExtTextOutW, bounds() + dwords({1, 0, 0, 10, 10, kChars, 60, 0x100, 0}) +
                                    QByteArray(kChars, 'A').replace("A", QByteArray("A\0", 2)))
        .finish();
}

// Name, file name and bytes of each costly picture.
struct Costly
{
    const char *name;
    const char *file;
    QByteArray (*make)();
};

inline const std::vector<Costly> &all()
{
    static const std::vector<Costly> list = {
        {"self-crossing polygon, 4000 points", "polygon.emf", selfCrossingPolygon},
        {"five polygons of 16000 points", "polygons.emf",
         [] {
             constexpr int kEach = 16000, kPolygons = 5;
             QByteArray params = bounds() + dwords({kPolygons, kEach * kPolygons});
             for (int i = 0; i < kPolygons; ++i)
                 params += dwords({kEach});
             for (int i = 0; i < kPolygons; ++i)
                 params += star(kEach, i);
             return EmfBuilder({kSide, kSide}).record(EmrPolyPolygon16, params).finish();
         }},
        // A 200-pixel pen zig-zagging across the picture.
        {"wide polyline, 16000 points", "polyline.emf",
         [] {
             constexpr int kPoints = 16000;
             QByteArray params = bounds() + dwords({kPoints});
             for (int i = 0; i < kPoints; ++i)
                 params += dwords({(i * 37) % kSide, (i % 2) * (kSide - 1)});
             return EmfBuilder({kSide, kSide})
                 .record(EmrCreatePen, {1, 0, 200, 0, rgb(0, 0, 255)})
                 .record(EmrSelectObject, {1})
                 .record(EmrPolyline, params)
                 .finish();
         }},
        {"20 pattern brushes of a huge RLE bitmap", "brushes.emf",
         [] {
             return twentyHugeBitmaps(EmrCreateDibPatternBrushPt, [](int i) {
                 return dwords({1 + i, 0, 32, 44, 76, 2});
             });
         }},
        {"20 stretches of a huge RLE bitmap to 1 px", "stretches.emf",
         [] {
             return twentyHugeBitmaps(EmrStretchDiBits, [](int i) {
                 return bounds() +
                        dwords({i, i, 0, 0, 8192, 4096, 80, 44, 124, 2, 0, 0x00CC0020, 1, 1});
             });
         }},
        {"1,000,000 SaveDC", "savedc.wmf", millionSaveDc},
        {"4000x4000 JPEG, 10000 copies of a scan", "scans.jpg",
         [] { return repeatedScans(4000, 10000); }},
        {"EMF+ star of 8000 corners, filled", "plus-star.emf", plusStarFill},
        {"EMF+ star of 4000 corners, 200 px pen", "plus-wide.emf", plusStarWideLine},
        {"EMF+ clip path of 36000 corners, 1 px fill", "plus-clip.emf", plusClipPath},
        {"EMF+ clip paths of 4000 corners combined", "plus-clips.emf", plusClipPathsCombined},
        {"FillRgn of 5000 rectangles bottom up", "fillrgn.emf", fillRegionOutOfBandOrder},
        {"10000 PaintRegion of 5000 rectangles", "paintrgn.wmf", paintRegionLoop},
        {"20000 OffsetClipRgn of 600 crossing strips", "offsetclip.emf", offsetClipRegionLoop},
        {"10 SelectClipPath of a 1600-corner star", "clippath.emf", selectClipPathOfStar},
        {"PolylineTo path of 1.2 million points", "polylineto.emf", pathBeyondElementCap},
        {"5000 FlattenPath of a million points", "flatten.emf", flattenLongPathLoop},
        {"BI_JPEG bitmap, 2000 px, 1000 scans", "dibjpeg.emf", jpegBitmapOfRepeatedScans},
        {"EMF+ JPEG image, 2000 px, 1000 scans", "plus-jpeg.emf", plusImageOfRepeatedScans},
        {"EMF+ 10 images of 4096x4096 kept", "plus-images.emf", plusImagesKept},
        {"ExtTextOutW of a million characters", "text.emf", longText},
    };
    return list;
}

} // namespace testing::costly
