// On a high-density screen every picture of the program comes from its sharp 2x drawing, and the
// doors move by fractions of a logical pixel.
#include "app/form1.h"
#include "controls/image_control.h"
#include "controls/picture_box.h"
#include "resources/own_pictures.h"
#include "support/fakes.h"

#include <QApplication>
#include <QPixmap>
#include <QTemporaryDir>
#include <QtTest>

namespace {

// Mean absolute luminance step between neighbouring pixels: higher for crisper edges.
double edgeEnergy(const QImage &image)
{
    const QImage grey = image.convertToFormat(QImage::Format_Grayscale8);
    double sum = 0;
    for (int y = 0; y + 1 < grey.height(); ++y) {
        const uchar *row = grey.constScanLine(y);
        const uchar *below = grey.constScanLine(y + 1);
        for (int x = 0; x + 1 < grey.width(); ++x)
            sum += std::abs(row[x] - row[x + 1]) + std::abs(row[x] - below[x]);
    }
    return sum / (double(grey.width()) * grey.height());
}

QImage grabDevicePixels(QWidget *widget)
{
    return widget->grab().toImage().convertToFormat(QImage::Format_RGB32);
}

} // namespace

class HighDensityTest : public QObject
{
    Q_OBJECT
    QTemporaryDir m_folder;
    FakeServices m_fakes{m_folder.filePath(QStringLiteral("rorumo"))};
    Form1 m_form{m_fakes.services};

private Q_SLOTS:
    void busIsDrawnFromItsSharpVersion()
    {
        QCOMPARE(qApp->devicePixelRatio(), 2.0);
        const QImage screen = grabDevicePixels(&m_form);
        QCOMPARE(screen.size(), QSize(1500, 418));

        // Away from every control the window shows the 2x drawing pixel for pixel.
        const QImage sharp =
            QImage(QStringLiteral(":/images/bus@2x.png")).convertToFormat(QImage::Format_RGB32);
        const QRect bare(2 * 200, 2 * 4, 2 * 120, 2 * 30);
        QCOMPARE(screen.copy(bare), sharp.copy(bare));

        // And it is crisper than the 1x drawing blown up to the same size.
        const QImage normal = ownPicture(QStringLiteral("bus"), 1.0).image;
        const QImage upscaled =
            normal.scaled(normal.size() * 2, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
                .convertToFormat(QImage::Format_RGB32);
        const QRect outline(0, 0, 1500, 418);
        const double sharpEnergy = edgeEnergy(screen.copy(outline));
        const double upscaledEnergy = edgeEnergy(upscaled.copy(outline));
        QVERIFY2(
            sharpEnergy > 1.15 * upscaledEnergy,
            qPrintable(
                QStringLiteral("2x %1 vs 1x upscaled %2").arg(sharpEnergy).arg(upscaledEnergy)));
    }

    void doorsAreDrawnFromSharpVersions()
    {
        const QImage frontDoor = grabDevicePixels(m_form.Image1[2]);
        QCOMPARE(frontDoor.size(), QSize(138, 286));
        const QImage sharpDoor = QImage(QStringLiteral(":/images/door_front@2x.png"))
                                     .convertToFormat(QImage::Format_RGB32);
        // Stretched to its own size, the door is its 2x drawing (give or take rounding).
        int differing = 0;
        for (int y = 0; y < sharpDoor.height(); ++y)
            for (int x = 0; x < sharpDoor.width(); ++x)
                differing +=
                    std::abs(qGray(frontDoor.pixel(x, y)) - qGray(sharpDoor.pixel(x, y))) > 8;
        QVERIFY2(differing < sharpDoor.width() * sharpDoor.height() / 50,
                 qPrintable(QString::number(differing)));
    }

    void doorsMoveBySubPixelSteps()
    {
        // Four twips are a quarter of a logical pixel: half a device pixel here.
        const QImage closed = grabDevicePixels(m_form.picSlideBase1);
        m_form.Image2->setLeft(-4);
        const QImage nudged = grabDevicePixels(m_form.picSlideBase1);
        QVERIFY(closed != nudged);
        QCOMPARE(m_form.Image2->geometry().x(), -1); // the covering whole pixel
        QCOMPARE(m_form.Image2->contentRect().x(), 1.0 - 4.0 / 15.0);
    }
};

int main(int argc, char *argv[])
{
    qputenv("QT_SCALE_FACTOR", "2");
    QApplication application(argc, argv);
    HighDensityTest test;
    return QTest::qExec(&test, argc, argv);
}
#include "test_hidpi.moc"
