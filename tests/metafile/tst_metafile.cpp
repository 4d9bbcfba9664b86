// Hand-built WMF and EMF pictures checked pixel by pixel.
#include "builders.h"
#include "platform/metafile/metafile.h"
#include "platform/metafile/text.h"

#include <QRandomGenerator>
#include <QTest>
#include <cstring>

using namespace testing;

namespace {

// EMF record types used below
enum : quint32
{
    EmrSetWindowExtEx = 9,
    EmrSetWindowOrgEx = 10,
    EmrSetViewportExtEx = 11,
    EmrSetMapMode = 17,
    EmrSetBkMode = 18,
    EmrSetTextAlign = 22,
    EmrSetTextColor = 24,
    EmrOffsetClipRgn = 26,
    EmrExcludeClipRect = 29,
    EmrIntersectClipRect = 30,
    EmrSaveDc = 33,
    EmrRestoreDc = 34,
    EmrSetWorldTransform = 35,
    EmrModifyWorldTransform = 36,
    EmrSelectObject = 37,
    EmrCreateBrushIndirect = 39,
    EmrRectangle = 43,
    EmrBeginPath = 59,
    EmrEndPath = 60,
    EmrSelectClipPath = 67,
    EmrExtSelectClipRgn = 75,
    EmrStretchDiBits = 81,
    EmrExtCreateFontIndirectW = 82,
    EmrExtTextOutW = 84,
    EmrPolygon16 = 86,
    EmrPolyPolygon16 = 91,
};
constexpr qint64 kNullPen = 0x80000008;

// WMF functions used below
enum : quint16
{
    MetaSetBkMode = 0x0102,
    MetaSetTextAlign = 0x012E,
    MetaSelectObject = 0x012D,
    MetaSetTextColor = 0x0209,
    MetaSetWindowOrg = 0x020B,
    MetaSetWindowExt = 0x020C,
    MetaCreatePenIndirect = 0x02FA,
    MetaCreateFontIndirect = 0x02FB,
    MetaCreateBrushIndirect = 0x02FC,
    MetaPolygon = 0x0324,
    MetaRectangle = 0x041B,
    MetaExtTextOut = 0x0A32,
    MetaStretchDib = 0x0F43,
};

qint64 floatBits(float f)
{
    quint32 bits;
    std::memcpy(&bits, &f, 4);
    return bits;
}

QByteArray xform(float m11, float m12, float m21, float m22, float dx, float dy)
{
    return dwords({floatBits(m11), floatBits(m12), floatBits(m21), floatBits(m22), floatBits(dx),
                   floatBits(dy)});
}

// Selects a solid brush of `color` in slot 1 and the null pen.
EmfBuilder &solidBrush(EmfBuilder &b, quint32 color, int slot = 1)
{
    return b.record(EmrCreateBrushIndirect, {slot, 0, color, 0})
        .record(EmrSelectObject, {slot})
        .record(EmrSelectObject, {kNullPen});
}

QByteArray rect(int l, int t, int r, int b)
{
    return dwords({l, t, r, b});
}

const quint32 kRed = rgb(255, 0, 0);
const quint32 kGreen = rgb(0, 255, 0);
const quint32 kBlue = rgb(0, 0, 255);

// Text in a 20 px IPA Gothic font, blue, drawn at (100,50) of a 200x100 picture.
QByteArray emfText(int align, const QString &text, int escapement, qint64 width = 0)
{
    QByteArray font = dwords({1, -20, width, escapement, 0, 400}) + QByteArray(8, 0);
    QByteArray face(64, '\0');
    const QString name = QStringLiteral("IPAGothic");
    for (int i = 0; i < name.size(); ++i)
        face[2 * i] = char(name[i].unicode());
    font += face;
    QByteArray chars;
    for (QChar ch : text)
        put16(chars, ch.unicode());
    while (chars.size() % 4)
        chars.append('\0');
    // bounds, mode, scales, reference, count, string offset, options, rect, dx offset
    const int offString = 8 + 16 + 12 + 8 + 4 + 4 + 4 + 16 + 4;
    QByteArray rec = rect(0, 0, 0, 0) + dwords({1, 0, 0, 100, 50, text.size(), offString, 0}) +
                     rect(0, 0, 0, 0) + dwords({0}) + chars;
    return EmfBuilder(QSize(200, 100))
        .record(EmrExtCreateFontIndirectW, font)
        .record(EmrSelectObject, {1})
        .record(EmrSetTextColor, {kBlue})
        .record(EmrSetBkMode, {1})
        .record(EmrSetTextAlign, {align})
        .record(EmrExtTextOutW, rec)
        .finish();
}

// The bounding box of pixels that are not transparent.
QRect inkBox(const QImage &img)
{
    QRect box;
    for (int y = 0; y < img.height(); ++y)
        for (int x = 0; x < img.width(); ++x)
            if (qAlpha(img.pixel(x, y)) > 64)
                box |= QRect(x, y, 1, 1);
    return box;
}

// Colours equal but for the blending of bitmap scaling at the edges of source pixels.
bool near(QRgb a, QRgb b)
{
    return std::abs(qRed(a) - qRed(b)) < 12 && std::abs(qGreen(a) - qGreen(b)) < 12 &&
           std::abs(qBlue(a) - qBlue(b)) < 12 && qAlpha(a) == qAlpha(b);
}

} // namespace

