#include "app/form1.h"
#include "common/module2.h"
#include "controls/file_list.h"
#include "controls/image_control.h"
#include "controls/picture_box.h"
#include "panel/frm_set.h"
#include "platform/file_names.h"
#include "sign/frm_browse_dir.h"
#include "support/fakes.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QTest>
#include <QTimer>

#ifdef Q_OS_UNIX
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

// A folder of `count` pictures s00.bmp, s01.bmp...; the one at position p is (kBaseWidth + p)
// pixels wide, so the sign's width tells which one it shows.
constexpr int kBaseWidth = 10;
QString makeSignFolder(const QString &folder, int count)
{
    for (int p = 0; p < count; ++p)
        if (!putPicture(folder + QStringLiteral("/s%1.bmp").arg(p, 2, 10, QChar(u'0')),
                        {kBaseWidth + p, 8}))
            qFatal("cannot write into %s", qPrintable(folder));
    return folder;
}

const QString sep = QDir::separator();
using State = std::pair<int, int>; // the keyboard's position, the position shown

} // namespace

class TestSign : public QObject
{
    Q_OBJECT

    std::unique_ptr<FakeBus> m_bus;
    QString m_signs; // ten signs

    Form1 &form() { return m_bus->form; }
    QString path(const QString &name) const { return m_bus->path(name); }
    const auto &messages() const { return m_bus->fakes.dialogs->messages; }
    QString display() { return form().panel().Label1->text(); }
    // The position of the picture the sign shows, -1 for none.
    int shown() const
    {
        m_bus->form.waitForPictures();
        const QImage &image = m_bus->form.ImgDesiMaku->picture().image;
        return image.isNull() ? -1 : image.width() - kBaseWidth;
    }
    State state() const { return {Module2::HkPicIndex, shown()}; }

