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
QImage patterned(int width, int height)
{
    QImage image(width, height, QImage::Format_RGB32);
    QRandomGenerator random(7);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            image.setPixel(x, y, random.generate() | 0xff000000u);
    return image;
}

QByteArray encoded(const QImage &image, const char *format)
{
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
    void initTestCase() { QVERIFY(m_dir.isValid()); }

    // By content, whatever the name says; one bitmap pixel is 15 twips.
    void loadsByContent_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QSize>("size");
        QTest::addColumn<bool>("lossless");
        const QImage source = patterned(37, 21);
        // Qt writes no GIF; a 1 x 1 one by hand.
        const char gif[] = "GIF89a\x01\x00\x01\x00\x80\x00\x00\xff\xff\xff\x00\x00\x00"
                           ",\x00\x00\x00\x00\x01\x00\x01\x00\x00\x02\x02\x44\x01\x00;";
        const QSize z = source.size();
        QTest::newRow("bmp") << "a.bmp" << encoded(source, "BMP") << z << true;
        QTest::newRow("jpeg named .jpg") << "b.jpg" << encoded(source, "JPEG") << z << false;
        QTest::newRow("png named .bmp") << "d.bmp" << encoded(source, "PNG") << z << true;
        QTest::newRow("gif") << "g.gif" << QByteArray(gif, sizeof gif - 1) << QSize(1, 1) << false;
    }
    void loadsByContent()
    {
        QFETCH(QString, name);
        QFETCH(QByteArray, bytes);
        QFETCH(QSize, size);
        const auto picture = loadPicture(write(name, bytes));
        QVERIFY(picture.has_value());
        QCOMPARE(picture->image.size(), size);
        QCOMPARE(picture->sizeTwips, size * 15);
        QFETCH(bool, lossless);
        if (lossless)
            QCOMPARE(picture->image.pixel(5, 3), patterned(37, 21).pixel(5, 3));
    }

    void badFilesFail_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("bytes");
        const QImage source = patterned(64, 48);
        const auto half = [](const QByteArray &b) { return b.left(b.size() / 2); };
        QTest::newRow("truncated png") << "t.png" << half(encoded(source, "PNG"));
        QTest::newRow("truncated jpeg") << "t.jpg" << half(encoded(source, "JPEG"));
        // Rows of one pixel, three bytes and one of padding each: the last row's padding missing.
        QTest::newRow("bmp one byte short")
            << "s.bmp" << encoded(patterned(1, 48), "BMP").chopped(1);
        QTest::newRow("empty file") << "empty.bmp" << QByteArray();
        QTest::newRow("text named .jpg") << "text.jpg" << QByteArray("not a picture at all\n");
        QTest::newRow("jpeg scans repeated")
            << "s.jpg" << testing::costly::repeatedScans(1000, 3000);
        // Width -2^31 at 65535 bits a pixel: its size once overflowed.
        QTest::newRow("bmp row beyond any file")
            << "w.bmp"
            << "BM" + testing::dwords({70, 0, 54, 40, -2147483648LL, 65535}) +
                   testing::words({1, 65535}) + testing::dwords({0, 16, 0, 0, 0, 0}) +
                   QByteArray(16, '\xff');
    }
    void badFilesFail()
    {
        QFETCH(QString, name);
        QFETCH(QByteArray, bytes);
        QVERIFY(!loadPicture(write(name, bytes)).has_value());
    }

    // An empty path is the empty picture; no file, a folder or a FIFO is a failure, and a FIFO
    // fails at once rather than waiting for ever for a writer.
    void notAFile()
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
    }

    // Only the latest request is answered: the slow earlier one is abandoned.
    void laterRequestWins()
    {
        platform::PictureRequests requests;
        QStringList answers;
        const auto note = [&](const char *name) {
            return [&answers, name](const std::optional<Picture> &p) {
                answers << (p ? name : "none");
            };
        };
        requests.request(write("slow.emf", testing::costly::selfCrossingPolygon()), 1,
                         note("slow"));
        requests.request(write("quick.bmp", encoded(patterned(8, 8), "BMP")), 1, note("quick"));
        requests.waitForAnswer();
        QCOMPARE(answers, QStringList{"quick"});
    }

    // A valid picture, then a sparse tail up to the limit of 64 MiB and one byte beyond it.
    void fileSizeLimit()
    {
        constexpr qint64 limit = 64 * 1024 * 1024;
        const QString path = write("huge.bmp", encoded(patterned(8, 8), "BMP"));
        QFile file(path);
        QVERIFY(file.resize(limit));
        QVERIFY(loadPicture(path).has_value());
        QVERIFY(file.resize(limit + 1));
        QVERIFY(!loadPicture(path).has_value());
    }
};

QTEST_MAIN(TestPictureLoader)
#include "test_picture_loader.moc"
