#include "app/form1.h"
#include "platform/display_platform.h"
#include "platform/end_requests.h"
#include "platform/qt_language.h"
#include "platform/services.h"

#include <QApplication>
#include <QSessionManager>

int main(int argc, char *argv[])
{
    platform::chooseQtPlatform();
    // The program takes no options: Qt sees only the program's name, so that none of its own
    // (-platform, -qwindowtitle, -qwindowgeometry...) changes the windows.
    char fallbackName[] = "rorumo";
    char *qtArgv[] = {argc > 0 && argv[0] ? argv[0] : fallbackName, nullptr};
    int qtArgc = 1;
    QApplication application(qtArgc, qtArgv);
    QApplication::setApplicationName(QStringLiteral("rorumo"));
    QApplication::setApplicationDisplayName(QString());
    QApplication::setApplicationVersion(QStringLiteral(RORUMO_VERSION));
    // Only closing the bus window ends the program.
    QApplication::setQuitOnLastWindowClosed(false);
    platform::installQtJapanese(application);

    platform::Services services = platform::Services::real(QApplication::applicationFilePath());
    Form1 bus(services);
    // exit(), not quit(): quit() first asks every window to close, and an open modal window
    // (the chooser) may refuse; exit() ends every event loop, the modal ones included.
    QObject::connect(&bus, &Form1::programEnded, &application, [] { QCoreApplication::exit(0); });
    // Logout, shutdown, a hang-up or Ctrl+C end the program as closing the bus window does.
    platform::EndRequests endRequests;
    QObject::connect(&endRequests, &platform::EndRequests::endRequested, &bus, &Form1::Form_Unload);
#ifndef QT_NO_SESSIONMANAGER
    // The session manager asks for the settings before it ends the session.
    QObject::connect(&application, &QGuiApplication::commitDataRequest, &bus,
                     [&bus](QSessionManager &) { bus.SaveIni(); });
#endif
    bus.startOnScreen();
    return application.exec();
}
