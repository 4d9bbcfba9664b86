#include "metafile/costly.h"
#include "pictures/picture_loader.h"
#include "pictures/picture_requests.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>

#ifdef Q_OS_UNIX
#include <sys/stat.h>
#endif

using platform::loadPicture;

namespace {

// A picture with some detail, so that a cut-off file really misses part of its data.
QByteArray patterned(int width, int height, const char *format)
{
    QImage image(width, height, QImage::Format_RGB32);
    QRandomGenerator random(7);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            image.setPixel(x, y, random.generate() | 0xff000000u);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, format);
    return bytes;
}

} // namespace

class TestPictureLoader : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;

    QString write(const QString &name, const QByteArray &bytes)
    {
        const QString path = m_dir.filePath(name);
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
            qFatal("cannot write %s", qPrintable(path));
        return path;
    }

private Q_SLOTS:
    // By content, whatever the name says; one bitmap pixel is 15 twips. Bad files fail.
    void loadsByContent_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QSize>("size"); // invalid: the file fails
        const QSize z(37, 21), fails;
        // Qt writes no GIF; a 1 x 1 one by hand.
        const char gif[] = "GIF89a\x01\x00\x01\x00\x80\x00\x00\xff\xff\xff\x00\x00\x00"
                           ",\x00\x00\x00\x00\x01\x00\x01\x00\x00\x02\x02\x44\x01\x00;";
        QTest::newRow("bmp") << "a.bmp" << patterned(37, 21, "BMP") << z;
        QTest::newRow("jpeg named .jpg") << "b.jpg" << patterned(37, 21, "JPEG") << z;
        QTest::newRow("png named .bmp") << "d.bmp" << patterned(37, 21, "PNG") << z;
        QTest::newRow("gif") << "g.gif" << QByteArray(gif, sizeof gif - 1) << QSize(1, 1);

        const auto half = [](const QByteArray &b) { return b.left(b.size() / 2); };
        QTest::newRow("truncated png") << "t.png" << half(patterned(64, 48, "PNG")) << fails;
        QTest::newRow("truncated jpeg") << "t.jpg" << half(patterned(64, 48, "JPEG")) << fails;
        // Rows of one pixel, three bytes and one of padding each: the last row's padding may be
        // missing, not a byte of its pixel.
        QTest::newRow("bmp without its last padding")
            << "p.bmp" << patterned(1, 48, "BMP").chopped(1) << QSize(1, 48);
        QTest::newRow("bmp two bytes short")
            << "s.bmp" << patterned(1, 48, "BMP").chopped(2) << fails;
        QTest::newRow("empty file") << "empty.bmp" << QByteArray() << fails;
        QTest::newRow("text named .jpg") << "text.jpg" << QByteArray("no picture\n") << fails;
        QTest::newRow("jpeg scans repeated")
            << "s.jpg" << testing::costly::repeatedScans(1000, 3000) << fails;
        // Width -2^31 at 65535 bits a pixel: its size once overflowed.
        QTest::newRow("bmp row beyond any file")
            << "w.bmp"
            << "BM" + testing::dwords({70, 0, 54, 40, -2147483648LL, 65535}) +
                   testing::words({1, 65535}) + testing::dwords({0, 16, 0, 0, 0, 0}) +
                   QByteArray(16, '\xff')
            << fails;
    }
    void loadsByContent()
    {
        QFETCH(QString, name);
        QFETCH(QByteArray, bytes);
        QFETCH(QSize, size);
        const auto picture = loadPicture(write(name, bytes));
        QCOMPARE(picture.has_value(), size.isValid());
        if (picture) {
            QCOMPARE(picture->image.size(), size);
            QCOMPARE(picture->sizeTwips, size * 15);
        }
    }

    // BMP files read as the metafile player reads bitmaps: channels scaled to eight bits, the
    // pixels where the file header puts them.
    void bmpPixels_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QRgb>("first"); // the top-left pixel
        using testing::dwords, testing::words;
        // A file header, an info header of `size` bytes, then `rest` (masks, colours, pixels).
        const auto bmp = [](int size, const QByteArray &info, qint64 offBits,
                            const QByteArray &rest) {
            return "BM" + dwords({14 + size + rest.size(), 0, offBits}) + info + rest;
        };
        const auto header = [](int bpp, int compression) {
            return dwords({40, 1, 1}) + words({1, bpp}) + dwords({compression, 0, 0, 0, 0, 0});
        };
        QTest::newRow("2-3-1 bit fields, white")
            << bmp(40, header(16, 3), 66, dwords({0x30, 0x0e, 0x01, 0x3f})) << qRgb(255, 255, 255);
        QTest::newRow("11-11-10 bit fields, red")
            << bmp(40, header(32, 3), 66, dwords({0xffe00000, 0x001ffc00, 0x3ff, 0xffe00000}))
            << qRgb(255, 0, 0);
        // An OS/2 header with two colours of the 256 its depth allows.
        QTest::newRow("os/2 short palette") << bmp(12, dwords({12}) + words({1, 1, 1, 8}), 32,
                                                   QByteArray::fromHex("0000ff ff0000 01000000"))
                                            << qRgb(0, 0, 255);
    }
    void bmpPixels()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QRgb, first);
        const auto picture = loadPicture(write(QStringLiteral("p.bmp"), bytes));
        QVERIFY(picture);
        QCOMPARE(picture->image.pixel(0, 0), first);
    }

    // An empty path is the empty picture; no file, a folder, a FIFO (at once, rather than
    // waiting for ever for a writer) or a file above 64 MiB is a failure.
    void notAPictureFile()
    {
        const auto empty = loadPicture(QString());
        QVERIFY(empty.has_value() && empty->isEmpty() && empty->sizeTwips.isEmpty());
        QVERIFY(!loadPicture(m_dir.filePath("none.bmp")).has_value());
        QVERIFY(QDir(m_dir.path()).mkpath("folder.bmp"));
        QVERIFY(!loadPicture(m_dir.filePath("folder.bmp")).has_value());
#ifdef Q_OS_UNIX
        const QString fifo = m_dir.filePath("pipe.bmp");
        QCOMPARE(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
        QVERIFY(!loadPicture(fifo).has_value());
#endif
        // A valid picture, then a sparse tail up to the limit and one byte beyond it.
        constexpr qint64 limit = 64 * 1024 * 1024;
        const QString path = write("huge.bmp", patterned(8, 8, "BMP"));
        QFile file(path);
        QVERIFY(file.resize(limit));
        QVERIFY(loadPicture(path).has_value());
        QVERIFY(file.resize(limit + 1));
        QVERIFY(!loadPicture(path).has_value());
    }

    // Only the latest request is answered: the slow earlier one is abandoned.
    void laterRequestWins()
    {
        platform::PictureRequests requests;
        QStringList answers;
        requests.request(write("slow.emf", testing::costly::selfCrossingPolygon()), 1,
                         [&](const auto &) { answers << "slow"; });
        requests.request(write("quick.bmp", patterned(8, 8, "BMP")), 1,
                         [&](const auto &p) { answers << (p ? "quick" : "no picture"); });
        requests.waitForAnswer();
        QCOMPARE(answers, QStringList{"quick"});
    }
};

QTEST_MAIN(TestPictureLoader)
#include "test_picture_loader.moc"
