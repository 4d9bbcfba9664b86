// The version window and the maker's library behind its homepage link.

#include "about/frm_show_version.h"
#include "app/form1.h"
#include "common/module2.h"
#include "panel/frm_set.h"
#include "platform/maker_library.h"
#include "support/fakes.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QUrl>

class TestAbout : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init() { Module2::reset(); }
    void modelLineAndClosing();
    void fixedCaptionsFitTheirControls();
    void linkReportsFailureAndAsksAgain();
    void makerLibrary_data();
    void makerLibrary();
};

void TestAbout::modelLineAndClosing()
{
    const QString model = QStringLiteral("型番・製造番号：");
    FakeServices fakes(QStringLiteral("/opt/rorumo/ロルモ.v2.exe"));
    Form1 form(fakes.services);
    QCOMPARE(form.showVersion().Label1[1]->text(), model + "ロルモ.v2"); // only the last extension

    // Through the panel's routine, modal: Escape leaves it open, Enter on OK closes it.
    QPointer<frmShowVersion> first;
    bool stayedOpen = false;
    QTimer::singleShot(0, this, [&] {
        first = &form.showVersion();
        QTest::keyClick(first, Qt::Key_Escape);
        stayedOpen = first->isVisible();
        QTest::keyClick(first->Command1, Qt::Key_Return);
        if (first && first->isVisible())
            first->done(0); // do not hang when OK fails; the check below reports it
    });
    form.MnuHelpVer_Click();
    QVERIFY(stayedOpen);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QVERIFY(first.isNull());
}

// A caption wider than its fixed-size control is cut off on the screen.
void TestAbout::fixedCaptionsFitTheirControls()
{
    FakeServices fakes(QStringLiteral("/opt/rorumo/rorumo"));
    Form1 form(fakes.services);
    frmShowVersion &about = form.showVersion();
    QList<QWidget *> controls = {about.Label1[0],       about.Label2,         about.Label3[0],
                                 about.Label3[1],       about.Label5,         about.Command1,
                                 form.panel().Command1, form.panel().Command3};
    for (QPushButton *key : form.panel().Command2)
        controls.append(key);
    for (QWidget *control : controls) {
        const auto *label = qobject_cast<QLabel *>(control);
        const auto *button = qobject_cast<QPushButton *>(control);
        const QString text = label ? label->text() : button->text();
        // Buttons keep a few pixels each side for their bevel.
        const int room = label ? label->contentsRect().width() : button->width() - 6;
        QVERIFY2(control->fontMetrics().horizontalAdvance(text) <= room, qPrintable(text));
    }
    // The keypad's C and 設定 in the panel's default face, as its other captions; not the digits'.
    for (const std::size_t key : {10, 11})
        QCOMPARE(form.panel().Command2[key]->font(), form.panel().Command3->font());
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
    QCOMPARE(message.text, description + "\r\n\r\n 上記内容をラクトHP関係者まで報告してください。");
    QCOMPARE(message.icon, platform::MessageIcon::Critical);
    QVERIFY(fakes.shell->opened.isEmpty() && dialog.isVisible());

    // Each click asks again and opens what the library answers then.
    fakes.maker->answer = {true, QStringLiteral("https://example.org/a"), {}};
    QTest::mouseClick(dialog.Label5, Qt::LeftButton);
    fakes.maker->answer.address = QStringLiteral("file:///b");
    QTest::mouseClick(dialog.Label5, Qt::LeftButton);
    QCOMPARE(fakes.shell->opened, QStringList({"https://example.org/a", "file:///b"}));
    QCOMPARE(fakes.dialogs->messages.size(), std::size_t(2));
    QVERIFY(dialog.isVisible());
}

