#include "app/form1.h"
#include "app/module2.h"
#include "panel/frm_set.h"
#include "platform/controls/file_list.h"
#include "platform/controls/image_control.h"
#include "platform/controls/picture_box.h"
#include "sign/frm_browse_dir.h"
#include "support/fakes.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#ifdef Q_OS_UNIX
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

void makePicture(const QString &path, int width, int height, const char *format = "BMP")
{
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(QColor::fromHsv((width * 37) % 360, 200, 200));
    if (!image.save(path, format))
        qFatal("cannot write %s", qPrintable(path));
}

void makeFile(const QString &path, const QByteArray &bytes = "text")
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
        qFatal("cannot write %s", qPrintable(path));
}

// A sign folder of `count` pictures "s00.bmp", "s01.bmp"...; the picture at position p is
// (kBaseWidth + p) pixels wide, so the sign's width tells which one it shows.
constexpr int kBaseWidth = 10;
QString makeSignFolder(const QString &folder, int count)
{
    QDir().mkpath(folder);
    for (int p = 0; p < count; ++p)
        makePicture(folder + QStringLiteral("/s%1.bmp").arg(p, 2, 10, QChar(u'0')), kBaseWidth + p,
                    8);
    return folder;
}

bool runningAsRoot()
{
#ifdef Q_OS_UNIX
    return ::geteuid() == 0;
#else
    return false;
#endif
}

const QString sep = QDir::separator();

} // namespace

class TestSign : public QObject
{
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<FakeServices> m_fakes;
    std::unique_ptr<Form1> m_form;
    QString m_signs; // ten signs

    Form1 &form() { return *m_form; }
    QString path(const QString &name) const { return m_dir->filePath(name); }

    // The position of the picture the sign shows, -1 for none.
    int shown() const
    {
        const QImage &image = m_form->ImgDesiMaku->picture().image;
        return image.isNull() ? -1 : image.width() - kBaseWidth;
    }

    void pointListAt(const QString &folder)
    {
        Module2::HkPicDir = folder;
        QCOMPARE(form().picDir().failure, FileList::Failure::None);
    }

    // Presses keypad buttons: digits, 'C' and 'S' for 設定.
    void press(const QString &keys)
    {
        for (QChar key : keys) {
            const int index = key == u'C' ? 10 : key == u'S' ? 11 : key.digitValue();
            form().panel().Command2_Click(index);
        }
    }
    QString display() { return form().panel().Label1->text(); }

private Q_SLOTS:
    void init()
    {
        Module2::reset();
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(m_dir->isValid());
        m_fakes = std::make_unique<FakeServices>(path("rorumo"));
        m_form = std::make_unique<Form1>(m_fakes->services);
        m_signs = makeSignFolder(path("signs"), 10);
    }
    void cleanup()
    {
        m_form.reset();
        m_fakes.reset();
        m_dir.reset();
    }

    // --- keypad -------------------------------------------------------------------------------

    void keypadDisplay_data()
    {
        QTest::addColumn<QString>("keys");
        QTest::addColumn<QString>("expected");
        QTest::newRow("digits append") << "007"
                                       << "007";
        QTest::newRow("six digits at most") << "1234567"
                                            << "123456";
        QTest::newRow("C clears") << "12C"
                                  << "";
        QTest::newRow("C then digits") << "12C3"
                                       << "3";
        QTest::newRow("設定 keeps the display") << "0S7S"
                                                << "07";
    }
    void keypadDisplay()
    {
        QFETCH(QString, keys);
        QFETCH(QString, expected);
        pointListAt(m_signs);
        press(keys);
        QCOMPARE(display(), expected);
    }

    void keypadSelects_data()
    {
        QTest::addColumn<QString>("code");
        QTest::addColumn<int>("expected"); // position shown afterwards; 2 = unchanged
        QTest::newRow("empty display is position 0") << "" << 0;
        QTest::newRow("007 is the eighth file") << "007" << 7;
        QTest::newRow("last") << "9" << 9;
        QTest::newRow("leading zeros, six digits") << "000004" << 4;
        QTest::newRow("just past the end") << "10" << 2;
        QTest::newRow("32767") << "32767" << 2;
        QTest::newRow("32768") << "32768" << 2;
        QTest::newRow("999999") << "999999" << 2;
    }
    void keypadSelects()
    {
        QFETCH(QString, code);
        QFETCH(int, expected);
        pointListAt(m_signs);
        press(QStringLiteral("2SC"));
        QCOMPARE(shown(), 2);
        press(code + u'S');
        QCOMPARE(shown(), expected);
        QCOMPARE(display(), code);
        QCOMPARE(Module2::HkPicIndex, 0); // the keypad never moves the keyboard position
        QVERIFY(m_fakes->dialogs->messages.empty());
    }