class TestMetafile : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void detect_data();
    void detect();
    void wmfRectangle_data();
    void wmfRectangle();
    void emfMapping_data();
    void emfMapping();
    void saveRestore_data();
    void saveRestore();
    void clipping_data();
    void clipping();
    void fillModes_data();
    void fillModes();
    void codePages_data();
    void codePages();
    void textAlignment_data();
    void textAlignment();
    void dib_data();
    void dib();
    void wmfDib();
    void devicePixelRatio();
    void malformed_data();
    void malformed();
    void absurdButValid_data();
    void absurdButValid();
    void mutations();
};

void TestMetafile::detect_data()
{
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<metafile::Format>("format");
    QTest::newRow("placeable") << WmfBuilder(QRect(0, 0, 10, 10)).finish()
                               << metafile::Format::PlaceableWmf;
    QTest::newRow("plain wmf") << WmfBuilder().finish() << metafile::Format::Wmf;
    QTest::newRow("emf") << EmfBuilder().finish() << metafile::Format::Emf;
    QTest::newRow("empty") << QByteArray() << metafile::Format::None;
    QTest::newRow("png") << QByteArray("\x89PNG\r\n\x1a\n0000000000000000000000")
                         << metafile::Format::None;
    QByteArray noSignature = EmfBuilder().finish();
    noSignature[40] = 'X';
    QTest::newRow("emf without signature") << noSignature << metafile::Format::None;
    QByteArray badHeaderSize = WmfBuilder().finish();
    badHeaderSize[2] = 8;
    QTest::newRow("wmf header size 8") << badHeaderSize << metafile::Format::None;
}

void TestMetafile::detect()
{
    QFETCH(QByteArray, data);
    QFETCH(metafile::Format, format);
    QCOMPARE(metafile::detect(data), format);
}

void TestMetafile::wmfRectangle_data()
{
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<QSize>("twips");

    auto draw = [](WmfBuilder b, QRect r) {
        return b
            .record(MetaCreateBrushIndirect, {0, 0x00ff, 0x0000, 0}) // red
            .record(MetaSelectObject, {0})
            .record(MetaCreatePenIndirect, {5, 0, 0, 0, 0})
            .record(MetaSelectObject, {1})
            .record(MetaRectangle, {r.bottom() + 1, r.right() + 1, r.top(), r.left()})
            .finish();
    };
    // Rows put the red rectangle on pixels (10,10)-(49,29) of a 100x50 picture.
    QTest::newRow("placeable, 96 units per inch")
        << draw(WmfBuilder(QRect(0, 0, 100, 50), 96), QRect(10, 10, 40, 20)) << QSize(1500, 750);
    QTest::newRow("placeable, 1440 units per inch")
        << draw(WmfBuilder(QRect(0, 0, 1500, 750), 1440), QRect(150, 150, 600, 300))
        << QSize(1500, 750);
    QTest::newRow("placeable with offset box")
        << draw(WmfBuilder(QRect(-200, 100, 100, 50), 96), QRect(-190, 110, 40, 20))
        << QSize(1500, 750);
    QTest::newRow("placeable, window overrides box")
        << draw(WmfBuilder(QRect(0, 0, 100, 50), 96)
                    .record(MetaSetWindowOrg, {0, 0})
                    .record(MetaSetWindowExt, {500, 1000}),
                QRect(100, 100, 400, 200))
        << QSize(1500, 750);
    QTest::newRow("plain, size from window")
        << draw(WmfBuilder().record(MetaSetWindowOrg, {-5, -5}).record(MetaSetWindowExt, {50, 100}),
                QRect(5, 5, 40, 20))
        << QSize(1500, 750);
    QTest::newRow("plain, window upside down")
        << draw(WmfBuilder().record(MetaSetWindowOrg, {50, 0}).record(MetaSetWindowExt, {-50, 100}),
                QRect(10, 20, 40, 20))
        << QSize(1500, 750);
}

