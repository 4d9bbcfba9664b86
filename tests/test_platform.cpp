// What the program asks of the system before and beside its windows: the Qt platform, where an
// installed program lies, the maker's library behind the homepage link, and the ends of the
// program that its windows do not see.

#include "platform/display_platform.h"
#include "platform/end_requests.h"
#include "platform/install_layout.h"
#include "platform/maker_library.h"
#include "platform/save_at_exit.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSignalSpy>
#include <QSocketNotifier>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>

#ifdef Q_OS_UNIX
#include <csignal>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace {

bool putReadme(const QString &folder)
{
    return QDir().mkpath(folder) &&
           QFile(folder + QStringLiteral("/README.md")).open(QIODevice::WriteOnly);
}

} // namespace

class TestPlatform : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    // Arguments: the Wayland display, the user's choice, the X display, whether the xcb plugin is
    // there.
    void qtPlatform()
    {
        const QString none, wl = QStringLiteral("wayland-0"), x = QStringLiteral(":0");
        using platform::preferredQtPlatform;
        QCOMPARE(preferredQtPlatform(wl, none, x, true), "xcb");  // a Wayland session with XWayland
        QCOMPARE(preferredQtPlatform(none, none, x, true), none); // an X11 session: Qt decides
        QCOMPARE(preferredQtPlatform(wl, QStringLiteral("wayland"), x, true), none); // the user's
        QCOMPARE(preferredQtPlatform(wl, none, none, true), none);                   // no XWayland
        QCOMPARE(preferredQtPlatform(wl, none, x, false), none); // no xcb plugin
    }

