// Where an installed program finds the maker's library and keeps its settings.

#include "app/form1.h"
#include "app/module2.h"
#include "platform/install_layout.h"
#include "platform/maker_library.h"
#include "support/fakes.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>

namespace {

// A copy of the built library (a copy, not a link: each one loads as a library of its own).
bool placeLibrary(const QString &folder)
{
    return QDir().mkpath(folder) &&
           QFile::copy(QStringLiteral(RORUMO_MAKER_LIBRARY),
                       QDir(folder).filePath(platform::VLM3ResLibrary::fileName()));
}

QString under(const QTemporaryDir &root, const char *installFolder)
{
    return QDir::cleanPath(root.path() + QLatin1Char('/') + QLatin1String(installFolder));
}

} // namespace

class TestInstallLayout : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void privateFolderFollowsInstallFolders();
    void neverTheWorkingFolder();
    void loadsMakerLibrary_data();
    void loadsMakerLibrary();
    void installedLibraryPointsAtInstalledReadme();
    void recognisesInstalledProgram_data();
    void recognisesInstalledProgram();
    void savesSettings_data();
    void savesSettings();
};

void TestInstallLayout::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
}

void TestInstallLayout::privateFolderFollowsInstallFolders()
{
    // The relative path baked into the program leads from the install's bindir to its libdir.
    QCOMPARE(platform::privateLibraryFolder(QStringLiteral(RORUMO_TEST_BINDIR)),
             QStringLiteral(RORUMO_TEST_PRIVATE_LIBDIR));
    QCOMPARE(platform::privateLibraryFolder(QStringLiteral("/opt/x" RORUMO_TEST_BINDIR)),
             QStringLiteral("/opt/x" RORUMO_TEST_PRIVATE_LIBDIR));
}

void TestInstallLayout::neverTheWorkingFolder()
{
    QTemporaryDir working;
    QVERIFY(working.isValid());
    const QString before = QDir::currentPath();
    QVERIFY(QDir::setCurrent(working.path()));
    const QStringList folders = platform::makerLibraryFolders(QStringLiteral("/opt/x/bin"));
    QDir::setCurrent(before);
    QCOMPARE(folders.value(0), QStringLiteral("/opt/x/bin"));
    QCOMPARE(folders.value(1), platform::privateLibraryFolder(QStringLiteral("/opt/x/bin")));
    QVERIFY(!folders.contains(QDir::cleanPath(working.path())));
}

void TestInstallLayout::loadsMakerLibrary_data()
{
    QTest::addColumn<bool>("besideExecutable");
    QTest::addColumn<bool>("inPrivateFolder");
    QTest::addColumn<bool>("inWorkingFolder");
    QTest::addColumn<QString>("expected"); // which copy answers; empty: none does

    QTest::newRow("build folder") << true << false << false << QStringLiteral("beside");
    QTest::newRow("installed") << false << true << false << QStringLiteral("private");
    QTest::newRow("both: beside first") << true << true << false << QStringLiteral("beside");
    QTest::newRow("only in the working folder") << false << false << true << QString();
}

void TestInstallLayout::loadsMakerLibrary()
{
    QFETCH(bool, besideExecutable);
    QFETCH(bool, inPrivateFolder);
    QFETCH(bool, inWorkingFolder);
    QFETCH(QString, expected);

    QTemporaryDir root;
    QVERIFY(root.isValid());
    const QString bin = under(root, RORUMO_TEST_BINDIR);
    const QString privateFolder = under(root, RORUMO_TEST_PRIVATE_LIBDIR);
    const QString working = root.filePath(QStringLiteral("working"));
    QVERIFY(QDir().mkpath(bin));
    if (besideExecutable)
        QVERIFY(placeLibrary(bin));
    if (inPrivateFolder)
        QVERIFY(placeLibrary(privateFolder));
    if (inWorkingFolder)
        QVERIFY(placeLibrary(working));

    const QString before = QDir::currentPath();
    QVERIFY(QDir::setCurrent(inWorkingFolder ? working : root.path()));
    platform::VLM3ResLibrary library(bin);
    const auto answer = library.homepageAddress();
    QDir::setCurrent(before);

    const QString name = platform::VLM3ResLibrary::fileName();
    if (expected.isEmpty()) {
        QVERIFY(!answer.ok);
        QVERIFY2(answer.error.contains(bin), qPrintable(answer.error));
        return;
    }
    QVERIFY2(answer.ok, qPrintable(answer.error));
    QVERIFY(!answer.address.isEmpty());
    QCOMPARE(library.loadedFile(),
             QDir(expected == QLatin1String("beside") ? bin : privateFolder).filePath(name));
}

