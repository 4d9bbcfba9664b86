// The settings file as the bus window reads it at start-up and writes it at exit.

#include "app/form1.h"
#include "app/module2.h"
#include "panel/frm_set.h"
#include "platform/controls/image_control.h"
#include "platform/controls/picture_box.h"
#include "support/fakes.h"

#include <QAction>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QLabel>
#include <QRadioButton>
#include <QScrollBar>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QStringEncoder>
#include <QTemporaryDir>
#include <QTest>
#include <algorithm>
#include <memory>
#include <unistd.h>

namespace {

constexpr TwipRect kResetBoard{8790, 1680, 1410, 450};
// The pictures the tests put in place, in pixels.
constexpr QSize kFirstSign(20, 8);
constexpr QSize kSecondSign(30, 30);
constexpr QSize kBoard(40, 12);

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool writePicture(const QString &path, QSize size, QColor colour)
{
    QImage image(size, QImage::Format_RGB32);
    image.fill(colour);
    return image.save(path, "BMP");
}

// A folder of signs: two pictures and a file that is not one.
bool makeSignFolder(const QString &folder)
{
    return QDir().mkpath(folder) && writePicture(folder + "/B.bmp", kSecondSign, Qt::blue) &&
           writePicture(folder + "/a.bmp", kFirstSign, Qt::red) &&
           writeFile(folder + "/readme.txt", "not a sign");
}

// The frame sits snugly around the signboard.
bool frameFits(const Form1 &form)
{
    const TwipRect b = form.PicKanban->twips();
    return form.shpK_Waku[0].twips() == TwipRect{b.left - 75, b.top, 75, b.height + 15} &&
           form.shpK_Waku[1].twips() == TwipRect{b.left + b.width, b.top, 75, b.height + 15} &&
           form.shpK_Waku[2].twips() == TwipRect{b.left - 75, b.top + b.height, b.width + 150, 60};
}

bool frameVisible(const Form1 &form, bool visible)
{
    return std::all_of(form.shpK_Waku.begin(), form.shpK_Waku.end(),
                       [visible](const ShapeRect &shape) { return shape.isVisible() == visible; });
}

// A settings line: a complete record that shows a sign and a signboard, with some fields
// changed and only the first `count` fields kept.
QByteArray record(std::initializer_list<std::pair<int, QByteArray>> changes, int count = 16)
{
    QByteArrayList fields = {"450",    "300",  "4500",        "3000", "\"{signs}\"", "\"spare\"",
                             "7",      "-8",   "\"{board}\"", "3000", "300",         "#FALSE#",
                             "#TRUE#", "2000", "3000",        "1"};
    for (const auto &[field, value] : changes)
        fields[field - 1] = value;
    return fields.mid(0, count).join(',') + "\r\n";
}

// A bus window that has read its settings as at start-up.
struct Started
{
    FakeServices fakes;
    Form1 form{fakes.services};
    explicit Started(const QString &executable) : fakes(executable) { form.LoadIni(); }
};

// What a start made of the file. A failed start falls back to the defaults for the places,
// the signboard and the speeds, and keeps whatever it read before the failure.
struct Loaded
{
    bool failed = false;
    QPoint main{30, 20};
    QPoint panel{300, 200}; // (-1, -1): below the bus window
    int front = 2000, middle = 3000, option = 1;
    bool viewKanban = false, viewWaku = true;
    QString signDir = "{signs}/", board = "{board}", spare = "spare", list = "{signs}";
    bool signShown = true;
};

} // namespace

Q_DECLARE_METATYPE(Loaded)

class TestSettingsFile : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }
    void init();
    void cleanup();
    void savesAndReadsBackEveryField();
    void loads_data();
    void loads();
    void keepsOldFileWhenSaveFails();
    void savesNewPanelAfterPanelClosed();
    void readsNewerOfTwoFiles_data();
    void readsNewerOfTwoFiles();
    void savesToConfigFolderWhenExecutableFolderCannot_data();
    void savesToConfigFolderWhenExecutableFolderCannot();

