// The version window and the maker's library behind its homepage link.

#include "about/frm_show_version.h"
#include "app/form1.h"
#include "app/module2.h"
#include "platform/maker_library.h"
#include "support/fakes.h"

#include <QDir>
#include <QFile>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

namespace {

void flushDeletes()
{
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

} // namespace

class TestAbout : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init() { Module2::reset(); }
    void cleanup();

    void modelLineNamesExecutable_data();
    void modelLineNamesExecutable();
    void onlyOkClosesAndEachOpeningRefills();
    void linkReportsFailureAndAsksAgain();
    void makerLibrary_data();
    void makerLibrary();
    void makerLibraryInstalledAfterFailure();

private:
    QString m_workingFolder;
};

void TestAbout::cleanup()
{
    if (!m_workingFolder.isEmpty())
        QDir::setCurrent(m_workingFolder);
    m_workingFolder.clear();
}

void TestAbout::modelLineNamesExecutable_data()
{
    QTest::addColumn<QString>("executable");
    QTest::addColumn<QString>("name");
    QTest::newRow("with extension") << "bus.exe"
                                    << "bus";
    QTest::newRow("without extension") << "rorumo"
                                       << "rorumo";
    QTest::newRow("only the last extension goes") << "ロルモ.v2.exe"
                                                  << "ロルモ.v2";
}

void TestAbout::modelLineNamesExecutable()
{
    QFETCH(QString, executable);
    QFETCH(QString, name);
    FakeServices fakes(QDir::temp().filePath(executable));
    Form1 form(fakes.services);
    QCOMPARE(form.showVersion().Label1[1]->text(), QStringLiteral("型番・製造番号：") + name);
}

void TestAbout::onlyOkClosesAndEachOpeningRefills()
{
    FakeServices fakes(QStringLiteral("/opt/rorumo/bus.exe"));
    Form1 form(fakes.services);

    // Through the panel's routine, modal: Escape leaves it open, OK closes it.
    QPointer<frmShowVersion> first;
    bool stayedOpen = false;
    QTimer::singleShot(0, this, [&] {
        first = &form.showVersion();
        QTest::keyClick(first, Qt::Key_Escape);
        stayedOpen = first->isVisible();
        first->Command1->click();
        if (first && first->isVisible())
            first->done(0); // do not hang when OK fails; the check below reports it
    });
    form.MnuHelpVer_Click();
    QVERIFY(stayedOpen);
    flushDeletes();
    QVERIFY(first.isNull());

    // The next opening is a new window with its line filled in again.
    fakes.services.executablePath = QStringLiteral("/opt/rorumo/kuruma.exe");
    QCOMPARE(form.showVersion().Label1[1]->text(), QStringLiteral("型番・製造番号：kuruma"));
}

void TestAbout::linkReportsFailureAndAsksAgain()
{
    FakeServices fakes(QStringLiteral("/opt/rorumo/rorumo"));
    Form1 form(fakes.services);
    frmShowVersion &dialog = form.showVersion();
    dialog.show();
    const QString description = QStringLiteral("Cannot load library libVLM3Res.so");
    fakes.maker->answer = {false, {}, description};

    QTest::mouseClick(dialog.Label5, Qt::LeftButton);
    QTest::mouseClick(dialog.Label5, Qt::LeftButton);
    QCOMPARE(fakes.maker->calls, 2);
    QCOMPARE(fakes.dialogs->messages.size(), std::size_t(2));
    const FakeDialogs::Message &message = fakes.dialogs->messages.back();
    QCOMPARE(message.title, QStringLiteral("Rakhpurl.dllのエラー"));
    QCOMPARE(message.text,
             description +
                 QStringLiteral("\r\n\r\n 上記内容をラクトHP関係者まで報告してください。"));
    QCOMPARE(message.icon, platform::MessageIcon::Critical);
    QVERIFY(fakes.shell->opened.isEmpty());
    QVERIFY(dialog.isVisible());

    // Each click asks again and opens what the library answers then.
    fakes.maker->answer = {true, QStringLiteral("https://example.org/rakuto"), {}};
    QTest::mouseClick(dialog.Label5, Qt::LeftButton);
    fakes.maker->answer.address = QStringLiteral("file:///usr/share/doc/rorumo/README.md");
    QTest::mouseClick(dialog.Label5, Qt::LeftButton);
    QCOMPARE(fakes.shell->opened, (QStringList{QStringLiteral("https://example.org/rakuto"),
                                               QStringLiteral("file:///usr/share/doc/rorumo/"
                                                              "README.md")}));
    QCOMPARE(fakes.dialogs->messages.size(), std::size_t(2));
    QVERIFY(dialog.isVisible());
}

