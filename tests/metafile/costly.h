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

inline const auto bounds = [] { return dwords({0, 0, kSide - 1, kSide - 1}); };

// An EMF of one record.
inline const auto emfOf = [](quint32 type, const QByteArray &params) {
    return EmfBuilder({kSide, kSide}).record(type, params).finish();
};

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

// GDI+ records in one comment after their header (whose flags say whether GDI records follow),
// as its payload, and a picture of them alone.
inline QByteArray plusComment(const QByteArray &records, int headerFlags = 0)
{
    const QByteArray data = dwords({0x2B464D45}) +
                            emfPlus(0x4001, headerFlags, dwords({0xDBC01002, 1, 96, 96})) + records;
    return dwords({data.size()}) + data;
}
inline const auto plusPicture = [](const QByteArray &records, QSize size = {kSide, kSide}) {
    return EmfBuilder(size).record(EmrComment, plusComment(records)).finish();
};

// GDI+ objects: a path of 16-bit points (lines from the first), a bitmap image.
inline QByteArray plusPath(int id, int corners)
{
    const QByteArray types = QByteArray(1, '\0') + QByteArray(corners - 1, '\1');
    return emfPlus(0x4008, 0x0300 | id,
                   dwords({0xDBC01002, corners, 0x4000}) + star(corners) + types);
}
inline const auto plusImage = [](int id, const QByteArray &compressed) {
    return emfPlus(0x4008, 0x0500 | id, dwords({0xDBC01002, 1, 0, 0, 0, 0, 1}) + compressed);
};
// Its fill of one green pixel in the middle.
inline const QByteArray plusDot =
    emfPlus(0x400A, 0xC000, dwords({0xFF00FF00, 1}) + words({500, 500, 1, 1}));

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