void TestAbout::makerLibrary_data()
{
    QTest::addColumn<QString>("library"); // copied into the program's folder; empty: none
    QTest::addColumn<bool>("readme");
    QTest::addColumn<bool>("planted");   // the real one copied into the working folder
    QTest::addColumn<bool>("noFolder");  // the library is told no folder at all
    QTest::addColumn<QString>("answer"); // "file:" and the file the address names; else error words
    const QString real = QStringLiteral(RORUMO_TEST_VLM3RES);
    const QString name = platform::VLM3ResLibrary::fileName();
    // "@" stands for the program's folder: the message names the very file to look for.
    QTest::newRow("absent") << "" << false << false << false << "@/" + name;
    QTest::newRow("without RakutoHpURL") << QStringLiteral(RORUMO_TEST_VLM3RES_NOFUNCTION) << false
                                         << false << false << "RakutoHpURL";
    // Without a README beside it, a build folder's library names the source tree's.
    QTest::newRow("working") << real << false << false << false
                             << "file:" RORUMO_TEST_SOURCE_README;
    QTest::newRow("working, README beside it")
        << real << true << false << false << "file:@/README.md";
    QTest::newRow("no folder, one in the working folder") << "" << false << true << true << name;
}

void TestAbout::makerLibrary()
{
    QFETCH(QString, library);
    QFETCH(bool, readme);
    QFETCH(bool, planted);
    QFETCH(bool, noFolder);
    QFETCH(QString, answer);

    // Characters that mean something in an address must not cut the folder's name short.
    QTemporaryDir folder(QDir::tempPath() + QStringLiteral("/rorumo #?%-XXXXXX"));
    QTemporaryDir working;
    QVERIFY(folder.isValid() && working.isValid());
    const QString fileName = platform::VLM3ResLibrary::fileName();
    if (!library.isEmpty())
        QVERIFY(QFile::copy(library, folder.filePath(fileName)));
    if (readme)
        QVERIFY(QFile(folder.filePath(QStringLiteral("README.md"))).open(QIODevice::WriteOnly));
    if (planted)
        QVERIFY(QFile::copy(QStringLiteral(RORUMO_TEST_VLM3RES), working.filePath(fileName)));
    const QString before = QDir::currentPath();
    QVERIFY(QDir::setCurrent(working.path()));
    platform::VLM3ResLibrary maker(noFolder ? QString() : folder.path());
    // Asked twice: the library answers the same each time.
    const platform::MakerLibrary::Answer got[] = {maker.homepageAddress(), maker.homepageAddress()};
    QDir::setCurrent(before);

    const bool ok = answer.startsWith(QStringLiteral("file:"));
    answer.replace(u'@', folder.path());
    const bool configured = !QByteArray(RORUMO_TEST_HOMEPAGE).isEmpty();
    for (const auto &a : got) {
        QCOMPARE(a.ok, ok);
        if (ok && configured)
            QCOMPARE(a.address, QStringLiteral(RORUMO_TEST_HOMEPAGE));
        else if (ok)
            QCOMPARE(QUrl(a.address).toLocalFile(), answer.mid(5));
        else
            QVERIFY2(a.error.contains(answer), qPrintable(a.error));
    }
    // An interrupted copy (loading one ends the program with SIGBUS) is refused; a library
    // installed after a failure is found at the next ask.
    if (library.isEmpty() && !noFolder) {
        const QString file = folder.filePath(fileName);
        const QString whole = QStringLiteral(RORUMO_TEST_VLM3RES);
        for (const qint64 size : {QFileInfo(whole).size() / 2, qint64(40)}) {
            QVERIFY(QFile::copy(whole, file) && QFile::resize(file, size));
            const auto cut = maker.homepageAddress();
            QVERIFY2(!cut.ok && cut.error.contains(QStringLiteral("incomplete")),
                     qPrintable(cut.error));
            QVERIFY(QFile::remove(file));
        }
        QVERIFY(QFile::copy(whole, file));
        QVERIFY(maker.homepageAddress().ok);
    }
}

QTEST_MAIN(TestAbout)
#include "test_about.moc"