private:
    QString executable() const { return m_dir->filePath(QStringLiteral("rorumo")); }
    QString besideFile() const { return m_dir->filePath(QStringLiteral("rorumo.ini")); }
    // Test mode gives this test a configuration folder of its own.
    QString configFolder() const
    {
        return QStandardPaths::writableLocation(QStandardPaths::AppConfigLocation);
    }
    QString configFile() const { return configFolder() + QStringLiteral("/rorumo.ini"); }

    std::unique_ptr<QTemporaryDir> m_dir;
};

void TestSettingsFile::init()
{
    Module2::reset();
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    QDir(configFolder()).removeRecursively();
}

void TestSettingsFile::cleanup()
{
    QDir(configFolder()).removeRecursively();
    // A read-only folder has to be writable again to be removed.
    if (m_dir)
        QFile::setPermissions(m_dir->path(),
                              QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    m_dir.reset();
}

void TestSettingsFile::savesAndReadsBackEveryField()
{
    {
        Started bus(executable());
        bus.form.SaveIni();
        QCOMPARE(readFile(besideFile()),
                 "0,0,0," + QByteArray::number(bus.form.outerHeightTwips()) +
                     ",\"\",\"\",0,0,\"\",8790,1680,#TRUE#,#TRUE#,10000,6000,0\r\n");
    }
    // Paths a plain comma-split or an unescaped quote would break.
    const QString signs = m_dir->filePath(QStringLiteral("方向幕,\"東\" 行き")) + QDir::separator();
    const QString board = m_dir->filePath(QStringLiteral("看板,\"駅前\".bmp"));
    QVERIFY(makeSignFolder(signs));
    QVERIFY(writePicture(board, kBoard, Qt::green));
    {
        Started bus(executable());
        Module2::HkPicDir = signs;
        Module2::SpareText = QStringLiteral("予備,\"控え\"");
        Module2::SpareNumber1 = -5;
        Module2::SpareNumber2 = std::numeric_limits<qint32>::max();
        Module2::KanbanPicPath = board;
        bus.form.move(30, 20);
        bus.form.panel().move(300, 200);
        bus.form.PicKanban->setTwips({3000, 300, 1410, 450});
        bus.form.MnuViewKanban->setChecked(false);
        bus.form.MnuViewWaku->setChecked(false);
        bus.form.panel().HScroll1->setValue(1234);
        bus.form.panel().HScroll2->setValue(29999);
        bus.form.panel().Option1[2]->setChecked(true);
        bus.form.SaveIni();
    }
    const auto quoted = [](QString text) { return '"' + text.replace('"', "\"\"").toUtf8() + '"'; };
    const QByteArray line = readFile(besideFile());
    QCOMPARE(line, "450,300,4500,3000," + quoted(signs) + ',' + quoted(Module2::SpareText) +
                       ",-5,2147483647," + quoted(board) +
                       ",3000,300,#FALSE#,#FALSE#,1234,29999,2\r\n");

    // Read back, every field lands where it came from: saving again gives the same line.
    Module2::reset();
    Started bus(executable());
    QCOMPARE(bus.form.ImgDesiMaku->picture().sizeTwips, kFirstSign * kTwipsPerPixel);
    QCOMPARE(bus.form.PicKanban->picture().sizeTwips, kBoard * kTwipsPerPixel);
    QVERIFY(bus.form.PicKanban->isHidden() && frameVisible(bus.form, false));
    QVERIFY(bus.fakes.dialogs->messages.empty());
    QVERIFY(QFile::remove(besideFile()));
    bus.form.SaveIni();
    QCOMPARE(readFile(besideFile()), line);
}

void TestSettingsFile::loads_data()
{
    // The file may name {signs} (a sign folder), {empty} (a folder without pictures, holding
    // notes.txt), {board} (a signboard picture) and {gone} (nothing).
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<Loaded>("want");
    const auto row = [](const char *name, const QByteArray &content, const Loaded &want) {
        QTest::newRow(name) << content << want;
    };
    const QPoint below(-1, -1);
    row("complete", record({}), {});
    row("field 1 not a number, no sign folder", record({{1, "abc"}, {5, "\"\""}}),
        {.main = {0, 20}, .signDir = "", .list = "", .signShown = false});
    row("speeds at the ends of their range", record({{14, "1"}, {15, "30000"}, {16, "2"}}),
        {.front = 1, .middle = 30000, .option = 2});
    row("places off every screen", record({{1, "200000"}, {2, "200000"}, {3, "300000"}, {4, "0"}}),
        {.main = {0, 0}, .panel = below});
    row("places partly on the screen",
        record({{1, "-300"}, {2, "-300"}, {3, "11700"}, {4, "8700"}}),
        {.main = {-20, -20}, .panel = {780, 580}});

    // A failed start: the places, the signboard and the speeds fall back to the defaults;
    // what was read before the failure stays.
    const auto failed = [](const char *signDir, const char *board = "{board}",
                           const char *list = "", bool signShown = false) {
        return Loaded{.failed = true,
                      .signDir = signDir,
                      .board = board,
                      .list = list,
                      .signShown = signShown};
    };
    Loaded noFile = failed("", "");
    noFile.viewKanban = true;
    noFile.spare.clear();
    row("no file", {}, noFile);
    // Failing while reading: nothing after it is applied.
    Loaded unread = failed("{signs}");
    unread.viewKanban = true;
    row("fifteen fields", record({}, 15), unread);
    row("field 16 does not fit 16 bits", record({{16, "65536"}}), unread);
    row("signboard file not a picture", record({{9, "\"{empty}/notes.txt\""}}),
        failed("{signs}", "{empty}/notes.txt"));
    // The sign folder is only looked at after the speeds.
    row("front speed 0", record({{14, "0"}}), failed("{signs}"));
    row("middle speed 30001", record({{15, "30001"}}), failed("{signs}"));
    // Cut to 16 bits it would be a speed in range (4464).
    row("middle speed 70000", record({{15, "70000"}}), failed("{signs}"));
    row("sign folder gone", record({{5, "\"{gone}\""}}), failed("{gone}"));
    row("sign folder without pictures", record({{5, "\"{empty}\""}}),
        failed("{empty}/", "{board}", "{empty}"));
    row("field 16 is 3", record({{16, "3"}}), failed("{signs}/", "{board}", "{signs}", true));
    row("field 16 is -1", record({{16, "-1"}}), failed("{signs}/", "{board}", "{signs}", true));

    // As the Windows program wrote it: Windows paths, text in code page 932 (with "表" and "ソ",
    // whose second byte is a backslash).
    QStringEncoder shiftJis("Shift_JIS");
    if (shiftJis.isValid()) {
        Loaded windows = failed("C:\\バス\\表示ソフト\\", "");
        windows.viewWaku = false;
        windows.spare = QStringLiteral("予備の文字");
        row("written by the Windows program",
            shiftJis.encode(QStringLiteral(
                "1500,1500,0,3600,\"C:\\バス\\表示ソフト\\\",\"予備の文字\",7,-8,\"\","
                "8790,1680,#FALSE#,#FALSE#,10000,6000,0\r\n")),
            windows);
    }
}

void TestSettingsFile::loads()
{
    QFETCH(QByteArray, content);
    QFETCH(Loaded, want);

    const QString signs = m_dir->filePath(QStringLiteral("signs"));
    const QString empty = m_dir->filePath(QStringLiteral("empty"));
    QVERIFY(makeSignFolder(signs));
    QVERIFY(QDir().mkpath(empty));
    QVERIFY(writeFile(empty + "/notes.txt", "no picture here"));
    QVERIFY(writePicture(m_dir->filePath(QStringLiteral("board.bmp")), kBoard, Qt::green));
    // The placeholders stand for these files and folders.
    const auto place = [this](QString text) {
        text.replace(QStringLiteral("}/"), QStringLiteral("}") + QDir::separator());
        text.replace(QStringLiteral("{board}"), QStringLiteral("{board.bmp}"));
        for (const char *name : {"signs", "empty", "board.bmp", "gone"})
            text.replace('{' + QLatin1String(name) + '}', m_dir->filePath(QLatin1String(name)));
        return text;
    };
    content.replace("{board}", "{board.bmp}");
    for (const char *name : {"signs", "empty", "board.bmp", "gone"})
        content.replace('{' + QByteArray(name) + '}',
                        m_dir->filePath(QLatin1String(name)).toUtf8());
    if (!content.isEmpty())
        QVERIFY(writeFile(besideFile(), content));

    Started bus(executable());
    Form1 &form = bus.form;
    frmSet &panel = form.panel();
    if (want.failed) {
        want.main = QPoint(0, 0);
        want.panel = QPoint(-1, -1);
        want.front = 10000;
        want.middle = 6000;
        want.option = 0;
        QVERIFY(form.PicKanban->twips() == kResetBoard);
        QVERIFY(form.PicKanban->picture().isEmpty());
    } else {
        QCOMPARE(form.PicKanban->twips().left, 3000);
        QCOMPARE(form.PicKanban->twips().top, 300);
        QCOMPARE(form.PicKanban->picture().sizeTwips, kBoard * kTwipsPerPixel);
    }
    if (want.panel == QPoint(-1, -1))
        want.panel = QPoint(0, form.outerHeightTwips() / kTwipsPerPixel);
    QCOMPARE(form.pos(), want.main);
    QCOMPARE(panel.pos(), want.panel);
    QVERIFY(frameFits(form));
    QCOMPARE(panel.HScroll1->value(), want.front);
    QCOMPARE(panel.HScroll2->value(), want.middle);
    QCOMPARE(panel.lblMaeSpeed->text(), QString::number(want.front));
    QCOMPARE(panel.lblNakaSpeed->text(), QString::number(want.middle));
    QVERIFY(panel.Option1[std::size_t(want.option)]->isChecked());

    QCOMPARE(form.PicKanban->isHidden(), !want.viewKanban);
    QCOMPARE(form.MnuViewKanban->isChecked(), want.viewKanban);
    QVERIFY(frameVisible(form, want.viewWaku));
    QCOMPARE(form.MnuViewWaku->isChecked(), want.viewWaku);

    QCOMPARE(Module2::HkPicDir, place(want.signDir));
    QCOMPARE(Module2::KanbanPicPath, place(want.board));
    QCOMPARE(Module2::SpareText, want.spare);
    QCOMPARE(Module2::SpareNumber1, content.isEmpty() ? 0 : 7);
    QCOMPARE(Module2::SpareNumber2, content.isEmpty() ? 0 : -8);
    QCOMPARE(form.File1.path(), place(want.list));
    QCOMPARE(form.ImgDesiMaku->picture().sizeTwips,
             want.signShown ? kFirstSign * kTwipsPerPixel : QSize());
    QVERIFY(bus.fakes.dialogs->messages.empty());
}

void TestSettingsFile::keepsOldFileWhenSaveFails()
{
    // A name that fits the folder but leaves no room for the temporary name under which the
    // save replaces an existing file, so the save fails even for root. The configuration folder
    // holds one too, so that the second try fails as well.
    const QString name = QString(246, u'b');
    const QString beside = m_dir->filePath(name + ".ini");
    const QString inConfig = QFileInfo(configFile()).dir().filePath(name + ".ini");
    const QByteArray old = record({{5, "\"\""}, {9, "\"\""}});
    QVERIFY(writeFile(beside, old));
    QVERIFY(QDir().mkpath(QFileInfo(inConfig).absolutePath()));
    QVERIFY(writeFile(inConfig, old));

    Started bus(m_dir->filePath(name));
    QCOMPARE(bus.form.pos(), QPoint(30, 20));
    bus.form.panel().HScroll1->setValue(4321);
    QSignalSpy ended(&bus.form, &Form1::programEnded);
    bus.form.Form_Unload();

    QCOMPARE(ended.size(), 1);
    QCOMPARE(readFile(beside), old);
    QCOMPARE(readFile(inConfig), old);
    QCOMPARE(QDir(m_dir->path()).entryList(QDir::Files), QStringList{name + ".ini"});
    QCOMPARE(bus.fakes.dialogs->messages.size(), std::size_t(1));
    const FakeDialogs::Message &message = bus.fakes.dialogs->messages.front();
    QCOMPARE(message.icon, platform::MessageIcon::Critical);
    // The path and, on the third line, the reason.
    const QStringList lines = message.text.split(QStringLiteral("\r\n"));
    QVERIFY2(lines.size() == 3 && lines[1] == QDir::toNativeSeparators(beside) &&
                 !lines[2].isEmpty(),
             qPrintable(message.text));
}

void TestSettingsFile::savesNewPanelAfterPanelClosed()
{
    QVERIFY(writeFile(besideFile(), record({{5, "\"\""}, {9, "\"\""}})));
    Started bus(executable());
    Form1 &form = bus.form;
    QCOMPARE(form.panel().pos(), QPoint(300, 200));

    form.panel().close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QVERIFY(!form.panelExists());
    form.SaveIni();

    // A panel made anew, hidden, with its design values.
    QVERIFY(form.panelExists() && form.panel().isHidden());
    const QPoint place = form.panel().pos();
    QVERIFY(place != QPoint(300, 200));
    const QByteArrayList fields = readFile(besideFile()).trimmed().split(',');
    QCOMPARE(fields.mid(2, 2), (QByteArrayList{QByteArray::number(pixelsToTwips(place.x())),
                                               QByteArray::number(pixelsToTwips(place.y()))}));
    QCOMPARE(fields.mid(13), (QByteArrayList{"6000", "10000", "0"}));
}

void TestSettingsFile::readsNewerOfTwoFiles_data()
{
    QTest::addColumn<int>("besideAge"); // seconds old; -1: no such file, -2: a folder of its name
    QTest::addColumn<int>("configAge");
    QTest::addColumn<int>("read"); // 1 beside the executable, 2 the configuration folder
    QTest::newRow("beside the executable only") << 0 << -1 << 1;
    QTest::newRow("configuration folder only") << -1 << 0 << 2;
    QTest::newRow("both, beside newer") << 10 << 100 << 1;
    QTest::newRow("both, configuration newer") << 100 << 10 << 2;
    // The folder in the way sent the last save to the configuration folder; it is no file.
    QTest::newRow("older, behind a folder in the way") << -2 << 100 << 2;
}

void TestSettingsFile::readsNewerOfTwoFiles()
{
    QFETCH(int, besideAge);
    QFETCH(int, configAge);
    QFETCH(int, read);

    const QDateTime now = QDateTime::currentDateTime();
    const auto put = [&now](const QString &path, int age, int mark) {
        if (age == -2)
            return QDir().mkpath(path);
        QFile file(path);
        return age < 0 ||
               (QDir().mkpath(QFileInfo(path).absolutePath()) && file.open(QIODevice::WriteOnly) &&
                file.write(record({{5, "\"\""}, {9, "\"\""}, {7, QByteArray::number(mark)}})) > 0 &&
                file.flush() &&
                file.setFileTime(now.addSecs(-age), QFileDevice::FileModificationTime));
    };
    QVERIFY(put(besideFile(), besideAge, 1));
    QVERIFY(put(configFile(), configAge, 2));

    Started bus(executable());
    QCOMPARE(Module2::SpareNumber1, read);
    QCOMPARE(bus.form.pos(), QPoint(30, 20));
}

void TestSettingsFile::savesToConfigFolderWhenExecutableFolderCannot_data()
{
    QTest::addColumn<bool>("readOnlyFolder"); // else a folder stands where the file would be
    QTest::newRow("folder in the way") << false;
    QTest::newRow("read-only folder") << true;
}

void TestSettingsFile::savesToConfigFolderWhenExecutableFolderCannot()
{
    QFETCH(bool, readOnlyFolder);
    if (readOnlyFolder) {
        if (::geteuid() == 0)
            QSKIP("root writes into read-only folders");
        QVERIFY(QFile::setPermissions(m_dir->path(), QFile::ReadOwner | QFile::ExeOwner));
    } else {
        QVERIFY(QDir().mkpath(besideFile()));
    }
    Started bus(executable());
    bus.form.panel().HScroll1->setValue(2345);
    bus.form.Form_Unload();
    QVERIFY(bus.fakes.dialogs->messages.empty());
    QVERIFY(readFile(configFile()).endsWith(",2345,6000,0\r\n"));
}

QTEST_MAIN(TestSettingsFile)
#include "test_settings_file.moc"