void TestAbout::makerLibrary_data()
{
    QTest::addColumn<QString>("library"); // copied into the program's folder; empty: none
    QTest::addColumn<bool>("readme");
    QTest::addColumn<QString>("planted"); // copied into the working folder
    QTest::addColumn<bool>("unnamed");    // the library is told no folder at all
    QTest::addColumn<bool>("ok");
    QTest::addColumn<QString>("answer"); // address after "file://<folder>", or error words

    const QString real = QStringLiteral(RORUMO_TEST_VLM3RES);
    const QString noFunction = QStringLiteral(RORUMO_TEST_VLM3RES_NOFUNCTION);
    const QString name = platform::VLM3ResLibrary::fileName();
    QTest::newRow("absent") << "" << false << "" << false << false << name;
    QTest::newRow("without RakutoHpURL")
        << noFunction << false << "" << false << false << QStringLiteral("RakutoHpURL");
    QTest::newRow("working") << real << false << "" << false << true << "";
    QTest::newRow("working, README beside it")
        << real << true << "" << false << true << "/README.md";
    QTest::newRow("only in the working folder") << "" << false << real << false << false << name;
    QTest::newRow("no folder, one in the working folder")
        << "" << false << real << true << false << name;
}

void TestAbout::makerLibrary()
{
    QFETCH(QString, library);
    QFETCH(bool, readme);
    QFETCH(QString, planted);
    QFETCH(bool, unnamed);
    QFETCH(bool, ok);
    QFETCH(QString, answer);

    QTemporaryDir folder;
    QTemporaryDir working;
    QVERIFY(folder.isValid() && working.isValid());
    const QString fileName = platform::VLM3ResLibrary::fileName();
    if (!library.isEmpty())
        QVERIFY(QFile::copy(library, folder.filePath(fileName)));
    if (readme)
        QVERIFY(QFile(folder.filePath(QStringLiteral("README.md"))).open(QIODevice::WriteOnly));
    if (!planted.isEmpty()) {
        QVERIFY(QFile::copy(planted, working.filePath(fileName)));
        m_workingFolder = QDir::currentPath();
        QVERIFY(QDir::setCurrent(working.path()));
    }

    platform::VLM3ResLibrary maker(unnamed ? QString() : folder.path());
    for (int call = 0; call < 2; ++call) {
        const platform::MakerLibrary::Answer got = maker.homepageAddress();
        QCOMPARE(got.ok, ok);
        if (!ok) {
            QVERIFY2(got.error.contains(answer), qPrintable(got.error));
        } else if (QByteArray(RORUMO_TEST_HOMEPAGE).isEmpty()) {
            QCOMPARE(got.address, "file://" + folder.path() + answer);
        } else {
            QCOMPARE(got.address, QStringLiteral(RORUMO_TEST_HOMEPAGE));
        }
    }
}

void TestAbout::makerLibraryInstalledAfterFailure()
{
    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    platform::VLM3ResLibrary maker(folder.path());
    QVERIFY(!maker.homepageAddress().ok);
    QVERIFY(QFile::copy(QStringLiteral(RORUMO_TEST_VLM3RES),
                        folder.filePath(platform::VLM3ResLibrary::fileName())));
    QVERIFY(maker.homepageAddress().ok);
}

QTEST_MAIN(TestAbout)
#include "test_about.moc"