// `builder` with `count` more records of `type`, and its end.
template<typename Builder, typename Type>
QByteArray repeated(Builder builder, int count, Type type, const QByteArray &params = {})
{
    for (int i = 0; i < count; ++i)
        builder.record(type, params);
    return builder.finish();
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
        {"self-crossing polygon, 4000 points", "polygon.emf",
         [] { return emfOf(EmrPolygon16, bounds() + dwords({4000}) + star(4000)); }},
        {"five polygons of 16000 points", "polygons.emf",
         [] {
             QByteArray params =
                 bounds() + dwords({5, 5 * 16000, 16000, 16000, 16000, 16000, 16000});
             for (int i = 0; i < 5; ++i)
                 params += star(16000, i);
             return emfOf(EmrPolyPolygon16, params);
         }},
        // A 200-pixel pen zig-zagging across the picture.
        {"wide polyline, 16000 points", "polyline.emf",
         [] {
             QByteArray params = bounds() + dwords({16000});
             for (int i = 0; i < 16000; ++i)
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
        {"1,000,000 SaveDC", "savedc.wmf",
         [] { return repeated(WmfBuilder(QRect(0, 0, kSide, kSide)), 1000000, MetaSaveDc); }},
        {"4000x4000 JPEG, 10000 copies of a scan", "scans.jpg",
         [] { return repeatedScans(4000, 10000); }},
        {"EMF+ star of 8000 corners, filled", "plus-star.emf",
         [] {
             return plusPicture(emfPlus(0x400C, 0xC000, dwords({0xFF0000FF, 8000}) + star(8000)));
         }},
        {"EMF+ star of 4000 corners, 200 px pen", "plus-wide.emf",
         [] {
             // A solid pen 200 wide.
             const QByteArray pen =
                 emfPlus(0x4008, 0x0200,
                         dwords({0xDBC01002, 0, 0, 0, std::bit_cast<quint32>(200.f), 0xDBC01002, 0,
                                 0xFF0000FF}));
             return plusPicture(pen + emfPlus(0x400D, 0x4000, dwords({4000}) + star(4000)));
         }},
        {"EMF+ clip path of 36000 corners, 1 px fill", "plus-clip.emf",
         [] { return plusPicture(plusPath(0, 36000) + emfPlus(0x4033, 0x0000, {}) + plusDot); }},
        {"EMF+ clip paths of 4000 corners combined", "plus-clips.emf",
         [] {
             return plusPicture(plusPath(0, 4000) + emfPlus(0x4033, 0x0000, {}) +
                                emfPlus(0x4033, 0x0100, {}) + plusDot);
         }},
        // Small rectangles from the bottom row up, against the band order regions keep.
        {"FillRgn of 5000 rectangles bottom up", "fillrgn.emf",
         [] {
             QList<QRect> rects;
             for (int i = 0; i < 5000; ++i)
                 rects << QRect(i * 7 % (kSide - 10), kSide - 1 - i % kSide, 5, 1);
             const QByteArray region = regionData(rects);
             return emfOf(EmrFillRgn, bounds() + dwords({region.size(), 0x80000000 | 4}) + region);
         }},
        // A region of 500 rows of 10 rectangles.
        {"10000 PaintRegion of 5000 rectangles", "paintrgn.wmf",
         [] {
             QByteArray scans;
             for (int row = 0; row < 500; ++row) {
                 scans += words({20, 2 * row, 2 * row + 1});
                 for (int i = 0; i < 10; ++i)
                     scans += words({100 * i, 100 * i + 50});
                 scans += words({20});
             }
             WmfBuilder wmf(QRect(0, 0, kSide, kSide));
             wmf.record(MetaCreateRegion,
                        words({0, 6, 0, 0, 0, 500, 0, 0, 0, kSide, kSide}) + scans);
             return repeated(wmf, 10000, MetaPaintRegion, words({0}));
         }},
        // 300 strips each way, overlapping: their union has about 300^2 rectangles.
        {"20000 OffsetClipRgn of 600 crossing strips", "offsetclip.emf",
         [] {
             QList<QRect> rects;
             for (int i = 0; i < 300; ++i)
                 rects << QRect(0, i * kSide / 300, kSide, 1)
                       << QRect(i * kSide / 300, 0, 1, kSide);
             const QByteArray region = regionData(rects);
             EmfBuilder emf({kSide, kSide});
             emf.record(EmrExtSelectClipRgn, dwords({region.size(), 5}) + region);
             for (int i = 0; i < 20000; ++i)
                 emf.record(EmrOffsetClipRgn, {i % 2 ? -1 : 1, 0});
             return emf.finish();
         }},
        {"10 SelectClipPath of a 1600-corner star", "clippath.emf",
         [] {
             EmfBuilder emf({kSide, kSide});
             for (int i = 0; i < 10; ++i)
                 emf.record(EmrBeginPath, QByteArray())
                     .record(EmrPolygon16, bounds() + dwords({1600}) + star(1600))
                     .record(EmrEndPath, QByteArray())
                     .record(EmrSelectClipPath, {5});
             return emf.finish();
         }},
        {"PolylineTo path of 1.2 million points", "polylineto.emf",
         [] {
             return longPath(1200000, EmrPolylineTo16)
                 .record(EmrEndPath, QByteArray())
                 .record(EmrStrokePath, bounds())
                 .finish();
         }},
        {"5000 FlattenPath of a million points", "flatten.emf",
         [] { return repeated(longPath(1000000, EmrPolyBezierTo16), 5000, EmrFlattenPath); }},
        // A bitmap record that says 1x1 and holds a progressive JPEG whose last scan repeats.
        {"BI_JPEG bitmap, 2000 px, 1000 scans", "dibjpeg.emf",
         [] {
             const QByteArray jpeg = repeatedScans(2000, 1000);
             const QByteArray info =
                 dwords({40, 1, 1}) + words({1, 0}) + dwords({4, jpeg.size(), 0, 0, 0, 0});
             return emfOf(EmrStretchDiBits,
                          bounds() +
                              dwords({0, 0, 0, 0, 1, 1, 80, info.size(), 80 + info.size(),
                                      jpeg.size(), 0, 0x00CC0020, 1, 1}) +
                              info + jpeg);
         }},
        {"EMF+ JPEG image, 2000 px, 1000 scans", "plus-jpeg.emf",
         [] { return plusPicture(plusImage(0, repeatedScans(2000, 1000))); }},
        {"EMF+ 10 images of 4096x4096 kept", "plus-images.emf",
         [] {
             const QByteArray big = jpeg(4096, false);
             QByteArray records;
             for (int i = 0; i < 10; ++i)
                 records += plusImage(i, big);
             return plusPicture(records);
         }},
        {"ExtTextOutW of a million characters", "text.emf",
         [] {
             return emfOf(EmrExtTextOutW,
                          bounds() + dwords({1, 0, 0, 10, 10, 1000000, 60, 0x100, 0}) +
                              QByteArray(1000000, 'A').replace("A", QByteArray("A\0", 2)));
         }},
    };
    return list;
}

} // namespace testing::costly
