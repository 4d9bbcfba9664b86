// The settings file as the bus window reads it at start-up and writes it at exit.

#include "app/form1.h"
#include "common/module2.h"
#include "controls/image_control.h"
#include "controls/picture_box.h"
#include "panel/frm_set.h"
#include "platform/file_names.h"
#include "platform/install_layout.h"
#include "platform/maker_library.h"
#include "support/fakes.h"

#include <QAction>
#include <QDir>
#include <QRadioButton>
#include <QScrollBar>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTest>
#include <memory>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

namespace {

// The pictures the tests put in place, in pixels.
constexpr QSize kFirstSign(20, 8);
constexpr QSize kBoard(40, 12);

// A folder of signs: two pictures and a file that is not one.
bool makeSignFolder(const QString &folder)
{
    return putPicture(folder + "/B.bmp", {30, 30}) && putPicture(folder + "/a.bmp", kFirstSign) &&
           putFile(folder + "/readme.txt", "not a sign");
}

// A settings line: a complete record that shows a sign and a signboard, with some fields
// changed and only the first `count` fields kept.
QByteArray record(std::initializer_list<std::pair<int, QByteArray>> changes, int count = 16)
{
    QByteArrayList fields =
        QByteArray("450,300,4500,3000,\"{signs}\",\"予備の\"\"控え\"\"\",-5,2147483647,"
                   "\"{board.bmp}\","
                   "3000,300,#FALSE#,#TRUE#,2000,3000,1")
            .split(',');
    for (const auto &[field, value] : changes)
        fields[field - 1] = value;
    return fields.mid(0, count).join(',') + "\r\n";
}
const QByteArray kNoPictures = record({{5, "\"\""}, {9, "\"\""}});

// A bus window that has read its settings as at start-up.
struct Started : FakeBus
{
    explicit Started(const QString &executable) : FakeBus(executable)
    {
        form.LoadIni();
        form.waitForPictures();
    }
};

// What a start made of the file.
struct Loaded
{
    bool failed = false;
    QPoint main{30, 20};
    QPoint panel{300, 200}; // (-1, -1): below the bus window
    int front = 2000, middle = 3000, option = 1;
    bool viewKanban = false, viewWaku = true;
    QByteArray signDir = "{signs}/", board = "{board.bmp}", list = "{signs}";
    QByteArray spare = "予備の\"\"控え\"\""; // as written, its quotes doubled
    bool signShown = true;
    bool boardShown = true;
    bool roundTrip = false; // saving gives the very line that was read
};

} // namespace

Q_DECLARE_METATYPE(Loaded)

class TestSettingsFile : public QObject
{
    Q_OBJECT

    QString executable() const { return m_dir->filePath(QStringLiteral("rorumo")); }
    QString besideFile() const { return m_dir->filePath(QStringLiteral("rorumo.ini")); }
    // Test mode gives this test a configuration folder of its own.
    QString configFile() const
    {
        return QStandardPaths::writableLocation(QStandardPaths::AppConfigLocation) +
               QStringLiteral("/rorumo.ini");
    }