void TestInstallLayout::installedLibraryPointsAtInstalledReadme()
{
    if (!QStringLiteral(RORUMO_TEST_HOMEPAGE).isEmpty())
        QSKIP("the library was built with a homepage address of its own");
    QTemporaryDir root;
    QVERIFY(root.isValid());
    const QString docs = under(root, RORUMO_TEST_DOCDIR);
    QVERIFY(QDir().mkpath(docs));
    QFile readme(QDir(docs).filePath(QStringLiteral("README.md")));
    QVERIFY(readme.open(QIODevice::WriteOnly));
    readme.close();
    QVERIFY(QDir().mkpath(under(root, RORUMO_TEST_BINDIR)));
    QVERIFY(placeLibrary(under(root, RORUMO_TEST_PRIVATE_LIBDIR)));

    platform::VLM3ResLibrary library(under(root, RORUMO_TEST_BINDIR));
    const auto answer = library.homepageAddress();
    QVERIFY2(answer.ok, qPrintable(answer.error));
    const QUrl address(answer.address);
    QVERIFY2(address.isLocalFile(), qPrintable(answer.address));
    QCOMPARE(QDir::cleanPath(address.toLocalFile()), readme.fileName());
}

void TestInstallLayout::recognisesInstalledProgram_data()
{
    QTest::addColumn<bool>("besideExecutable");
    QTest::addColumn<bool>("inPrivateFolder");
    QTest::addColumn<bool>("installed");

    QTest::newRow("installed") << false << true << true;
    QTest::newRow("build or copied folder") << true << false << false;
    QTest::newRow("copied over an installed one") << true << true << false;
    QTest::newRow("library missing") << false << false << false;
}

void TestInstallLayout::recognisesInstalledProgram()
{
    QFETCH(bool, besideExecutable);
    QFETCH(bool, inPrivateFolder);
    QFETCH(bool, installed);

    QTemporaryDir root;
    QVERIFY(root.isValid());
    const QString bin = under(root, RORUMO_TEST_BINDIR);
    QVERIFY(QDir().mkpath(bin));
    if (besideExecutable)
        QVERIFY(placeLibrary(bin));
    if (inPrivateFolder)
        QVERIFY(placeLibrary(under(root, RORUMO_TEST_PRIVATE_LIBDIR)));
    QCOMPARE(platform::isInstalledProgram(bin), installed);
}

void TestInstallLayout::savesSettings_data()
{
    QTest::addColumn<bool>("installed");
    QTest::newRow("installed: configuration folder") << true;
    QTest::newRow("copied folder: beside the executable") << false;
}

void TestInstallLayout::savesSettings()
{
    QFETCH(bool, installed);

    QTemporaryDir root;
    QVERIFY(root.isValid());
    const QString bin = under(root, RORUMO_TEST_BINDIR);
    QVERIFY(QDir().mkpath(bin));
    QVERIFY(placeLibrary(installed ? under(root, RORUMO_TEST_PRIVATE_LIBDIR) : bin));
    const QString beside = QDir(bin).filePath(QStringLiteral("rorumo.ini"));
    const QString configFolder =
        QStandardPaths::writableLocation(QStandardPaths::AppConfigLocation);
    const QString inConfig = QDir(configFolder).filePath(QStringLiteral("rorumo.ini"));
    QDir(configFolder).removeRecursively();

    Module2::reset();
    {
        FakeServices fakes(QDir(bin).filePath(QStringLiteral("rorumo")));
        Form1 form(fakes.services);
        form.LoadIni();
        form.Form_Unload();
        QVERIFY(fakes.dialogs->messages.empty());
    }
    // The executable's folder is writable here, as /usr/bin is for root.
    const bool configWritten = QFileInfo(inConfig).isFile();
    const bool besideWritten = QFileInfo(beside).isFile();
    QDir(configFolder).removeRecursively();
    QCOMPARE(configWritten, installed);
    QCOMPARE(besideWritten, !installed);
}

QTEST_MAIN(TestInstallLayout)
#include "test_install_layout.moc"