void TestMetafile::wmfRectangle()
{
    QFETCH(QByteArray, data);
    QFETCH(QSize, twips);
    const auto pic = metafile::render(data);
    QVERIFY(pic);
    QCOMPARE(pic->sizeTwips, twips);
    QCOMPARE(pic->image.size(), QSize(100, 50));
    QCOMPARE(pic->image.format(), QImage::Format_ARGB32_Premultiplied);
    QCOMPARE(inkBox(pic->image), QRect(10, 10, 40, 20));
    QCOMPARE(pic->image.pixel(30, 20), qRgb(255, 0, 0));
}

void TestMetafile::emfMapping_data()
{
    QTest::addColumn<QByteArray>("data");

    // Every row puts a red rectangle on pixels (10,10)-(49,29) of a 100x100 picture.
    auto row = [](const char *name, EmfBuilder b, QByteArray r) {
        solidBrush(b, kRed);
        QTest::newRow(name) << b.record(EmrRectangle, r).finish();
    };
    row("MM_TEXT", EmfBuilder(), rect(10, 10, 50, 30));
    row("MM_ANISOTROPIC",
        EmfBuilder()
            .record(EmrSetMapMode, {8})
            .record(EmrSetWindowExtEx, {200, 400})
            .record(EmrSetViewportExtEx, {100, 200}),
        rect(20, 20, 100, 60));
    row("MM_ANISOTROPIC, window origin",
        EmfBuilder()
            .record(EmrSetMapMode, {8})
            .record(EmrSetWindowOrgEx, {1000, 1000})
            .record(EmrSetWindowExtEx, {10, 10})
            .record(EmrSetViewportExtEx, {10, 10}),
        rect(1010, 1010, 1050, 1030));
    row("MM_ISOTROPIC keeps the aspect",
        EmfBuilder()
            .record(EmrSetMapMode, {7})
            .record(EmrSetWindowExtEx, {200, 100})
            .record(EmrSetViewportExtEx, {100, 100}),
        rect(20, 20, 100, 60));
    row("MM_HIMETRIC", EmfBuilder().record(EmrSetMapMode, {3}), rect(265, -265, 1323, -794));
    row("MM_LOMETRIC", EmfBuilder().record(EmrSetMapMode, {2}), rect(26, -26, 132, -79));
    row("MM_TWIPS", EmfBuilder().record(EmrSetMapMode, {6}), rect(150, -150, 750, -450));
    row("MM_LOENGLISH", EmfBuilder().record(EmrSetMapMode, {4}), rect(10, -10, 52, -31));
    row("world scale", EmfBuilder().record(EmrSetWorldTransform, xform(2, 0, 0, 2, 0, 0)),
        rect(5, 5, 25, 15));
    row("world translate, left multiply",
        EmfBuilder()
            .record(EmrSetWorldTransform, xform(1, 0, 0, 1, 10, 10))
            .record(EmrModifyWorldTransform, xform(2, 0, 0, 2, 0, 0) + dwords({2})),
        rect(0, 0, 20, 10));
    row("world reset to identity",
        EmfBuilder()
            .record(EmrSetWorldTransform, xform(3, 0, 0, 3, 7, 7))
            .record(EmrModifyWorldTransform, xform(0, 0, 0, 0, 0, 0) + dwords({1})),
        rect(10, 10, 50, 30));
}

void TestMetafile::emfMapping()
{
    QFETCH(QByteArray, data);
    const auto pic = metafile::render(data);
    QVERIFY(pic);
    QCOMPARE(pic->image.size(), QSize(100, 100));
    QCOMPARE(pic->sizeTwips, QSize(1500, 1500));
    const QRect box = inkBox(pic->image);
    QVERIFY2(std::abs(box.left() - 10) <= 1 && std::abs(box.top() - 10) <= 1 &&
                 std::abs(box.right() - 49) <= 1 && std::abs(box.bottom() - 29) <= 1,
             qPrintable(QStringLiteral("ink at %1,%2 %3x%4")
                            .arg(box.x())
                            .arg(box.y())
                            .arg(box.width())
                            .arg(box.height())));
    QCOMPARE(pic->image.pixel(30, 20), qRgb(255, 0, 0));
}

