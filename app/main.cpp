#include "app/form1.h"
#include "pictures/worker/worker_main.h"
#include "platform/display_platform.h"
#include "platform/end_requests.h"
#include "platform/file_names.h"
#include "platform/install_layout.h"
#include "platform/qt_language.h"
#include "platform/save_at_exit.h"
#include "platform/services.h"

#include <QApplication>
#include <QSessionManager>
#include <cstring>

int main(int argc, char *argv[])
{
    // Started as its own picture worker: no window, no settings, nothing but pictures.
    if (argc == 2 && std::strcmp(argv[1], platform::kPictureWorkerArgument) == 0)
        return pictures::worker::workerMain(argc, argv);
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

    // Made before the bus window, so that both live as long as it does.
    platform::EndRequests endRequests;
    platform::SaveAtExit saveAtExit;
    platform::Services services = platform::Services::real(platform::executablePath());
    Form1 bus(services);
    // exit(), not quit(): quit() first asks every window to close, and an open modal window
    // (the chooser) may refuse; exit() ends every event loop, the modal ones included.
    QObject::connect(&bus, &Form1::programEnded, &application, [] { QCoreApplication::exit(0); });
    // Logout, shutdown, a hang-up or Ctrl+C end the program as closing the bus window does.
    QObject::connect(&endRequests, &platform::EndRequests::endRequested, &bus, &Form1::Form_Unload);
#ifndef QT_NO_SESSIONMANAGER
    // The session manager asks for the settings before it ends the session.
    QObject::connect(&application, &QGuiApplication::commitDataRequest, &bus,
                     [&bus](QSessionManager &) { bus.SaveIni(); });
#endif
    // When the X server goes, Qt's X11 plugin calls exit() and no window can be asked anything:
    // the settings line is kept ready instead, a new one whenever a stored value has changed
    // (a short line, nothing written; the file's place is looked up once).
    QObject::connect(&bus, &Form1::savingSettings, &bus,
                     [&saveAtExit](const QString &path, const QByteArray &line) {
                         saveAtExit.markSaved(path, line);
                     });
    QObject::connect(&bus, &Form1::settingsLineChanged, &bus,
                     [&saveAtExit, path = bus.settingsFileToWrite()](const QByteArray &line) {
                         saveAtExit.keep(path, line);
                     });
    if (!bus.startOnScreen())
        return 0;
    return application.exec();
}
