// Where an installed program finds the maker's library; whether it counts as installed.

#include "platform/install_layout.h"
#include "platform/maker_library.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>

class TestInstallLayout : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void privateFolderFollowsInstallFolders();
    void findsLibrary_data();
    void findsLibrary();
};

void TestInstallLayout::privateFolderFollowsInstallFolders()
{
    // The relative path baked into the program leads from the install's bindir to its libdir.
    QCOMPARE(platform::privateLibraryFolder(QStringLiteral(RORUMO_TEST_BINDIR)),
             QStringLiteral(RORUMO_TEST_PRIVATE_LIBDIR));
    QCOMPARE(platform::privateLibraryFolder(QStringLiteral("/opt/x" RORUMO_TEST_BINDIR)),
             QStringLiteral("/opt/x" RORUMO_TEST_PRIVATE_LIBDIR));
}

void TestInstallLayout::findsLibrary_data()
{
    QTest::addColumn<bool>("besideExecutable"); // a copy of the library in the bindir
    QTest::addColumn<bool>("inPrivateFolder");  // a copy in the private libdir
    QTest::addColumn<QString>("loaded");        // which copy answers; empty: none does
    QTest::addColumn<bool>("installed");        // so the settings go to the configuration folder
    QTest::newRow("installed") << false << true << "private" << true;
    QTest::newRow("build or copied folder") << true << false << "beside" << false;
    QTest::newRow("copied over an installed one") << true << true << "beside" << false;
    QTest::newRow("library missing") << false << false << "" << false;
}

void TestInstallLayout::findsLibrary()
{
    QFETCH(bool, besideExecutable);
    QFETCH(bool, inPrivateFolder);
    QFETCH(QString, loaded);
    QFETCH(bool, installed);

    QTemporaryDir root;
    QVERIFY(root.isValid());
    const auto under = [&root](const char *folder) {
        return QDir::cleanPath(root.path() + '/' + QLatin1String(folder));
    };
    const QString bin = under(RORUMO_TEST_BINDIR);
    const QString privateFolder = under(RORUMO_TEST_PRIVATE_LIBDIR);
    const QString name = platform::VLM3ResLibrary::fileName();
    // Copies, not links: each one loads as a library of its own.
    for (const auto &[wanted, folder] :
         {std::pair{besideExecutable, bin}, {inPrivateFolder, privateFolder}}) {
        QVERIFY(QDir().mkpath(folder));
        if (wanted)
            QVERIFY(QFile::copy(QStringLiteral(RORUMO_MAKER_LIBRARY), QDir(folder).filePath(name)));
    }
    const QString readme = QDir(under(RORUMO_TEST_DOCDIR)).filePath(QStringLiteral("README.md"));
    QVERIFY(QDir().mkpath(QFileInfo(readme).path()) && QFile(readme).open(QIODevice::WriteOnly));
    QCOMPARE(platform::isInstalledProgram(bin), installed);

    platform::VLM3ResLibrary library(bin);
    const auto answer = library.homepageAddress();
    if (loaded.isEmpty()) {
        QVERIFY(!answer.ok);
        QVERIFY2(answer.error.contains(bin), qPrintable(answer.error));
    } else {
        QVERIFY2(answer.ok, qPrintable(answer.error));
        QCOMPARE(library.loadedFile(),
                 QDir(loaded == "beside" ? bin : privateFolder).filePath(name));
        // Installed, the library points at the installed README.
        if (installed && QByteArray(RORUMO_TEST_HOMEPAGE).isEmpty())
            QCOMPARE(QDir::cleanPath(QUrl(answer.address).toLocalFile()), readme);
    }
}

QTEST_MAIN(TestInstallLayout)
#include "test_install_layout.moc"