    void keypadWithoutFolder()
    {
        // No folder yet: the sign folder becomes the bare separator and nothing shows.
        press(QStringLiteral("S"));
        QCOMPARE(Module2::HkPicDir, sep);
        QCOMPARE(shown(), -1);
        QVERIFY(m_fakes->dialogs->messages.empty());
    }

    void separator_data()
    {
        QTest::addColumn<QString>("folder");
        QTest::addColumn<QString>("expected");
        QTest::newRow("empty") << "" << sep;
        QTest::newRow("without") << "/x/signs"
                                 << "/x/signs" + sep;
        QTest::newRow("with") << "/x/signs" + sep << "/x/signs" + sep;
    }
    void separator()
    {
        QFETCH(QString, folder);
        QFETCH(QString, expected);
        // By the keypad's 設定 and by any key on the sign box, the arrow keys included.
        for (int way = 0; way < 3; ++way) {
            Module2::HkPicDir = folder;
            if (way == 0)
                press(QStringLiteral("S"));
            else
                form().Picture1_KeyDown(way == 1 ? 'A' : DestinationSign::kKeyDown);
            QCOMPARE(Module2::HkPicDir, expected);
        }
    }

    // --- arrow keys ---------------------------------------------------------------------------

    void arrowKeys()
    {
        pointListAt(m_signs);
        press(QStringLiteral("5S"));
        QCOMPARE(shown(), 5);
        // The keyboard goes on from its own position, not from the keypad's.
        form().Picture1_KeyDown(DestinationSign::kKeyDown);
        QCOMPARE(Module2::HkPicIndex, 1);
        QCOMPARE(shown(), 1);
        form().Picture1_KeyDown(DestinationSign::kKeyUp);
        QCOMPARE(Module2::HkPicIndex, 0);
        QCOMPARE(shown(), 0);

        // Up at the first position does nothing.
        press(QStringLiteral("C3S"));
        form().Picture1_KeyDown(DestinationSign::kKeyUp);
        QCOMPARE(Module2::HkPicIndex, 0);
        QCOMPARE(shown(), 3);

        // Down to the last; Down there does nothing.
        for (int i = 0; i < 9; ++i)
            form().Picture1_KeyDown(DestinationSign::kKeyDown);
        QCOMPARE(Module2::HkPicIndex, 9);
        QCOMPARE(shown(), 9);
        press(QStringLiteral("C4S"));
        form().Picture1_KeyDown(DestinationSign::kKeyDown);
        QCOMPARE(Module2::HkPicIndex, 9);
        QCOMPARE(shown(), 4);

        // Other keys (Left, Right, letters) choose nothing.
        for (int key : {37, 39, int('A'), 13}) {
            form().Picture1_KeyDown(key);
            QCOMPARE(Module2::HkPicIndex, 9);
            QCOMPARE(shown(), 4);
        }
        QVERIFY(m_fakes->dialogs->messages.empty());
    }

    void failedLoadStillMovesTheIndex()
    {
        const QString folder = makeSignFolder(path("broken"), 3);
        makeFile(folder + "/s01.bmp"); // no picture any more
        pointListAt(folder);
        form().Picture1_KeyDown(DestinationSign::kKeyDown);
        QCOMPARE(Module2::HkPicIndex, 1);
        QCOMPARE(shown(), -1);
        press(QStringLiteral("S"));
        QCOMPARE(shown(), 0);
        form().Picture1_KeyDown(DestinationSign::kKeyDown);
        QCOMPARE(Module2::HkPicIndex, 2);
        QCOMPARE(shown(), 2);
        form().Picture1_KeyDown(DestinationSign::kKeyUp);
        QCOMPARE(Module2::HkPicIndex, 1);
        QCOMPARE(shown(), 2);
    }

    void modifiedArrowsActAsArrows_data()
    {
        QTest::addColumn<Qt::KeyboardModifiers>("modifiers");
        QTest::newRow("shift") << Qt::KeyboardModifiers(Qt::ShiftModifier);
        QTest::newRow("ctrl") << Qt::KeyboardModifiers(Qt::ControlModifier);
        QTest::newRow("alt") << Qt::KeyboardModifiers(Qt::AltModifier);
    }
    void modifiedArrowsActAsArrows()
    {
        QFETCH(Qt::KeyboardModifiers, modifiers);
        pointListAt(m_signs);
        QTest::keyClick(form().Picture1, Qt::Key_Down, modifiers);
        QCOMPARE(Module2::HkPicIndex, 1);
        QCOMPARE(shown(), 1);
        QTest::keyClick(form().Picture1, Qt::Key_Up, modifiers);
        QCOMPARE(Module2::HkPicIndex, 0);
        QCOMPARE(shown(), 0);
    }