void TestMetafile::saveRestore_data()
{
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<QRgb>("color");

    auto brushes = [] {
        EmfBuilder b;
        for (auto [slot, color] : {std::pair{1, kRed}, {2, kGreen}, {3, kBlue}})
            b.record(EmrCreateBrushIndirect, {slot, 0, color, 0});
        return b.record(EmrSelectObject, {kNullPen});
    };
    auto select = [](EmfBuilder &b, int slot) -> EmfBuilder & {
        return b.record(EmrSelectObject, {slot});
    };
    auto threeLevels = [&](qint64 restore) {
        EmfBuilder b = brushes();
        select(b, 1).record(EmrSaveDc, QByteArray());
        select(b, 2).record(EmrSaveDc, QByteArray());
        select(b, 3).record(EmrRestoreDc, {restore});
        return b.record(EmrRectangle, rect(0, 0, 100, 100)).finish();
    };
    QTest::newRow("relative -1") << threeLevels(-1) << qRgb(0, 255, 0);
    QTest::newRow("relative -2") << threeLevels(-2) << qRgb(255, 0, 0);
    QTest::newRow("absolute 1") << threeLevels(1) << qRgb(255, 0, 0);
    QTest::newRow("absolute 2") << threeLevels(2) << qRgb(0, 255, 0);
    QTest::newRow("too deep is ignored") << threeLevels(-3) << qRgb(0, 0, 255);
    QTest::newRow("beyond the stack is ignored") << threeLevels(3) << qRgb(0, 0, 255);

    EmfBuilder clip = brushes();
    select(clip, 1)
        .record(EmrSaveDc, QByteArray())
        .record(EmrIntersectClipRect, rect(0, 0, 5, 5))
        .record(EmrSetMapMode, {3})
        .record(EmrRestoreDc, {-1})
        .record(EmrRectangle, rect(0, 0, 100, 100));
    QTest::newRow("clip and mapping come back") << clip.finish() << qRgb(255, 0, 0);
}

void TestMetafile::saveRestore()
{
    QFETCH(QByteArray, data);
    QFETCH(QRgb, color);
    const auto pic = metafile::render(data);
    QVERIFY(pic);
    QCOMPARE(pic->image.pixel(50, 50), color);
}

void TestMetafile::clipping_data()
{
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<bool>("centre");
    QTest::addColumn<bool>("corner");

    // A red rectangle over (10,10)-(50,30) after the clipping records; the centre (30,20)
    // lies inside (20,15)-(40,25), the corner (12,12) outside it.
    auto row = [](const char *name, QList<std::pair<quint32, QByteArray>> clips, bool centre,
                  bool corner) {
        EmfBuilder b;
        solidBrush(b, kRed);
        for (const auto &[type, payload] : clips)
            b.record(type, payload);
        b.record(EmrRectangle, rect(10, 10, 50, 30));
        QTest::newRow(name) << b.finish() << centre << corner;
    };
    QByteArray region = dwords({32, 1, 1, 16}) + rect(20, 15, 40, 25) + rect(20, 15, 40, 25);
    row("none", {}, true, true);
    row("intersect", {{EmrIntersectClipRect, rect(20, 15, 40, 25)}}, true, false);
    row("exclude", {{EmrExcludeClipRect, rect(20, 15, 40, 25)}}, false, true);
    row("intersect twice, disjoint",
        {{EmrIntersectClipRect, rect(20, 15, 40, 25)}, {EmrIntersectClipRect, rect(0, 0, 5, 5)}},
        false, false);
    row("region copy", {{EmrExtSelectClipRgn, dwords({region.size(), 5}) + region}}, true, false);
    row("region or",
        {{EmrIntersectClipRect, rect(0, 0, 15, 15)},
         {EmrExtSelectClipRgn, dwords({region.size(), 2}) + region}},
        true, true);
    row("region diff", {{EmrExtSelectClipRgn, dwords({region.size(), 4}) + region}}, false, true);
    row("reset by empty copy",
        {{EmrIntersectClipRect, rect(0, 0, 5, 5)}, {EmrExtSelectClipRgn, dwords({0, 5})}}, true,
        true);
    row("path",
        {{EmrBeginPath, {}},
         {EmrRectangle, rect(20, 15, 40, 25)},
         {EmrEndPath, {}},
         {EmrSelectClipPath, dwords({1})}},
        true, false);
    row("offset",
        {{EmrIntersectClipRect, rect(0, 0, 20, 20)}, {EmrOffsetClipRgn, dwords({20, 10})}}, true,
        false);
}

void TestMetafile::clipping()
{
    QFETCH(QByteArray, data);
    QFETCH(bool, centre);
    QFETCH(bool, corner);
    const auto pic = metafile::render(data);
    QVERIFY(pic);
    QCOMPARE(qAlpha(pic->image.pixel(30, 20)) == 255, centre);
    QCOMPARE(qAlpha(pic->image.pixel(12, 12)) == 255, corner);
}