    std::unique_ptr<QTemporaryDir> m_dir;

private Q_SLOTS:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }

    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(m_dir->isValid());
        QDir(QFileInfo(configFile()).path()).removeRecursively();
    }

    void cleanup()
    {
        QDir(QFileInfo(configFile()).path()).removeRecursively();
        // A read-only folder has to be writable again to be removed.
        QFile::setPermissions(m_dir->filePath(QStringLiteral("bin")),
                              QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        m_dir.reset();
    }

    void loads_data()
    {
        // The file may name {signs} (a sign folder), {empty} (a folder without pictures, holding
        // notes.txt), {board.bmp} (a signboard picture) and {gone} (nothing).
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<Loaded>("want");
        const auto row = [](const char *name, const QByteArray &content, const Loaded &want) {
            QTest::newRow(name) << content << want;
        };
        // Paths a plain comma-split would break, a quote in the text, the last door mode.
        row("complete", record({{5, "\"{signs}/\""}, {16, "2"}}),
            {.option = 2, .list = "{signs}/", .roundTrip = true});
        row("off every screen", record({{1, "200000"}, {2, "200000"}, {3, "300000"}, {4, "0"}}),
            {.main = {0, 0}, .panel = {-1, -1}});
        // A stick or share not there today: the rest as stored, the paths kept for its return.
        row("signboard file gone or not a picture", record({{9, "\"{empty}/notes.txt\""}}),
            {.board = "{empty}/notes.txt", .boardShown = false});
        row("sign folder gone", record({{5, "\"{gone}\""}}),
            {.signDir = "{gone}", .list = "", .signShown = false});
        // What a key on the sign box makes of no folder: still no folder.
        const QByteArray sep = QString(QDir::separator()).toUtf8();
        row("sign folder only the separator", record({{5, '"' + sep + '"'}}),
            {.signDir = sep, .list = "", .signShown = false});
        // Twips between whole pixels round to the nearer one.
        row("places partly on the screen",
            record({{1, "-293"}, {2, "-300"}, {3, "11708"}, {4, "8700"}}),
            {.main = {-20, -20}, .panel = {781, 580}});

        // A failed start: the defaults, but what was read before the failure stays.
        const auto failed = [](const char *signDir, const char *board = "{board.bmp}",
                               const char *list = "", bool signShown = false) {
            Loaded f{.failed = true, .signShown = signShown};
            std::tie(f.signDir, f.board, f.list) = std::tuple(signDir, board, list);
            return f;
        };
        Loaded noFile = failed("", "");
        noFile.viewKanban = true;
        noFile.spare.clear();
        row("no file", {}, noFile);
        // Failing while reading: nothing after it is applied.
        Loaded unread = failed("{signs}");
        unread.viewKanban = true;
        row("fifteen fields", record({}, 15), unread);
        // The sign folder is only looked at after the speeds.
        row("front speed 0", record({{14, "0"}}), failed("{signs}"));
        // Cut to 16 bits it would be a speed in range (4464).
        row("middle speed 70000", record({{15, "70000"}}), failed("{signs}"));
        const Loaded badMode = failed("{signs}/", "{board.bmp}", "{signs}", true);
        row("field 16 is 3", record({{16, "3"}}), badMode);
        // Names from old archives in their own bytes: a Latin-1 folder holding a sign named in
        // Shift_JIS, a Shift_JIS signboard, and Shift_JIS text.
        row("names not in UTF-8",
            record({{5, "\"{latin1}\""}, {6, "\"\x83\x5c\x95\x5c\""}, {9, "\"{sjis.bmp}\""}}),
            {.signDir = "{latin1}/",
             .board = "{sjis.bmp}",
             .list = "{latin1}",
             .spare = "\x83\x5c\x95\x5c"});
    }

    void loads()
    {
        QFETCH(QByteArray, content);
        QFETCH(Loaded, want);

        QVERIFY(makeSignFolder(m_dir->filePath(QStringLiteral("方向幕, 東"))));
        QVERIFY(putFile(m_dir->filePath(QStringLiteral("empty/notes.txt")), "no picture"));
        QVERIFY(putPicture(m_dir->filePath(QStringLiteral("看板, 駅前.bmp")), kBoard));
        // Latin-1 "café", and "方向幕.bmp" and "看板.bmp" in Shift_JIS.
        const QByteArray root = QFile::encodeName(m_dir->path()) + '/';
        const QByteArray latin1 = "caf\xe9", sjisBoard = "\x8a\xc5\x94\xc2.bmp";
        QVERIFY(::mkdir(root + latin1, S_IRWXU) == 0);
        QVERIFY(putPicture(m_dir->filePath(QStringLiteral("s.bmp")), kFirstSign));
        QVERIFY(::rename(root + "s.bmp", root + latin1 + "/\x95\xfb\x8c\xfc\x96\x8b.bmp") == 0);
        QVERIFY(putPicture(m_dir->filePath(QStringLiteral("b.bmp")), kBoard));
        QVERIFY(::rename(root + "b.bmp", root + sjisBoard) == 0);
        // The placeholders stand for these files and folders.
        const auto place = [&](QByteArray text) {
            text.replace("}/", "}" + QString(QDir::separator()).toUtf8());
            const std::pair<QByteArray, QByteArray> names[] = {
                {"signs", "方向幕, 東"}, {"empty", "empty"}, {"board.bmp", "看板, 駅前.bmp"},
                {"gone", "gone"},        {"latin1", latin1}, {"sjis.bmp", sjisBoard}};
            for (const auto &[key, name] : names)
                text.replace('{' + key + '}', root + name);
            return text;
        };
        if (!content.isEmpty())
            QVERIFY(putFile(besideFile(), place(content)));

        Started bus(executable());
        Form1 &form = bus.form;
        frmSet &panel = form.panel();
        if (want.failed) // the defaults
            std::tie(want.main, want.panel, want.front, want.middle, want.option) =
                std::tuple(QPoint(0, 0), QPoint(-1, -1), 10000, 6000, 0);
        const TwipRect board = want.failed       ? TwipRect{8790, 1680, 1410, 450}
                               : want.boardShown ? TwipRect{3000, 300, 600, 180}
                                                 : TwipRect{3000, 300, 1410, 450};
        QCOMPARE(form.PicKanban->twips(), board);
        QCOMPARE(form.PicKanban->picture().isEmpty(), want.failed || !want.boardShown);
        if (want.panel == QPoint(-1, -1))
            want.panel = QPoint(0, form.outerHeightTwips() / kTwipsPerPixel);
        QCOMPARE(form.pos(), want.main);
        QCOMPARE(panel.pos(), want.panel);
        QVERIFY(bus.frame() == bus.fittedFrame());
        QCOMPARE(panel.HScroll1->value(), want.front);
        QCOMPARE(panel.HScroll2->value(), want.middle);
        QVERIFY(panel.Option1[std::size_t(want.option)]->isChecked());

        QCOMPARE(form.PicKanban->isHidden(), !want.viewKanban);
        QCOMPARE(form.MnuViewKanban->isChecked(), want.viewKanban);
        QCOMPARE(bus.framePiecesShown(), want.viewWaku ? 3 : 0);
        QCOMPARE(form.MnuViewWaku->isChecked(), want.viewWaku);

        QCOMPARE(platform::encodeFileName(Module2::HkPicDir), place(want.signDir));
        QCOMPARE(platform::encodeFileName(Module2::KanbanPicPath), place(want.board));
        QCOMPARE(platform::encodeFileName(form.File1.path()), place(want.list));
        QCOMPARE(form.ImgDesiMaku->picture().sizeTwips,
                 want.signShown ? kFirstSign * kTwipsPerPixel : QSize());
        QVERIFY(bus.fakes.dialogs->messages.empty());

        // Fields 5 to 9 go back to the file as they came, byte for byte.
        bus.form.SaveIni();
        const QByteArray fields5to9 = '"' + place(want.signDir) + "\",\"" + want.spare + "\"," +
                                      (content.isEmpty() ? "0,0" : "-5,2147483647") + ",\"" +
                                      place(want.board) + "\",";
        QVERIFY2(fileBytes(besideFile()).contains(fields5to9), fields5to9.constData());
        if (want.roundTrip)
            QCOMPARE(fileBytes(besideFile()), place(content));
    }

    // The line kept ready for an end that skips the save follows every stored value, built once
    // for the changes handled together.
    void keptLineFollowsStoredValues()
    {
        Started bus(executable());
        Form1 &form = bus.form;
        form.show();
        form.panel().show();
        QSignalSpy lines(&form, &Form1::settingsLineChanged);
        const std::function<void()> changes[] = {
            [&] { form.move(40, 30); },
            [&] { form.panel().move(300, 400); },
            [&] { form.panel().HScroll2->setValue(1234); },
            [&] {
                form.PicKanban->setTwips({15, 30, 600, 180});
            },
            [&] { form.MnuViewWaku->trigger(); },
            [&] { Module2::setHkPicDir(QStringLiteral("/x")); },
            [&] { Module2::setKanbanPicPath(QStringLiteral("/y.bmp")); }};
        for (const auto &change : changes) {
            QCoreApplication::processEvents();
            lines.clear();
            change();
            QCoreApplication::processEvents();
            QCOMPARE(lines.size(), 1);
            QCOMPARE(lines.front().front().toByteArray(), form.settingsLine());
        }
    }

    void keepsOldFileWhenSaveFails_data()
    {
        QTest::addColumn<QString>("trouble");
        // As a full disk: the line does not reach the disk whole.
        QTest::newRow("file-size limit") << "size limit";
        QTest::newRow("a link to a FIFO") << "fifo";
    }
    void keepsOldFileWhenSaveFails()
    {
        QFETCH(QString, trouble);
        const QString beside = besideFile();
        const QByteArray fifo = QFile::encodeName(m_dir->filePath(QStringLiteral("fifo")));
        if (trouble == "fifo")
            QVERIFY(::mkfifo(fifo.constData(), 0600) == 0 && QFile::link(fifo, beside));
        else
            QVERIFY(putFile(beside, kNoPictures));
        const auto entries = [this] {
            return QDir(m_dir->path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::System);
        };
        const QStringList entriesBefore = entries();

        Started bus(executable());
        bus.form.panel().HScroll1->setValue(4321);
        QSignalSpy ended(&bus.form, &Form1::programEnded);
        rlimit unlimited{};
        QCOMPARE(::getrlimit(RLIMIT_FSIZE, &unlimited), 0);
        rlimit limit = unlimited;
        if (trouble == "size limit")
            limit.rlim_cur = 20;
        QCOMPARE(::setrlimit(RLIMIT_FSIZE, &limit), 0);
        bus.form.Form_Unload();
        QCOMPARE(::setrlimit(RLIMIT_FSIZE, &unlimited), 0);

        QCOMPARE(ended.size(), 1);
        if (trouble == "fifo") // still a link to something that is no regular file
            QVERIFY(QFileInfo(beside).isSymLink() && QFileInfo(beside).exists() &&
                    !QFileInfo(beside).isFile());
        else
            QCOMPARE(fileBytes(beside), kNoPictures);
        QCOMPARE(entries(), entriesBefore); // no temporary file left behind
        QCOMPARE(bus.fakes.dialogs->messages.size(), std::size_t(1));
        const FakeDialogs::Message &message = bus.fakes.dialogs->messages.front();
        QCOMPARE(message.icon, platform::MessageIcon::Critical);
        // The path and, on the third line, the reason.
        const QStringList lines = message.text.split(QStringLiteral("\r\n"));
        QVERIFY2(lines.size() == 3 && lines[1] == QDir::toNativeSeparators(beside) &&
                     !lines[2].isEmpty(),
                 qPrintable(message.text));
    }

    // A copy in a folder it may write to reads and writes only the file beside it; an installed
    // program, or one in a read-only folder, the one in the configuration folder.
    void keepsItsOwnFile_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<bool>("beside");   // a file beside the executable, marked 1
        QTest::addColumn<bool>("inConfig"); // a newer one in the configuration folder, marked 2
        QTest::addColumn<int>("read");      // the mark read, 0 for none
        QTest::newRow("writable, a newer file elsewhere") << "writable" << true << true << 1;
        QTest::newRow("writable, a file only elsewhere") << "writable" << false << true << 0;
        QTest::newRow("installed") << "installed" << true << true << 2;
        QTest::newRow("read-only, first start") << "read-only" << true << false << 1;
    }
    void keepsItsOwnFile()
    {
        QFETCH(QString, kind);
        QFETCH(bool, beside);
        QFETCH(bool, inConfig);
        QFETCH(int, read);
        if (kind == "read-only" && ::geteuid() == 0)
            QSKIP("root writes into read-only folders");
        const QString bin = m_dir->filePath(QStringLiteral("bin"));
        const QString ownFile = bin + QStringLiteral("/rorumo.ini");
        const auto marked = [](int mark) {
            return record({{5, "\"\""}, {9, "\"\""}, {7, QByteArray::number(mark)}});
        };
        QVERIFY(::mkdir(platform::encodeFileName(bin).constData(), S_IRWXU) == 0);
        if (kind == "installed") {
            const QString library = platform::privateLibraryFolder(bin);
            QVERIFY(library.startsWith(m_dir->path()));
            QVERIFY(putFile(QDir(library).filePath(platform::VLM3ResLibrary::fileName()), {}));
        }
        const timeval older = {::time(nullptr) - 100, 0}, times[] = {older, older};
        QVERIFY(!beside || (putFile(ownFile, marked(1)) &&
                            ::utimes(platform::encodeFileName(ownFile).constData(), times) == 0));
        QVERIFY(!inConfig || putFile(configFile(), marked(2)));
        if (kind == "read-only")
            QVERIFY(QFile::setPermissions(bin, QFile::ReadOwner | QFile::ExeOwner));

        Started bus(bin + QStringLiteral("/rorumo"));
        QCOMPARE(Module2::SpareNumber1, read);
        bus.form.panel().HScroll1->setValue(2345);
        bus.form.Form_Unload();
        QVERIFY(bus.fakes.dialogs->messages.empty());
        const bool toConfig = kind == "installed" || kind == "read-only";
        QVERIFY(fileBytes(toConfig ? configFile() : ownFile).contains(",2345,"));
        QCOMPARE(fileBytes(toConfig ? ownFile : configFile()),
                 toConfig ? (beside ? marked(1) : QByteArray())
                          : (inConfig ? marked(2) : QByteArray()));
    }
};

QTEST_MAIN(TestSettingsFile)
#include "test_settings_file.moc"
