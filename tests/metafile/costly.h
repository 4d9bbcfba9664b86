#pragma once

// Small pictures that cost a lot to draw, written record by record from the WMF and EMF formats
// (and one JPEG from libjpeg's progressive writer). The tests and bench/bench_pictures use them.

#include "builders.h"

#include <QBuffer>
#include <QImage>
#include <QImageWriter>
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

// A progressive JPEG whose last scan is repeated `copies` times before the end marker.
inline QByteArray repeatedScans(int side, int copies)
{
    QImage image(side, side, QImage::Format_RGB32);
    image.fill(qRgb(40, 90, 200));
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "jpeg");
    writer.setProgressiveScanWrite(true);
    writer.write(image);
    const QByteArray jpeg = buffer.data();
    const qsizetype lastScan = jpeg.lastIndexOf("\xff\xda");
    const qsizetype end = jpeg.lastIndexOf("\xff\xd9");
    return jpeg.left(end) + jpeg.mid(lastScan, end - lastScan).repeated(copies) + jpeg.mid(end);
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
    };
    return list;
}

} // namespace testing::costly