void TestMetafile::fillModes_data()
{
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<bool>("hole");

    // Two nested squares in one poly-polygon, the same direction: the centre is a hole only
    // with the alternate rule.
    QByteArray square;
    for (auto [x, y] :
         {std::pair{10, 10}, {90, 10}, {90, 90}, {10, 90}, {30, 30}, {70, 30}, {70, 70}, {30, 70}})
        square += words({x, y});
    for (int mode : {1, 2}) {
        EmfBuilder b;
        solidBrush(b, kRed).record(19, {mode});
        b.record(EmrPolyPolygon16, rect(0, 0, 100, 100) + dwords({2, 8, 4, 4}) + square);
        QTest::newRow(mode == 1 ? "alternate" : "winding") << b.finish() << (mode == 1);
    }
    EmfBuilder single;
    solidBrush(single, kRed)
        .record(EmrPolygon16, rect(0, 0, 100, 100) + dwords({4}) + square.first(16));
    QTest::newRow("polygon16") << single.finish() << false;
}

void TestMetafile::fillModes()
{
    QFETCH(QByteArray, data);
    QFETCH(bool, hole);
    const auto pic = metafile::render(data);
    QVERIFY(pic);
    QCOMPARE(pic->image.pixel(20, 20), qRgb(255, 0, 0));
    QCOMPARE(qAlpha(pic->image.pixel(50, 50)) == 0, hole);
}

void TestMetafile::codePages_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<int>("charset");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QList<qreal>>("byteDx");
    QTest::addColumn<QList<qreal>>("charDx");

    QTest::newRow("shift_jis") << QByteArray("\x83\x65\x83\x58\x83\x67") << 128
                               << QStringLiteral("テスト") << QList<qreal>{} << QList<qreal>{};
    QTest::newRow("cp932 extensions") << QByteArray("\x87\x40\xfa\x40") << 128
                                      << QStringLiteral("①ⅰ") << QList<qreal>{} << QList<qreal>{};
    QTest::newRow("shift_jis dx sums lead and trail bytes")
        << QByteArray("\x83\x65"
                      "A\x8a\xbf")
        << 128 << QStringLiteral("テA漢") << QList<qreal>{5, 6, 7, 8, 9} << QList<qreal>{11, 7, 17};
    QTest::newRow("ansi") << QByteArray("\x80 caf\xe9") << 0 << QStringLiteral("€ café")
                          << QList<qreal>{} << QList<qreal>{};
    QTest::newRow("russian") << QByteArray("\xcf\xf0\xe8") << 204 << QStringLiteral("При")
                             << QList<qreal>{} << QList<qreal>{};
    QTest::newRow("half-width katakana") << QByteArray("\xb6\xc5") << 128 << QStringLiteral("ｶﾅ")
                                         << QList<qreal>{3, 4} << QList<qreal>{3, 4};
}

void TestMetafile::codePages()
{
    QFETCH(QByteArray, bytes);
    QFETCH(int, charset);
    QFETCH(QString, text);
    QFETCH(QList<qreal>, byteDx);
    QFETCH(QList<qreal>, charDx);
    QList<qreal> dx;
    QCOMPARE(metafile::detail::decodeText(bytes, quint8(charset), byteDx, &dx), text);
    QCOMPARE(dx, charDx);
}

void TestMetafile::textAlignment_data()
{
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<QRect>("within"); // all ink lies here
    QTest::addColumn<QPoint>("inked"); // some ink near here (within 12 px)

    // 20 px Japanese text in blue; the reference point is (100,50) in a 200x100 picture.
    auto wmf = [](int align, int charset, QByteArray text, QByteArray face) {
        QByteArray font = words({-20, 0, 0, 0, 400}) + QByteArray(1, 0) + QByteArray(1, 0) +
                          QByteArray(1, 0) + QByteArray(1, char(charset)) + QByteArray(4, 0) +
                          face.leftJustified(32, '\0');
        QByteArray ext = words({50, 100, int(text.size()), 0}) + text;
        return WmfBuilder(QRect(0, 0, 200, 100))
            .record(MetaCreateFontIndirect, font)
            .record(MetaSelectObject, {0})
            .record(MetaSetTextColor, {0, 0xff})
            .record(MetaSetBkMode, {1})
            .record(MetaSetTextAlign, {align})
            .record(MetaExtTextOut, ext)
            .finish();
    };
    const QByteArray sjis("\x83\x65\x83\x58\x83\x67");
    QTest::newRow("wmf top left") << wmf(0, 128, sjis, "IPAGothic") << QRect(99, 49, 70, 26)
                                  << QPoint(110, 60);
    QTest::newRow("wmf baseline right")
        << wmf(24 | 2, 128, sjis, "IPAGothic") << QRect(30, 30, 71, 24) << QPoint(90, 45);
    QTest::newRow("wmf bottom centre")
        << wmf(8 | 6, 128, sjis, "IPAGothic") << QRect(65, 25, 70, 26) << QPoint(100, 40);
    QTest::newRow("wmf ansi text")
        << wmf(0, 0, "Sign", "DejaVu Sans") << QRect(99, 49, 60, 26) << QPoint(110, 60);

    QTest::newRow("emf top left") << emfText(0, QStringLiteral("テスト"), 0)
                                  << QRect(99, 49, 70, 26) << QPoint(110, 60);
    QTest::newRow("emf rotated 90")
        << emfText(0, QStringLiteral("テスト"), 900) << QRect(99, -20, 26, 71) << QPoint(110, 40);
}