#ifdef Q_OS_UNIX
    // End requests come in bursts (a closed terminal: two hang-ups; a session's end: SIGTERM and
    // SIGHUP): one request, and the program lives on to save. A request while the program is
    // closing (the socket's reading side shut) raises no SIGPIPE and no request; nor does a
    // wake-up with nothing to read.
    void endRequests_data()
    {
        QTest::addColumn<QList<int>>("sent");
        QTest::addColumn<bool>("closing");
        QTest::addColumn<int>("requests");
        QTest::newRow("SIGTERM") << QList<int>{SIGTERM} << false << 1;
        QTest::newRow("a burst") << QList<int>{SIGHUP, SIGHUP, SIGTERM, SIGINT} << false << 1;
        QTest::newRow("closing") << QList<int>{SIGHUP} << true << 0;
    }
    void endRequests()
    {
        QFETCH(QList<int>, sent);
        QFETCH(bool, closing);
        QFETCH(int, requests);
        platform::EndRequests endRequests;
        QSignalSpy spy(&endRequests, &platform::EndRequests::endRequested);
        auto *notifier = endRequests.findChild<QSocketNotifier *>();
        QVERIFY(notifier && (!closing || ::shutdown(int(notifier->socket()), SHUT_RD) == 0));
        for (const int signal : sent) {
            QCOMPARE(::raise(signal), 0);
            QTest::qSleep(3);
        }
        QTest::qWait(50);
        QEvent wakeUp(QEvent::SockAct);
        QCoreApplication::sendEvent(notifier, &wakeUp);
        QCOMPARE(spy.size(), requests);
    }

    // The ends that skip the normal save, in a child process: exit() (what Qt does when the X
    // server is gone) writes the line kept last unless the normal save wrote it; a request long
    // after the first ends the program at once, writing it too.
    void abruptEnds_data()
    {
        QTest::addColumn<QString>("end");
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("written");
        const QByteArray kept = "kept\r\n";
        QTest::newRow("exit()") << "exit" << 1 << kept;
        QTest::newRow("exit() after the normal save") << "saved" << 1 << QByteArray();
        QTest::newRow("a request after the patience") << "late" << 128 + SIGHUP << kept;
    }
    void abruptEnds()
    {
        QFETCH(QString, end);
        QFETCH(int, status);
        QFETCH(QByteArray, written);
        QTemporaryDir dir;
        const QString file = dir.filePath(QStringLiteral("bus.ini"));
        platform::EndRequests endRequests;
        platform::SaveAtExit save;
        save.keep(file, "first\r\n");
        save.keep(file, "kept\r\n");
        if (end == "saved")
            save.markSaved(file, "kept\r\n");
        const pid_t child = ::fork();
        if (child == 0) {
            if (end != "late")
                ::exit(1);
            ::raise(SIGTERM);
            ::usleep(platform::EndRequests::kPatienceSeconds * 1'000'000 + 100'000);
            ::raise(SIGHUP);
            ::_exit(0);
        }
        int got = 0;
        QCOMPARE(::waitpid(child, &got, 0), child);
        QVERIFY2(WIFEXITED(got), qPrintable(QString::number(got)));
        QCOMPARE(WEXITSTATUS(got), status);
        QFile saved(file);
        QCOMPARE(saved.open(QIODevice::ReadOnly) ? saved.readAll() : QByteArray(), written);
    }
#endif

    void makerLibrary_data()
    {
        QTest::addColumn<QString>("library"); // copied as the maker's library; empty: none
        QTest::addColumn<QString>("where");   // "bin", "private" (as installed), "both"; "cwd":
                                              // only in the working folder, and no program folder
        QTest::addColumn<bool>("readme");     // a README beside the executable
        // Installed: the settings go to the configuration folder. The layout lies under a scratch
        // prefix, so it has to hold for any prefix.
        QTest::addColumn<bool>("installed");
        QTest::addColumn<QString>("answer"); // "file:" and the document; else words of the error
        const QString real = QStringLiteral(RORUMO_TEST_VLM3RES);
        const QString name = platform::VLM3ResLibrary::fileName();
        // "@" stands for the program's folder, "%" for the installed documents.
        QTest::newRow("installed") << real << "private" << false << true << "file:%/README.md";
        // Without a README beside it, a build folder's library names the source tree's.
        QTest::newRow("build folder")
            << real << "bin" << false << false << "file:" RORUMO_TEST_SOURCE_README;
        QTest::newRow("copied folder with its README")
            << real << "bin" << true << false << "file:@/README.md";
        QTest::newRow("copied over an installed one")
            << real << "both" << true << false << "file:@/README.md";
        QTest::newRow("absent") << ""
                                << "bin" << false << false << "@/" + name;
        QTest::newRow("without RakutoHpURL") << QStringLiteral(RORUMO_TEST_VLM3RES_NOFUNCTION)
                                             << "bin" << false << false << "RakutoHpURL";
        QTest::newRow("only in the working folder") << real << "cwd" << false << false << name;
    }

    void makerLibrary()
    {
        QFETCH(QString, library);
        QFETCH(QString, where);
        QFETCH(bool, readme);
        QFETCH(bool, installed);
        QFETCH(QString, answer);

        // Characters that mean something in an address must not cut the folder's name short.
        QTemporaryDir root(QDir::tempPath() + QStringLiteral("/rorumo #?%-XXXXXX"));
        QTemporaryDir working;
        QVERIFY(root.isValid() && working.isValid());
        const auto under = [&root](const char *folder) {
            return QDir::cleanPath(root.path() + '/' + QLatin1String(folder));
        };
        const QString bin = under(RORUMO_TEST_BINDIR), docs = under(RORUMO_TEST_DOCDIR);
        const QString name = platform::VLM3ResLibrary::fileName();
        // Copies, not links: each one loads as a library of its own.
        for (const auto &[wanted, folder] :
             {std::pair{where == "bin" || where == "both", bin},
              {where == "private" || where == "both", under(RORUMO_TEST_PRIVATE_LIBDIR)},
              {where == "cwd", working.path()}})
            QVERIFY(QDir().mkpath(folder) &&
                    (!wanted || library.isEmpty() || QFile::copy(library, folder + '/' + name)));
        for (const auto &[wanted, folder] : {std::pair{readme, bin}, {installed, docs}})
            QVERIFY(!wanted || putReadme(folder));
        QCOMPARE(platform::isInstalledProgram(bin), installed);

        const QString before = QDir::currentPath();
        QVERIFY(QDir::setCurrent(working.path()));
        platform::VLM3ResLibrary maker(where == "cwd" ? QString() : bin);
        // Asked twice: the library answers the same each time.
        const platform::MakerLibrary::Answer got[] = {maker.homepageAddress(),
                                                      maker.homepageAddress()};
        QDir::setCurrent(before);

        const bool ok = answer.startsWith(QStringLiteral("file:"));
        answer.replace(u'%', docs).replace(u'@', bin);
        const bool configured = !QByteArray(RORUMO_TEST_HOMEPAGE).isEmpty();
        for (const auto &a : got) {
            QCOMPARE(a.ok, ok);
            if (ok && configured)
                QCOMPARE(a.address, QStringLiteral(RORUMO_TEST_HOMEPAGE));
            else if (ok)
                QCOMPARE(QDir::cleanPath(QUrl(a.address).toLocalFile()), answer.mid(5));
            else
                QVERIFY2(a.error.contains(answer), qPrintable(a.error));
        }
        if (ok)
            QCOMPARE(maker.loadedFile(),
                     (where == "private" ? under(RORUMO_TEST_PRIVATE_LIBDIR) : bin) + '/' + name);
        // An interrupted copy (loading one ends the program with SIGBUS) is refused; a library
        // installed after a failure is found at the next ask.
        if (library.isEmpty()) {
            const QString file = bin + '/' + name, real = QStringLiteral(RORUMO_TEST_VLM3RES);
            for (const qint64 size : {QFileInfo(real).size() / 2, qint64(40)}) {
                QVERIFY(QFile::copy(real, file) && QFile::resize(file, size));
                const auto cut = maker.homepageAddress();
                QVERIFY2(!cut.ok && cut.error.contains(QStringLiteral("incomplete")),
                         qPrintable(cut.error));
                QVERIFY(QFile::remove(file));
            }
            QVERIFY(QFile::copy(real, file));
            QVERIFY(maker.homepageAddress().ok);
        }
    }
};

QTEST_GUILESS_MAIN(TestPlatform)
#include "test_platform.moc"