    void pointListAt(const QString &folder)
    {
        Module2::HkPicDir = folder;
        QCOMPARE(form().picDir().failure, FileList::Failure::None);
    }
    // Keypad buttons: digits, C, and S for 設定. Keys pressed on the sign box: v Down, ^ Up,
    // $ Scroll Lock, others as they are.
    void play(const QString &script)
    {
        const Qt::Key keys[] = {Qt::Key_Down, Qt::Key_Up, Qt::Key_ScrollLock};
        for (QChar c : script) {
            const qsizetype key = QStringLiteral("v^$").indexOf(c);
            if (c.isDigit() || c == u'C' || c == u'S')
                form().panel().Command2_Click(c == u'C' ? 10 : c == u'S' ? 11 : c.digitValue());
            else
                QTest::keyClick(form().Picture1, key >= 0 ? keys[key] : Qt::Key(c.unicode()));
            form().waitForPictures(); // as a user who watches each sign come up
        }
    }
    // An unreadable folder; false where permissions do not bite (root). cleanup() unlocks it.
    bool makeLocked()
    {
#ifdef Q_OS_UNIX
        return ::geteuid() != 0 && QDir().mkpath(path("locked")) &&
               QFile::setPermissions(path("locked"), {});
#else
        return false;
#endif
    }
    static bool closed(const QPointer<frmBrowseDir> &chooser)
    {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        return chooser.isNull();
    }

private Q_SLOTS:
    void init()
    {
        m_bus = std::make_unique<FakeBus>();
        m_signs = makeSignFolder(path("signs"), 10);
    }
    void cleanup()
    {
        QFile::setPermissions(path("locked"),
                              QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        m_bus.reset();
    }

    // The keypad sets the position shown (never the keyboard's); 設定 follows the digits. The
    // arrow keys step the keyboard's position and show that picture.
    void keys_data()
    {
        QTest::addColumn<QString>("keys");
        QTest::addColumn<bool>("broken"); // s01.bmp is no picture
        QTest::addColumn<State>("expected");
        QTest::addColumn<QString>("display");
        const auto row = [](const char *name, const char *keys, State expected,
                            const char *display = "", bool broken = false) {
            QTest::newRow(name) << keys << broken << expected << display;
        };
        row("empty display is position 0", "2SCS", {0, 0});
        row("007 is the eighth file", "2SC007S", {0, 7}, "007");
        row("just past the end", "2SC10S", {0, 2}, "10");
        row("six digits at most", "2SC1234567S", {0, 2}, "123456");
        row("C then digits", "2SC12C3S", {0, 3}, "3");
        row("設定 keeps the display", "2SC0S7S", {0, 7}, "07");
        row("up at the first", "3S^", {0, 3}, "3");
        row("down at the last", "vvvvvvvvv4Sv", {9, 4}, "4");
        // Keys whose Qt codes, cut to 16 bits, are those of Up and Down.
        row("look-alike keys", "v4S&($", {1, 4}, "4");
        row("failed load moves on", "v", {1, -1}, "", true);
        row("failed load keeps the sign", "vSv^", {1, 2}, "", true);
    }
    void keys()
    {
        QFETCH(QString, keys);
        QFETCH(bool, broken);
        if (broken)
            QVERIFY(putFile(m_signs + "/s01.bmp", {}));
        pointListAt(m_signs);
        play(keys);
        QTEST(state(), "expected");
        QTEST(display(), "display");
        QVERIFY(messages().empty());
    }

    // 設定 and any key on the sign box end the folder with a separator; no folder at all
    // becomes the bare separator and nothing shows.
    void separator()
    {
        const QString x = QStringLiteral("/x/signs");
        for (const auto &[folder, expected] :
             {std::pair{QString(), sep}, {x, x + sep}, {x + sep, x + sep}})
            for (const char *way : {"S", "A", "v"}) {
                Module2::HkPicDir = folder;
                play(QLatin1String(way));
                QCOMPARE(Module2::HkPicDir, expected);
                QCOMPARE(shown(), -1);
            }
        QVERIFY(messages().empty());
    }

    void listFiltersAndSorts()
    {
        const QString folder = path("mixed");
        for (const char *name :
             {"b.bmp", "B.bmp", "a.bmp", "A.BMP", "c.Jpeg", "d.GIF", "e.wmf", "f.emf", "g.jpg",
              "a0.bmp", "h.png", "i.txt", "j.bmp.txt", ".hidden.bmp", "jpg", "k.bmpx"})
            QVERIFY(putFile(folder + '/' + QLatin1String(name), {}));
        QVERIFY(QDir(folder).mkdir("folder.bmp"));
#ifdef Q_OS_UNIX
        QCOMPARE(::mkfifo(QFile::encodeName(folder + "/fifo.bmp").constData(), 0600), 0);
        QVERIFY(QFile::link(folder + "/a.bmp", folder + "/link.bmp"));
        QVERIFY(QFile::link(folder + "/gone", folder + "/dangling.bmp"));
        QVERIFY(QFile::link(folder + "/folder.bmp", folder + "/dirlink.bmp"));
#endif
        pointListAt(folder);
        FileList &list = form().File1;
        // Case does not matter, except between names that differ only by it: upper case first.
        QStringList expected = {"A.BMP",  "a.bmp", "a0.bmp", "B.bmp", "b.bmp",
                                "c.Jpeg", "d.GIF", "e.wmf",  "f.emf", "g.jpg"};
#ifdef Q_OS_UNIX
        expected << "link.bmp";
#endif
        QCOMPARE(list.names(), expected);
        QCOMPARE(list.list(-1), QString());
        QCOMPARE(list.list(list.listCount()), QString());
        // Read only when the folder is set.
        QVERIFY(putFile(folder + "/0.bmp", {}));
        QCOMPARE(list.listCount(), expected.size());
        list.setPath(folder);
        QCOMPARE(list.list(0), QStringLiteral("0.bmp"));
    }

#ifdef Q_OS_UNIX
    // Qt's folder dialog gives a Latin-1 name with U+FFFD for the byte; it gets its byte back.
    // Opened at such a folder, the dialog (which cannot enter it) shows the folder above it.
    void browsedNameKeepsItsBytes()
    {
        const QByteArray folder = QFile::encodeName(path("caf")) + "\xe9";
        QCOMPARE(::mkdir(folder.constData(), S_IRWXU), 0);
        const QString browsed = QFile::decodeName(folder);
        QCOMPARE(platform::encodeFileName(platform::fileSystemPath(browsed)), folder);

        QString opened;
        QTimer::singleShot(100, [&] {
            if (auto *dialog = qobject_cast<QFileDialog *>(QApplication::activeModalWidget())) {
                opened = dialog->directory().absolutePath();
                dialog->reject();
            }
        });
        platform::Services::real(QString()).dialogs->chooseFolder(nullptr, {},
                                                                  platform::decodeFileName(folder));
        QCOMPARE(opened, QFileInfo(path("caf")).absolutePath());
    }
#endif

    // A good folder points the list at it; one that is not there keeps the chooser open for a
    // correction; one that cannot be read is reported and closes it. Else the list keeps its
    // folder and the sign its picture.
    void ok_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::newRow("good") << "other";
        QTest::newRow("missing") << "no such folder";
        QTest::newRow("empty") << QString();
        QTest::newRow("unreadable") << "locked";
    }
    void ok()
    {
        QFETCH(QString, typed);
        const bool good = typed == "other", locked = typed == "locked";
        if (locked && !makeLocked())
            QSKIP("permissions do not bite here");
        if (good)
            makeSignFolder(path(typed), 2);
        if (!typed.isEmpty())
            typed = path(typed);
        pointListAt(m_signs);
        play(QStringLiteral("3S"));
        QPointer<frmBrowseDir> chooser = &form().browseDir();
        chooser->Text1->setText(typed);
        chooser->Command2_Click(0);
        // A folder that is not there leaves the one in use, so キャンセル keeps it.
        QCOMPARE(Module2::HkPicDir, good || locked ? typed : m_signs + sep);
        QCOMPARE(form().File1.path(), good ? typed : m_signs);
        QCOMPARE(form().File1.listCount(), good ? 2 : 10);
        QCOMPARE(State(shown(), display().toInt()), State(3, 3));
        QCOMPARE(messages().size(), std::size_t(good ? 0 : 1));
        QCOMPARE(closed(chooser), good || locked);
        if (good)
            return;
        QCOMPARE(messages().front().title, QStringLiteral("ロルモ"));
        QVERIFY(!messages().front().text.isEmpty());
        if (locked)
            return;
        QCOMPARE(messages().front().text,
                 QStringLiteral("指定したパスが見つかりません。再度指定しなおしてください。"));
        QCOMPARE(messages().front().icon, platform::MessageIcon::None);
        QCOMPARE(chooser->Text1->text(), typed);
        chooser->Text1->setText(m_signs);
        chooser->Command2_Click(0);
        QVERIFY(closed(chooser));
        QCOMPARE(Module2::HkPicDir, m_signs);
    }