void TestMetafile::textAlignment()
{
    QFETCH(QByteArray, data);
    QFETCH(QRect, within);
    QFETCH(QPoint, inked);
    const auto pic = metafile::render(data);
    QVERIFY(pic);
    const QRect box = inkBox(pic->image);
    QVERIFY2(!box.isEmpty(), "no text drawn");
    QVERIFY2(within.contains(box), qPrintable(QStringLiteral("ink at %1,%2 %3x%4")
                                                  .arg(box.x())
                                                  .arg(box.y())
                                                  .arg(box.width())
                                                  .arg(box.height())));
    QVERIFY(box.width() > 20 || box.height() > 20);
    QVERIFY(QRect(inked - QPoint(12, 12), QSize(25, 25)).intersects(box));
    // The text colour is blue.
    bool blue = false;
    for (int y = box.top(); y <= box.bottom() && !blue; ++y)
        for (int x = box.left(); x <= box.right() && !blue; ++x)
            blue = pic->image.pixel(x, y) == qRgb(0, 0, 255);
    QVERIFY(blue);
}

namespace {

struct Dib
{
    QByteArray info;
    QByteArray bits;
};

// A 2x2 bitmap: top row red, green; bottom row blue, white (1 bpp: red, blue / blue, red).
Dib makeDib(int bpp, bool bitfields, bool topDown)
{
    const QList<QRgb> colors{qRgb(255, 0, 0), qRgb(0, 255, 0), qRgb(0, 0, 255),
                             qRgb(255, 255, 255)};
    Dib d;
    d.info = dwords({40, 2, topDown ? -2 : 2}) + words({1, bpp}) +
             dwords({bitfields ? 3 : 0, 0, 0, 0, bpp <= 8 ? (bpp == 1 ? 2 : 4) : 0, 0});
    if (bitfields)
        d.info += dwords({0xff0000, 0x00ff00, 0x0000ff});
    if (bpp <= 8)
        for (int i = 0; i < (bpp == 1 ? 2 : 4); ++i)
            d.info += QByteArray(1, char(qBlue(colors[bpp == 1 ? i * 2 : i]))) +
                      QByteArray(1, char(qGreen(colors[bpp == 1 ? i * 2 : i]))) +
                      QByteArray(1, char(qRed(colors[bpp == 1 ? i * 2 : i]))) + QByteArray(1, 0);
    const int rows[2][2] = {{0, 1}, {2, 3}};
    for (int r = 0; r < 2; ++r) {
        const auto &row = rows[topDown ? r : 1 - r];
        QByteArray line;
        switch (bpp) {
        case 1:
            line.append(char(row[0] == 0 ? 0x40 : 0x80)); // red=0 blue=1
            break;
        case 4:
            line.append(char((row[0] << 4) | row[1]));
            break;
        case 8:
            line.append(char(row[0])).append(char(row[1]));
            break;
        case 16:
            for (int i : row) {
                const QRgb c = colors[i];
                put16(line, ((qRed(c) >> 3) << 10) | ((qGreen(c) >> 3) << 5) | (qBlue(c) >> 3));
            }
            break;
        default:
            for (int i : row) {
                const QRgb c = colors[i];
                line.append(char(qBlue(c))).append(char(qGreen(c))).append(char(qRed(c)));
                if (bpp == 32)
                    line.append('\0');
            }
        }
        while (line.size() % 4)
            line.append('\0');
        d.bits += line;
    }
    return d;
}

} // namespace

void TestMetafile::dib_data()
{
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<QList<QRgb>>("quadrants"); // top left, top right, bottom left, bottom right

    const QList<QRgb> four{qRgb(255, 0, 0), qRgb(0, 255, 0), qRgb(0, 0, 255), qRgb(255, 255, 255)};
    const QList<QRgb> two{qRgb(255, 0, 0), qRgb(0, 0, 255), qRgb(0, 0, 255), qRgb(255, 0, 0)};
    auto row = [](const char *name, const Dib &d, const QList<QRgb> &expected) {
        const int offBmi = 80;
        const int offBits = offBmi + int(d.info.size());
        QByteArray rec = rect(0, 0, 99, 99) +
                         dwords({0, 0, 0, 0, 2, 2, offBmi, d.info.size(), offBits, d.bits.size(), 0,
                                 0x00CC0020, 100, 100}) +
                         d.info + d.bits;
        QTest::newRow(name) << EmfBuilder().record(EmrStretchDiBits, rec).finish() << expected;
    };
    row("1 bpp", makeDib(1, false, false), two);
    row("4 bpp", makeDib(4, false, false), four);
    row("8 bpp", makeDib(8, false, false), four);
    row("16 bpp", makeDib(16, false, false), four);
    row("24 bpp", makeDib(24, false, false), four);
    row("24 bpp top-down", makeDib(24, false, true), four);
    row("32 bpp", makeDib(32, false, false), four);
    row("32 bpp bitfields", makeDib(32, true, false), four);
}