    // --- the sign list ------------------------------------------------------------------------

    void listFiltersAndSorts()
    {
        const QString folder = path("mixed");
        QDir().mkpath(folder);
        for (const char *name :
             {"b.bmp", "B.bmp", "a.bmp", "A.BMP", "c.Jpeg", "d.GIF", "e.wmf", "f.emf", "g.jpg",
              "a0.bmp", "h.png", "i.txt", "j.bmp.txt", ".hidden.bmp", "jpg", "k.bmpx"})
            makeFile(folder + '/' + QLatin1String(name));
        QDir(folder).mkdir("folder.bmp");
#ifdef Q_OS_UNIX
        QCOMPARE(::mkfifo(QFile::encodeName(folder + "/fifo.bmp").constData(), 0600), 0);
        QVERIFY(QFile::link(folder + "/a.bmp", folder + "/link.bmp"));
        QVERIFY(QFile::link(folder + "/gone", folder + "/dangling.bmp"));
        QVERIFY(QFile::link(folder + "/folder.bmp", folder + "/dirlink.bmp"));
#endif
        FileList list(QStringLiteral("*.bmp;*.wmf;*.emf;*.gif;*.jpg;*.jpeg"));
        QCOMPARE(list.setPath(folder).failure, FileList::Failure::None);
        // Case does not matter, except between names that differ only by it: upper case first.
        QStringList expected = {"A.BMP",  "a.bmp", "a0.bmp", "B.bmp", "b.bmp",
                                "c.Jpeg", "d.GIF", "e.wmf",  "f.emf", "g.jpg"};
#ifdef Q_OS_UNIX
        expected << "link.bmp";
#endif
        QCOMPARE(list.names(), expected);
        QCOMPARE(list.listCount(), expected.size());
        QCOMPARE(list.list(0), QStringLiteral("A.BMP"));
        QCOMPARE(list.list(-1), QString());
        QCOMPARE(list.list(list.listCount()), QString());

        // Read only when the folder is set.
        makeFile(folder + "/0.bmp");
        QCOMPARE(list.listCount(), expected.size());
        list.setPath(folder);
        QCOMPARE(list.list(0), QStringLiteral("0.bmp"));
    }

    void listFailuresKeepTheOldFolder_data()
    {
        QTest::addColumn<QString>("folder");
        QTest::addColumn<int>("failure");
        QTest::newRow("missing") << "missing" << int(FileList::Failure::PathNotFound);
        QTest::newRow("empty path") << "" << int(FileList::Failure::PathNotFound);
        QTest::newRow("a file") << "signs/s00.bmp" << int(FileList::Failure::PathNotFound);
        QTest::newRow("unreadable") << "locked" << int(FileList::Failure::Other);
    }
    void listFailuresKeepTheOldFolder()
    {
        QFETCH(QString, folder);
        QFETCH(int, failure);
        if (failure == int(FileList::Failure::Other)) {
            if (runningAsRoot())
                QSKIP("permissions do not bite for root");
            QVERIFY(QDir().mkpath(path(folder)));
            QFile::setPermissions(path(folder), {});
        }
        FileList list(QStringLiteral("*.bmp"));
        QCOMPARE(list.setPath(m_signs).failure, FileList::Failure::None);
        const FileList::Result result = list.setPath(folder.isEmpty() ? folder : path(folder));
        QFile::setPermissions(path(folder), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        QCOMPARE(int(result.failure), failure);
        QVERIFY(!result.description.isEmpty());
        QCOMPARE(list.path(), m_signs);
        QCOMPARE(list.listCount(), 10);
    }

    // --- the folder chooser -------------------------------------------------------------------

    void okPointsTheListAtTheFolder()
    {
        pointListAt(m_signs);
        press(QStringLiteral("3S"));
        const QString other = makeSignFolder(path("other"), 2);
        QPointer<frmBrowseDir> chooser = &form().browseDir();
        chooser->Text1->setText(other);
        chooser->Command2_Click(0);
        QCOMPARE(Module2::HkPicDir, other);
        QCOMPARE(form().File1.path(), other);
        QCOMPARE(form().File1.listCount(), 2);
        QCOMPARE(shown(), 3); // the sign keeps its picture until the next choice
        QCOMPARE(display(), QStringLiteral("3"));
        QVERIFY(m_fakes->dialogs->messages.empty());
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(chooser.isNull());
    }

    void okWithMissingFolderKeepsTheChooserOpen_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::newRow("missing") << "no such folder";
        QTest::newRow("empty") << QString();
    }
    void okWithMissingFolderKeepsTheChooserOpen()
    {
        QFETCH(QString, typed);
        if (!typed.isEmpty())
            typed = path(typed);
        pointListAt(m_signs);
        QPointer<frmBrowseDir> chooser = &form().browseDir();
        chooser->Text1->setText(typed);
        chooser->Command2_Click(0);
        QCOMPARE(m_fakes->dialogs->messages.size(), std::size_t(1));
        const FakeDialogs::Message &message = m_fakes->dialogs->messages.front();
        QCOMPARE(message.text,
                 QStringLiteral("指定したパスが見つかりません。再度指定しなおしてください。"));
        QCOMPARE(message.title, QStringLiteral("ロルモ"));
        QCOMPARE(message.icon, platform::MessageIcon::None);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(!chooser.isNull());
        QCOMPARE(chooser->Text1->text(), typed);
        QCOMPARE(Module2::HkPicDir, typed);
        QCOMPARE(form().File1.path(), m_signs);
        QCOMPARE(form().File1.listCount(), 10);

        // Corrected, OK again closes it.
        chooser->Text1->setText(m_signs);
        chooser->Command2_Click(0);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(chooser.isNull());
        QCOMPARE(Module2::HkPicDir, m_signs);
    }