    // Browsing fills in the text only, in the name's own case; cancel keeps the folder; opening
    // again shows the folder in use, not what was browsed to.
    void browseCancelReopen()
    {
        QString expected = QDir::toNativeSeparators(QStringLiteral("/Signs/Set A"));
#ifdef Q_OS_WIN
        expected = expected.toLower();
#endif
        pointListAt(m_signs);
        QPointer<frmBrowseDir> chooser = &form().browseDir();
        chooser->Text1->setText(QStringLiteral("/typed"));
        m_bus->fakes.dialogs->folderAnswer = QStringLiteral("/Signs/Set A");
        chooser->Command1_Click();
        QCOMPARE(m_bus->fakes.dialogs->folderStarts, QStringList{"/typed"});
        QCOMPARE(chooser->Text1->text(), expected);
        QCOMPARE(Module2::HkPicDir, m_signs);
        chooser->Command2_Click(1);
        QVERIFY(closed(chooser));
        QCOMPARE(Module2::HkPicDir, m_signs);
        QCOMPARE(form().File1.path(), m_signs);

        QString seen;
        bool modal = false;
        QTimer::singleShot(0, this, [&] {
            seen = form().browseDir().Text1->text();
            modal = form().browseDir().isModal() && form().browseDir().isVisible();
            form().browseDir().Command2_Click(1);
        });
        form().MnuEditHkPic_Click();
        QCOMPARE(seen, m_signs);
        QVERIFY(modal);
        QCOMPARE(Module2::HkPicDir, m_signs);
    }
};

QTEST_MAIN(TestSign)
#include "test_sign.moc"