void TestMetafile::dib()
{
    QFETCH(QByteArray, data);
    QFETCH(QList<QRgb>, quadrants);
    const auto pic = metafile::render(data);
    QVERIFY(pic);
    const QPoint at[] = {{25, 25}, {75, 25}, {25, 75}, {75, 75}};
    for (int i = 0; i < 4; ++i) {
        const QRgb got = pic->image.pixel(at[i]);
        QVERIFY2(near(got, quadrants[i]),
                 qPrintable(QStringLiteral("quadrant %1: %2").arg(i).arg(got, 8, 16)));
    }
}

void TestMetafile::wmfDib()
{
    const Dib d = makeDib(24, false, false);
    // rop, usage, source h, w, y, x, destination h, w, y, x
    const QByteArray params =
        words({0x0020, 0x00CC, 0, 2, 2, 0, 0, 50, 100, 0, 0}) + d.info + d.bits;
    const auto pic =
        metafile::render(WmfBuilder(QRect(0, 0, 100, 50)).record(MetaStretchDib, params).finish());
    QVERIFY(pic);
    QVERIFY(near(pic->image.pixel(25, 12), qRgb(255, 0, 0)));
    QVERIFY(near(pic->image.pixel(75, 37), qRgb(255, 255, 255)));
}

void TestMetafile::devicePixelRatio()
{
    EmfBuilder b;
    solidBrush(b, kRed).record(EmrRectangle, rect(10, 10, 50, 30));
    const auto pic = metafile::render(b.finish(), 2.0);
    QVERIFY(pic);
    QCOMPARE(pic->image.size(), QSize(200, 200));
    QCOMPARE(pic->image.devicePixelRatio(), 2.0);
    QCOMPARE(pic->sizeTwips, QSize(1500, 1500));
    QCOMPARE(inkBox(pic->image), QRect(20, 20, 80, 40));
}

void TestMetafile::malformed_data()
{
    QTest::addColumn<QByteArray>("data");

    QTest::newRow("empty") << QByteArray();
    QTest::newRow("garbage") << QByteArray(300, '\x5a');
    QByteArray emf = EmfBuilder().finish();
    QTest::newRow("emf without end") << emf.first(88);
    QByteArray zeroSize = EmfBuilder().record(EmrSaveDc, QByteArray()).finish();
    zeroSize[92] = 0;
    QTest::newRow("emf record size 0") << zeroSize;
    QByteArray oddSize = zeroSize;
    oddSize[92] = 10;
    QTest::newRow("emf record size not a multiple of 4") << oddSize;
    QByteArray beyond = zeroSize;
    beyond[92] = '\x7f';
    beyond[93] = '\x7f';
    QTest::newRow("emf record beyond data") << beyond;
    QTest::newRow("emf polygon count huge")
        << EmfBuilder().record(EmrPolygon16, rect(0, 0, 1, 1) + dwords({0x7fffffff})).finish();
    QTest::newRow("emf poly-polygon counts disagree")
        << EmfBuilder()
               .record(EmrPolyPolygon16,
                       rect(0, 0, 1, 1) + dwords({1, 3, 4}) + words({0, 0, 1, 1, 2, 2}))
               .finish();
    QTest::newRow("emf text beyond record")
        << EmfBuilder()
               .record(EmrExtTextOutW, rect(0, 0, 0, 0) + dwords({1, 0, 0, 5, 5, 1000, 76, 0}) +
                                           rect(0, 0, 0, 0) + dwords({0}))
               .finish();
    QTest::newRow("emf bitmap beyond record")
        << EmfBuilder()
               .record(EmrStretchDiBits, rect(0, 0, 1, 1) + dwords({0, 0, 0, 0, 2, 2, 80, 40, 120,
                                                                    9999, 0, 0x00CC0020, 10, 10}))
               .finish();
    QByteArray hugeFrame = EmfBuilder().finish();
    hugeFrame[32] = '\xff';
    hugeFrame[33] = '\xff';
    hugeFrame[34] = '\xff';
    hugeFrame[35] = '\x7f';
    QTest::newRow("emf frame too large") << hugeFrame;
    QTest::newRow("wmf without end") << WmfBuilder().finish().chopped(6);
    QTest::newRow("wmf polygon count beyond record")
        << WmfBuilder(QRect(0, 0, 10, 10)).record(MetaPolygon, {1000, 0, 0}).finish();
    QByteArray wmfSize =
        WmfBuilder(QRect(0, 0, 10, 10)).record(MetaRectangle, {1, 1, 0, 0}).finish();
    wmfSize[40] = 1;
    QTest::newRow("wmf record size 1") << wmfSize;
    QTest::newRow("plain wmf without size")
        << WmfBuilder().record(MetaRectangle, {1, 1, 0, 0}).finish();
    QTest::newRow("placeable wmf with empty box") << WmfBuilder(QRect(5, 5, 0, 0)).finish();
    QTest::newRow("placeable wmf too large") << WmfBuilder(QRect(0, 0, 30000, 30000), 1).finish();
}

