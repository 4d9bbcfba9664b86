// Metafiles written by LibreOffice and Inkscape, played and compared with LibreOffice's own
// rendering of each (fixtures/*.png, made by fixtures/make_fixtures.sh).
#include "metafile/metafile.h"

#include <QDir>
#include <QFile>
#include <QPainter>
#include <QTest>
#include <QtEndian>
#include <cmath>

namespace {

const QString kDir = QStringLiteral(RORUMO_METAFILE_FIXTURES) + u'/';

QByteArray readFile(const QString &name)
{
    QFile f(kDir + name);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void addFixtureRows()
{
    QTest::addColumn<QString>("file");
    const QStringList files =
        QDir(kDir).entryList({QStringLiteral("*.wmf"), QStringLiteral("*.emf")});
    QVERIFY(files.size() >= 8);
    for (const QString &f : files)
        QTest::newRow(qPrintable(f)) << f;
}

// The natural size in twips as the file's header states it, read independently of the player.
QSizeF headerTwips(const QByteArray &data)
{
    const auto *d = reinterpret_cast<const uchar *>(data.constData());
    const auto at = [d](int i) { return qFromLittleEndian<qint32>(d + i); };
    if (qFromLittleEndian<quint32>(d) == 0x9AC6CDD7u) {
        const auto w = [d](int i) { return qFromLittleEndian<qint16>(d + i); };
        const qreal inch = qFromLittleEndian<quint16>(d + 14);
        return QSizeF(std::abs(w(10) - w(6)), std::abs(w(12) - w(8))) * 1440 / inch;
    }
    // EMF frame: hundredths of a millimetre, both edges inclusive
    return QSizeF(at(32) - at(24) + 1, at(36) - at(28) + 1) / 100.0 * 1440 / 25.4;
}

struct Difference
{
    double mean = 0;  // mean absolute difference per channel, 0..255
    double share = 0; // share of pixels where some channel differs by more than 64
};

Difference compare(const QImage &a, const QImage &b, QPoint offset)
{
    qint64 sum = 0, far = 0;
    for (int y = 0; y < a.height(); ++y) {
        for (int x = 0; x < a.width(); ++x) {
            const QRgb p = a.pixel(x, y);
            const QPoint q = QPoint(x, y) + offset;
            const QRgb r = b.rect().contains(q) ? b.pixel(q) : qRgb(255, 255, 255);
            const int dr = std::abs(qRed(p) - qRed(r)), dg = std::abs(qGreen(p) - qGreen(r)),
                      db = std::abs(qBlue(p) - qBlue(r));
            sum += dr + dg + db;
            far += std::max({dr, dg, db}) > 64;
        }
    }
    const double pixels = double(a.width()) * a.height();
    return {sum / (3.0 * pixels), far / pixels};
}

} // namespace

class TestMetafileFixtures : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void matchesReference_data() { addFixtureRows(); }

    // Tolerances: LibreOffice anti-aliases differently, places the picture on its page at
    // sub-pixel offsets, rounds thin pens up to whole pixels and picks its own font hinting and
    // dash lengths, so edges, thin lines and glyph outlines differ by a pixel here and there; on
    // these small pictures that is up to about 13 (of 255) mean difference per channel and 10 %
    // of pixels. A mean below 15 and fewer than 11 % of pixels off by more than 64 still catch a
    // missing clip (measured: mean 40, 27 %), a missing or misplaced shape, a wrong colour or
    // mapping, or a bitmap upside down.
    void matchesReference()
    {
        QFETCH(QString, file);
        const QByteArray data = readFile(file);
        const auto pic = metafile::render(data);
        QVERIFY(pic);
        const QSizeF twips = headerTwips(data);
        QVERIFY(std::abs(pic->sizeTwips.width() - twips.width()) <= 1);
        QVERIFY(std::abs(pic->sizeTwips.height() - twips.height()) <= 1);
        QCOMPARE(pic->image.size(), QSize(qRound(std::round(twips.width() / 15)),
                                          qRound(std::round(twips.height() / 15))));

        // LibreOffice puts the picture in the middle of an A4 page; find it there, allowing for
        // rounding of its position.
        const QImage page =
            QImage(kDir + file + QStringLiteral(".png")).convertToFormat(QImage::Format_RGB32);
        QVERIFY(!page.isNull());
        QImage ours(pic->image.size(), QImage::Format_RGB32);
        ours.fill(Qt::white);
        QPainter(&ours).drawImage(0, 0, pic->image);
        const QPoint centred((page.width() - ours.width()) / 2,
                             (page.height() - ours.height()) / 2);
        Difference best{1e9, 1};
        for (int dy = -3; dy <= 3; ++dy)
            for (int dx = -3; dx <= 3; ++dx)
                if (const Difference d = compare(ours, page, centred + QPoint(dx, dy));
                    d.mean < best.mean)
                    best = d;
        qInfo("%s: mean %.2f, far %.2f %%", qPrintable(file), best.mean, best.share * 100);
        // LibreOffice writes its own notion of font width into WMF fonts (equal to the height for
        // an unstretched font) where Windows means the average character width, and so stretches
        // the text as Windows would.
        if (file == QStringLiteral("text.lo.wmf"))
            QEXPECT_FAIL("", "LibreOffice's WMF font width differs from Windows' meaning", Abort);
        QVERIFY2(best.mean < 15, qPrintable(QString::number(best.mean)));
        QVERIFY2(best.share < 0.11, qPrintable(QString::number(best.share)));
    }

    // Every prefix of the smaller files, a sample of the larger ones, is refused.
    void truncated_data() { addFixtureRows(); }
    void truncated()
    {
        QFETCH(QString, file);
        const QByteArray data = readFile(file);
        const int step = data.size() <= 2500 ? 1 : 37;
        for (qsizetype n = 0; n < data.size(); n += step)
            QVERIFY2(!metafile::render(QByteArrayView(data).first(n)),
                     qPrintable(QString::number(n)));
    }
};

QTEST_MAIN(TestMetafileFixtures)
#include "tst_metafile_fixtures.moc"