    void okWithUnreadableFolderReportsAndCloses()
    {
        if (runningAsRoot())
            QSKIP("permissions do not bite for root");
        pointListAt(m_signs);
        const QString locked = path("locked");
        QVERIFY(QDir().mkpath(locked));
        QFile::setPermissions(locked, {});
        QPointer<frmBrowseDir> chooser = &form().browseDir();
        chooser->Text1->setText(locked);
        chooser->Command2_Click(0);
        QFile::setPermissions(locked, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        QCOMPARE(m_fakes->dialogs->messages.size(), std::size_t(1));
        QVERIFY(!m_fakes->dialogs->messages.front().text.isEmpty());
        QCOMPARE(m_fakes->dialogs->messages.front().title, QStringLiteral("ロルモ"));
        QCOMPARE(Module2::HkPicDir, locked);
        QCOMPARE(form().File1.path(), m_signs);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(chooser.isNull());
    }

    void cancelChangesNothing()
    {
        pointListAt(m_signs);
        QPointer<frmBrowseDir> chooser = &form().browseDir();
        m_fakes->dialogs->folderAnswer = makeSignFolder(path("other"), 1);
        chooser->Command1_Click();
        chooser->Command2_Click(1);
        QCOMPARE(Module2::HkPicDir, m_signs);
        QCOMPARE(form().File1.path(), m_signs);
        QCOMPARE(form().File1.listCount(), 10);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(chooser.isNull());
    }

    void browse_data()
    {
        QTest::addColumn<QString>("answer");
        QTest::addColumn<QString>("expected");
        QTest::newRow("chosen") << "/Signs/Set A" << QDir::toNativeSeparators("/Signs/Set A");
        QTest::newRow("cancelled") << ""
                                   << "/typed";
    }
    void browse()
    {
        QFETCH(QString, answer);
        QFETCH(QString, expected);
#ifdef Q_OS_WIN
        expected = expected.toLower();
#endif
        Module2::HkPicDir = QStringLiteral("/kept");
        frmBrowseDir &chooser = form().browseDir();
        chooser.Text1->setText(QStringLiteral("/typed"));
        m_fakes->dialogs->folderAnswer = answer;
        chooser.Command1_Click();
        QCOMPARE(m_fakes->dialogs->folderStarts, QStringList{"/typed"});
        QCOMPARE(chooser.Text1->text(), expected);
        QCOMPARE(Module2::HkPicDir, QStringLiteral("/kept"));
    }

    void openingShowsTheCurrentFolder()
    {
        Module2::HkPicDir = m_signs;
        // An earlier opening browsed elsewhere and was cancelled.
        m_fakes->dialogs->folderAnswer = path("elsewhere");
        form().browseDir().Command1_Click();
        form().browseDir().Command2_Click(1);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);

        QString seen;
        bool modal = false;
        QTimer::singleShot(0, this, [&] {
            frmBrowseDir &chooser = form().browseDir();
            seen = chooser.Text1->text();
            modal = chooser.isModal() && chooser.isVisible();
            chooser.Command2_Click(1);
        });
        form().MnuEditHkPic_Click();
        QCOMPARE(seen, m_signs);
        QVERIFY(modal);
        QCOMPARE(Module2::HkPicDir, m_signs);
    }
};

QTEST_MAIN(TestSign)
#include "test_sign.moc"