void TestMetafile::malformed()
{
    QFETCH(QByteArray, data);
    QVERIFY(!metafile::render(data));
}

void TestMetafile::absurdButValid_data()
{
    QTest::addColumn<QByteArray>("data");

    auto emf = [](QList<std::pair<quint32, QByteArray>> records) {
        EmfBuilder b;
        solidBrush(b, kRed);
        for (const auto &[type, payload] : records)
            b.record(type, payload);
        return b.finish();
    };
    QTest::newRow("huge rectangle")
        << emf({{EmrRectangle, rect(-2000000000, -2000000000, 2000000000, 2000000000)}});
    QTest::newRow("huge world scale")
        << emf({{EmrSetWorldTransform, xform(1e30f, 0, 0, 1e30f, 0, 0)},
                {EmrRectangle, rect(0, 0, 10, 10)}});
    QTest::newRow("NaN world transform")
        << emf({{EmrSetWorldTransform, xform(std::nanf(""), 0, 0, 1, 0, 0)},
                {EmrRectangle, rect(0, 0, 10, 10)}});
    QTest::newRow("zero window extent") << emf({{EmrSetMapMode, dwords({8})},
                                                {EmrSetWindowExtEx, dwords({0, 0})},
                                                {EmrRectangle, rect(0, 0, 10, 10)}});
    QTest::newRow("tiny window extent")
        << emf({{EmrSetMapMode, dwords({8})},
                {EmrSetWindowExtEx, dwords({1, 1})},
                {EmrSetViewportExtEx, dwords({2000000000, 2000000000})},
                {EmrRectangle, rect(-5, -5, 10, 10)}});
    QTest::newRow("restore without save") << emf({{EmrRestoreDc, dwords({-1})}});
    QTest::newRow("select missing object") << emf({{EmrSelectObject, dwords({60000})}});
    QTest::newRow("unknown record") << emf({{0x7777, dwords({1, 2, 3})}});
    QTest::newRow("huge font width") << emfText(0, QStringLiteral("Sign"), 0, 2000000000);
    QTest::newRow("huge font width, negative")
        << emfText(0, QStringLiteral("Sign"), 0, -2000000000);
}

void TestMetafile::absurdButValid()
{
    QFETCH(QByteArray, data);
    QVERIFY(metafile::render(data));
}

// Random byte changes to a small but varied picture must never crash or hang.
void TestMetafile::mutations()
{
    EmfBuilder b;
    solidBrush(b, kRed)
        .record(EmrSetMapMode, {8})
        .record(EmrSetWindowExtEx, {200, 200})
        .record(EmrSetViewportExtEx, {100, 100})
        .record(EmrIntersectClipRect, rect(0, 0, 150, 150))
        .record(EmrRectangle, rect(10, 10, 50, 30))
        .record(EmrPolyPolygon16, rect(0, 0, 100, 100) + dwords({2, 6, 3, 3}) +
                                      words({0, 0, 90, 0, 90, 90, 10, 10, 80, 10, 80, 80}))
        .record(EmrStretchDiBits,
                rect(0, 0, 99, 99) +
                    dwords({0, 0, 0, 0, 2, 2, 80, 40, 120, 16, 0, 0x00CC0020, 100, 100}) +
                    makeDib(24, false, false).info + makeDib(24, false, false).bits);
    const QByteArray base = b.finish();
    QRandomGenerator rng(1234);
    for (int i = 0; i < 3000; ++i) {
        QByteArray data = base;
        const int changes = 1 + int(rng.bounded(4));
        for (int k = 0; k < changes; ++k)
            data[88 + int(rng.bounded(int(data.size()) - 88))] = char(rng.bounded(256));
        metafile::render(data); // any outcome but a crash will do
    }
}

QTEST_MAIN(TestMetafile)
#include "tst_metafile.moc"
