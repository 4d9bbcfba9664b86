#include "app/form1.h"
#include "platform/display_platform.h"
#include "platform/qt_language.h"
#include "platform/services.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    platform::chooseQtPlatform();
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("rorumo"));
    QApplication::setApplicationDisplayName(QString());
    QApplication::setApplicationVersion(QStringLiteral(RORUMO_VERSION));
    // Only closing the bus window ends the program.
    QApplication::setQuitOnLastWindowClosed(false);
    platform::installQtJapanese(application);

    platform::Services services = platform::Services::real(QApplication::applicationFilePath());
    Form1 bus(services);
    QObject::connect(&bus, &Form1::programEnded, &application, &QApplication::quit);
    bus.startOnScreen();
    return application.exec();
}
