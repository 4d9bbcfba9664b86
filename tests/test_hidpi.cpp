// On a high-density screen the bus comes from its sharp 2x drawing, and the doors move by
// fractions of a logical pixel.
#include "app/form1.h"
#include "controls/image_control.h"
#include "controls/picture_box.h"
#include "support/fakes.h"

#include <QApplication>
#include <QPixmap>
#include <QTemporaryDir>
#include <QtTest>

namespace {

QImage grabDevicePixels(QWidget *widget)
{
    return widget->grab().toImage().convertToFormat(QImage::Format_RGB32);
}

} // namespace

class HighDensityTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void sharpBusAndSubPixelDoors()
    {
        QTemporaryDir folder;
        FakeServices fakes(folder.filePath(QStringLiteral("rorumo")));
        Form1 form(fakes.services);
        QCOMPARE(qApp->devicePixelRatio(), 2.0);
        const QImage screen = grabDevicePixels(&form);
        QCOMPARE(screen.size(), QSize(1500, 418));
        // Away from every control the window shows the 2x drawing pixel for pixel.
        const QImage sharp =
            QImage(QStringLiteral(":/images/bus@2x.png")).convertToFormat(QImage::Format_RGB32);
        const QRect bare(2 * 200, 2 * 4, 2 * 120, 2 * 30);
        QCOMPARE(screen.copy(bare), sharp.copy(bare));

        // Four twips are a quarter of a logical pixel: half a device pixel here.
        const QImage closed = grabDevicePixels(form.picSlideBase1);
        form.Image2->setLeft(-4);
        QVERIFY(grabDevicePixels(form.picSlideBase1) != closed);
        QCOMPARE(form.Image2->geometry().x(), -1); // the covering whole pixel
        QCOMPARE(form.Image2->contentRect().x(), 1.0 - 4.0 / 15.0);
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
