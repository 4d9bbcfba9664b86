// Which Qt platform the program asks for before the application object exists.

#include "platform/display_platform.h"

#include <QTest>

class TestDisplayPlatform : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void rule_data();
    void rule();
};

void TestDisplayPlatform::rule_data()
{
    QTest::addColumn<QString>("wayland");
    QTest::addColumn<QString>("userChoice");
    QTest::addColumn<QString>("x11");
    QTest::addColumn<bool>("xcbPlugin");
    QTest::addColumn<QString>("expected");

    const QString none;
    const QString wl = QStringLiteral("wayland-0");
    const QString x = QStringLiteral(":0");
    const QString xcb = QStringLiteral("xcb");
    QTest::newRow("Wayland session with XWayland") << wl << none << x << true << xcb;
    QTest::newRow("X11 session: Qt decides") << none << none << x << true << none;
    QTest::newRow("user asked for wayland") << wl << QStringLiteral("wayland") << x << true << none;
    QTest::newRow("user asked for offscreen")
        << wl << QStringLiteral("offscreen") << x << true << none;
    QTest::newRow("user asked for xcb") << wl << xcb << x << true << none;
    QTest::newRow("no XWayland") << wl << none << none << true << none;
    QTest::newRow("no xcb plugin") << wl << none << x << false << none;
    QTest::newRow("no display at all") << none << none << none << true << none;
}

void TestDisplayPlatform::rule()
{
    QFETCH(QString, wayland);
    QFETCH(QString, userChoice);
    QFETCH(QString, x11);
    QFETCH(bool, xcbPlugin);
    QFETCH(QString, expected);
    QCOMPARE(platform::preferredQtPlatform(wayland, userChoice, x11, xcbPlugin), expected);
}

QTEST_GUILESS_MAIN(TestDisplayPlatform)
#include "test_display_platform.moc"
