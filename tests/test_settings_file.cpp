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
#include <array>
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

QSize toTwips(QSize pixels)
{
    return pixels * kTwipsPerPixel;
}

// Where the panel goes when nothing usable is stored: right below the bus window.
QPoint panelBelow(const Form1 &form)
{
    return {0, form.outerHeightTwips() / kTwipsPerPixel};
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

} // namespace

class TestSettingsFile : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();

    void firstStartWritesDefaults();
    void roundTripsEveryField();
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
    QString configFile() const
    {
        return QDir(QStandardPaths::writableLocation(QStandardPaths::AppConfigLocation))
            .filePath(QStringLiteral("rorumo.ini"));
    }

    std::unique_ptr<QTemporaryDir> m_dir;
};

void TestSettingsFile::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
}

void TestSettingsFile::init()
{
    Module2::reset();
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    // Test mode gives this test a configuration folder of its own.
    QDir(QFileInfo(configFile()).absolutePath()).removeRecursively();
}

void TestSettingsFile::cleanup()
{
    QDir(QFileInfo(configFile()).absolutePath()).removeRecursively();
    if (!m_dir)
        return;
    // A read-only folder has to be writable again to be removed.
    QFile::setPermissions(m_dir->path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    m_dir.reset();
}

void TestSettingsFile::firstStartWritesDefaults()
{
    FakeServices fakes(executable());
    Form1 form(fakes.services);
    form.LoadIni();

    QCOMPARE(form.pos(), QPoint(0, 0));
    QCOMPARE(form.panel().pos(), panelBelow(form));
    QVERIFY(form.PicKanban->twips() == kResetBoard);
    QVERIFY(form.PicKanban->picture().isEmpty());
    QVERIFY(frameFits(form));
    QVERIFY(!form.PicKanban->isHidden());
    QVERIFY(frameVisible(form, true));
    QCOMPARE(form.panel().HScroll1->value(), 10000);
    QCOMPARE(form.panel().HScroll2->value(), 6000);
    QCOMPARE(form.panel().lblMaeSpeed->text(), QStringLiteral("10000"));
    QCOMPARE(form.panel().lblNakaSpeed->text(), QStringLiteral("6000"));
    QVERIFY(form.panel().Option1[0]->isChecked());
    QVERIFY(Module2::HkPicDir.isEmpty());
    QVERIFY(fakes.dialogs->messages.empty());

    form.SaveIni();
    QCOMPARE(readFile(besideFile()),
             "0,0,0," + QByteArray::number(form.outerHeightTwips()) +
                 ",\"\",\"\",0,0,\"\",8790,1680,#TRUE#,#TRUE#,10000,6000,0\r\n");
}

void TestSettingsFile::roundTripsEveryField()
{
    // Paths a plain comma-split or an unescaped quote would break.
    const QString signs = m_dir->filePath(QStringLiteral("方向幕,\"東\" 行き"));
    const QString board = m_dir->filePath(QStringLiteral("看板,\"駅前\".bmp"));
    QVERIFY(makeSignFolder(signs));
    QVERIFY(writePicture(board, kBoard, Qt::green));

    {
        FakeServices fakes(executable());
        Form1 form(fakes.services);
        form.LoadIni();
        Module2::HkPicDir = signs;
        Module2::SpareText = QStringLiteral("予備,\"控え\"");
        Module2::SpareNumber1 = -5;
        Module2::SpareNumber2 = std::numeric_limits<qint32>::max();
        Module2::KanbanPicPath = board;
        form.move(30, 20);
        form.panel().move(300, 200);
        form.PicKanban->setTwips({3000, 300, 1410, 450});
        form.MnuViewKanban->setChecked(false);
        form.MnuViewWaku->setChecked(false);
        form.panel().HScroll1->setValue(1234);
        form.panel().HScroll2->setValue(29999);
        form.panel().Option1[2]->setChecked(true);
        form.SaveIni();
    }
    const auto quoted = [](QString text) { return '"' + text.replace('"', "\"\"").toUtf8() + '"'; };
    QCOMPARE(readFile(besideFile()),
             "450,300,4500,3000," + quoted(signs) + ',' + quoted(Module2::SpareText) +
                 ",-5,2147483647," + quoted(board) + ",3000,300,#FALSE#,#FALSE#,1234,29999,2\r\n");

    Module2::reset();
    FakeServices fakes(executable());
    Form1 form(fakes.services);
    form.LoadIni();

    QCOMPARE(form.pos(), QPoint(30, 20));
    QCOMPARE(form.panel().pos(), QPoint(300, 200));
    QCOMPARE(form.PicKanban->twips().left, 3000);
    QCOMPARE(form.PicKanban->twips().top, 300);
    QCOMPARE(form.PicKanban->picture().sizeTwips, toTwips(kBoard));
    QCOMPARE(form.PicKanban->twips().width, toTwips(kBoard).width());
    QVERIFY(frameFits(form));
    QVERIFY(form.PicKanban->isHidden());
    QVERIFY(!form.MnuViewKanban->isChecked());
    QVERIFY(frameVisible(form, false));
    QVERIFY(!form.MnuViewWaku->isChecked());
    QCOMPARE(form.panel().HScroll1->value(), 1234);
    QCOMPARE(form.panel().HScroll2->value(), 29999);
    QCOMPARE(form.panel().lblMaeSpeed->text(), QStringLiteral("1234"));
    QCOMPARE(form.panel().lblNakaSpeed->text(), QStringLiteral("29999"));
    QVERIFY(form.panel().Option1[2]->isChecked());
    QCOMPARE(Module2::HkPicDir, signs + QDir::separator());
    QCOMPARE(Module2::SpareText, QStringLiteral("予備,\"控え\""));
    QCOMPARE(Module2::SpareNumber1, -5);
    QCOMPARE(Module2::SpareNumber2, std::numeric_limits<qint32>::max());
    QCOMPARE(Module2::KanbanPicPath, board);
    QCOMPARE(form.File1.path(), signs);
    QCOMPARE(form.ImgDesiMaku->picture().sizeTwips, toTwips(kFirstSign));
}

void TestSettingsFile::loads_data()
{
    // The file may name {signs} (a sign folder), {empty} (a folder without pictures, holding
    // notes.txt), {board} (a signboard picture) and {gone} (nothing). When `failed`, the start
    // falls back to the defaults; otherwise the places, speeds and option are as given.
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<bool>("failed");
    QTest::addColumn<QPoint>("mainPlace");
    QTest::addColumn<QPoint>("panelPlace"); // (-1, -1): below the bus window
    QTest::addColumn<int>("front");
    QTest::addColumn<int>("middle");
    QTest::addColumn<int>("option");
    QTest::addColumn<bool>("viewKanban");
    QTest::addColumn<bool>("viewWaku");
    QTest::addColumn<QString>("hkPicDir");
    QTest::addColumn<QString>("kanbanPath");
    QTest::addColumn<QString>("spareText");
    QTest::addColumn<QString>("listFolder");
    QTest::addColumn<bool>("signShown");

    const QPoint below(-1, -1);
    const auto applied = [](const char *name, const QByteArray &content) -> QTestData & {
        return QTest::newRow(name)
               << content << false << QPoint(30, 20) << QPoint(300, 200) << 2000 << 3000 << 1;
    };
    const auto failed = [below](const char *name, const QByteArray &content) -> QTestData & {
        return QTest::newRow(name) << content << true << QPoint() << below << 0 << 0 << 0;
    };
    const QString spare = QStringLiteral("spare");

    applied("complete", record({})) << false << true << "{signs}/"
                                    << "{board}" << spare << "{signs}" << true;
    applied("lines after the record", record({}) + "\"x\",1,2\r\n\r\n9,9,9\r\n")
        << false << true << "{signs}/"
        << "{board}" << spare << "{signs}" << true;
    applied("fields over several lines", "450,300\r\n4500 , 3000,\"{signs}\"\n\"spare\",7,-8,"
                                         "\"{board}\"\r\n\r\n3000,300,#FALSE#,#TRUE#\n2000\r\n"
                                         "3000\r\n1\r\n")
        << false << true << "{signs}/"
        << "{board}" << spare << "{signs}" << true;
    QTest::newRow("field 1 not a number, no sign folder")
        << record({{1, "abc"}, {5, "\"\""}}) << false << QPoint(0, 20) << QPoint(300, 200) << 2000
        << 3000 << 1 << false << true << ""
        << "{board}" << spare << "" << false;
    QTest::newRow("speeds at the ends of their range")
        << record({{14, "1"}, {15, "30000"}, {16, "2"}}) << false << QPoint(30, 20)
        << QPoint(300, 200) << 1 << 30000 << 2 << false << true << "{signs}/"
        << "{board}" << spare << "{signs}" << true;
    QTest::newRow("places off every screen")
        << record({{1, "200000"}, {2, "200000"}, {3, "300000"}, {4, "0"}}) << false << QPoint(0, 0)
        << below << 2000 << 3000 << 1 << false << true << "{signs}/"
        << "{board}" << spare << "{signs}" << true;
    QTest::newRow("places partly on the screen")
        << record({{1, "-300"}, {2, "-300"}, {3, "11700"}, {4, "8700"}}) << false
        << QPoint(-20, -20) << QPoint(780, 580) << 2000 << 3000 << 1 << false << true << "{signs}/"
        << "{board}" << spare << "{signs}" << true;

    failed("no file", QByteArray()) << true << true << ""
                                    << ""
                                    << ""
                                    << "" << false;
    failed("fifteen fields", record({}, 15)) << true << true << "{signs}"
                                             << "{board}" << spare << "" << false;
    failed("field 16 is 3", record({{16, "3"}})) << false << true << "{signs}/"
                                                 << "{board}" << spare << "{signs}" << true;
    failed("field 16 is -1", record({{16, "-1"}})) << false << true << "{signs}/"
                                                   << "{board}" << spare << "{signs}" << true;
    failed("field 16 does not fit 16 bits", record({{16, "65536"}}))
        << true << true << "{signs}"
        << "{board}" << spare << "" << false;
    failed("sign folder gone", record({{5, "\"{gone}\""}})) << false << true << "{gone}"
                                                            << "{board}" << spare << "" << false;
    failed("sign folder without pictures", record({{5, "\"{empty}\""}}))
        << false << true << "{empty}/"
        << "{board}" << spare << "{empty}" << false;
    failed("signboard picture gone", record({{9, "\"{gone}/board.bmp\""}}))
        << false << true << "{signs}"
        << "{gone}/board.bmp" << spare << "" << false;
    failed("signboard file not a picture", record({{9, "\"{empty}/notes.txt\""}}))
        << false << true << "{signs}"
        << "{empty}/notes.txt" << spare << "" << false;
    failed("front speed 0", record({{14, "0"}})) << false << true << "{signs}"
                                                 << "{board}" << spare << "" << false;
    failed("middle speed 30001", record({{15, "30001"}})) << false << true << "{signs}"
                                                          << "{board}" << spare << "" << false;
    failed("front speed 40000", record({{14, "40000"}})) << false << true << "{signs}"
                                                         << "{board}" << spare << "" << false;
    failed("middle speed 70000", record({{15, "70000"}})) << false << true << "{signs}"
                                                          << "{board}" << spare << "" << false;

    // As the Windows program wrote it: Windows paths, text in code page 932 (with "表" and "ソ",
    // whose second byte is a backslash).
    QStringEncoder shiftJis("Shift_JIS");
    if (shiftJis.isValid()) {
        const QByteArray windows = shiftJis.encode(
            QStringLiteral("1500,1500,0,3600,\"C:\\バス\\表示ソフト\\\",\"予備の文字\",7,-8,\"\","
                           "8790,1680,#FALSE#,#FALSE#,10000,6000,0\r\n"));
        failed("written by the Windows program", windows)
            << false << false << "C:\\バス\\表示ソフト\\"
            << "" << QStringLiteral("予備の文字") << "" << false;
    }
}

void TestSettingsFile::loads()
{
    QFETCH(QByteArray, content);
    QFETCH(bool, failed);
    QFETCH(QPoint, mainPlace);
    QFETCH(QPoint, panelPlace);
    QFETCH(int, front);
    QFETCH(int, middle);
    QFETCH(int, option);
    QFETCH(bool, viewKanban);
    QFETCH(bool, viewWaku);
    QFETCH(QString, hkPicDir);
    QFETCH(QString, kanbanPath);
    QFETCH(QString, spareText);
    QFETCH(QString, listFolder);
    QFETCH(bool, signShown);

    const QString signs = m_dir->filePath(QStringLiteral("signs"));
    const QString empty = m_dir->filePath(QStringLiteral("empty"));
    QVERIFY(makeSignFolder(signs));
    QVERIFY(QDir().mkpath(empty));
    QVERIFY(writeFile(empty + "/notes.txt", "no picture here"));
    QVERIFY(writePicture(m_dir->filePath(QStringLiteral("board.bmp")), kBoard, Qt::green));
    // The placeholders stand for these files and folders.
    const auto pathOf = [this](const char *name) {
        return m_dir->filePath(qstrcmp(name, "board") == 0 ? QStringLiteral("board.bmp")
                                                           : QString::fromLatin1(name));
    };
    const std::array names = {"signs", "empty", "board", "gone"};
    const auto placeText = [&](QString text) {
        text.replace(QStringLiteral("}/"), QStringLiteral("}") + QDir::separator());
        for (const char *name : names)
            text.replace('{' + QLatin1String(name) + '}', pathOf(name));
        return text;
    };
    if (!content.isEmpty()) {
        for (const char *name : names)
            content.replace('{' + QByteArray(name) + '}', pathOf(name).toUtf8());
        QVERIFY(writeFile(besideFile(), content));
    }

    FakeServices fakes(executable());
    Form1 form(fakes.services);
    form.LoadIni();
    frmSet &panel = form.panel();

    if (failed) {
        mainPlace = QPoint(0, 0);
        front = 10000;
        middle = 6000;
        option = 0;
        QVERIFY(form.PicKanban->twips() == kResetBoard);
        QVERIFY(form.PicKanban->picture().isEmpty());
    } else {
        QCOMPARE(form.PicKanban->twips().left, 3000);
        QCOMPARE(form.PicKanban->twips().top, 300);
        QCOMPARE(form.PicKanban->picture().sizeTwips,
                 kanbanPath.isEmpty() ? QSize() : toTwips(kBoard));
    }
    if (panelPlace == QPoint(-1, -1))
        panelPlace = panelBelow(form);
    QCOMPARE(form.pos(), mainPlace);
    QCOMPARE(panel.pos(), panelPlace);
    QVERIFY(frameFits(form));
    QCOMPARE(panel.HScroll1->value(), front);
    QCOMPARE(panel.HScroll2->value(), middle);
    QCOMPARE(panel.lblMaeSpeed->text(), QString::number(front));
    QCOMPARE(panel.lblNakaSpeed->text(), QString::number(middle));
    QVERIFY(panel.Option1[std::size_t(option)]->isChecked());

    QCOMPARE(form.PicKanban->isHidden(), !viewKanban);
    QCOMPARE(form.MnuViewKanban->isChecked(), viewKanban);
    QVERIFY(frameVisible(form, viewWaku));
    QCOMPARE(form.MnuViewWaku->isChecked(), viewWaku);

    QCOMPARE(Module2::HkPicDir, placeText(hkPicDir));
    QCOMPARE(Module2::KanbanPicPath, placeText(kanbanPath));
    QCOMPARE(Module2::SpareText, spareText);
    if (!content.isEmpty()) {
        QCOMPARE(Module2::SpareNumber1, 7);
        QCOMPARE(Module2::SpareNumber2, -8);
    }
    QCOMPARE(form.File1.path(), placeText(listFolder));
    QCOMPARE(form.ImgDesiMaku->picture().sizeTwips, signShown ? toTwips(kFirstSign) : QSize());
    QVERIFY(fakes.dialogs->messages.empty());
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

    FakeServices fakes(m_dir->filePath(name));
    Form1 form(fakes.services);
    form.LoadIni();
    QCOMPARE(form.pos(), QPoint(30, 20));
    form.panel().HScroll1->setValue(4321);
    QSignalSpy ended(&form, &Form1::programEnded);
    form.Form_Unload();

    QCOMPARE(ended.size(), 1);
    QCOMPARE(readFile(beside), old);
    QCOMPARE(readFile(inConfig), old);
    QCOMPARE(QDir(m_dir->path()).entryList(QDir::Files), QStringList{name + ".ini"});
    QCOMPARE(fakes.dialogs->messages.size(), std::size_t(1));
    const FakeDialogs::Message &message = fakes.dialogs->messages.front();
    QCOMPARE(message.icon, platform::MessageIcon::Critical);
    QVERIFY2(message.text.contains(QDir::toNativeSeparators(beside)), qPrintable(message.text));
    const QStringList lines = message.text.split(QStringLiteral("\r\n"));
    QCOMPARE(lines.size(), 3);
    QVERIFY(!lines.last().isEmpty()); // the reason
}

void TestSettingsFile::savesNewPanelAfterPanelClosed()
{
    QVERIFY(writeFile(besideFile(), record({{5, "\"\""}, {9, "\"\""}})));
    FakeServices fakes(executable());
    Form1 form(fakes.services);
    form.LoadIni();
    QCOMPARE(form.panel().pos(), QPoint(300, 200));

    form.panel().close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QVERIFY(!form.panelExists());
    form.SaveIni();

    // A panel made anew, hidden, with its design values.
    QVERIFY(form.panelExists());
    QVERIFY(form.panel().isHidden());
    QVERIFY(form.panel().pos() != QPoint(300, 200));
    const QByteArrayList fields = readFile(besideFile()).trimmed().split(',');
    QCOMPARE(fields.size(), 16);
    QCOMPARE(fields[2], QByteArray::number(pixelsToTwips(form.panel().pos().x())));
    QCOMPARE(fields[3], QByteArray::number(pixelsToTwips(form.panel().pos().y())));
    QCOMPARE(fields.mid(13), (QByteArrayList{"6000", "10000", "0"}));
}

void TestSettingsFile::readsNewerOfTwoFiles_data()
{
    QTest::addColumn<int>("besideAge"); // seconds old; -1: no such file
    QTest::addColumn<int>("configAge");
    QTest::addColumn<int>("read"); // 1 beside the executable, 2 the configuration folder
    QTest::newRow("beside the executable only") << 0 << -1 << 1;
    QTest::newRow("configuration folder only") << -1 << 0 << 2;
    QTest::newRow("both, beside newer") << 10 << 100 << 1;
    QTest::newRow("both, configuration newer") << 100 << 10 << 2;
}

void TestSettingsFile::readsNewerOfTwoFiles()
{
    QFETCH(int, besideAge);
    QFETCH(int, configAge);
    QFETCH(int, read);

    const QDateTime now = QDateTime::currentDateTime();
    const auto put = [&now](const QString &path, int age, int mark) {
        if (age < 0)
            return true;
        QFile file(path);
        return QDir().mkpath(QFileInfo(path).absolutePath()) && file.open(QIODevice::WriteOnly) &&
               file.write(record({{5, "\"\""}, {9, "\"\""}, {7, QByteArray::number(mark)}})) > 0 &&
               file.flush() &&
               file.setFileTime(now.addSecs(-age), QFileDevice::FileModificationTime);
    };
    QVERIFY(put(besideFile(), besideAge, 1));
    QVERIFY(put(configFile(), configAge, 2));

    FakeServices fakes(executable());
    Form1 form(fakes.services);
    form.LoadIni();
    QCOMPARE(Module2::SpareNumber1, read);
    QCOMPARE(form.pos(), QPoint(30, 20));
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

    {
        FakeServices fakes(executable());
        Form1 form(fakes.services);
        form.LoadIni();
        Module2::SpareNumber1 = 42;
        form.panel().HScroll1->setValue(2345);
        QSignalSpy ended(&form, &Form1::programEnded);
        form.Form_Unload();
        QCOMPARE(ended.size(), 1);
        QVERIFY(fakes.dialogs->messages.empty());
    }
    QVERIFY(QFileInfo(configFile()).isFile());
    // Older than the folder in the way, which still is no settings file.
    QFile saved(configFile());
    QVERIFY(saved.open(QIODevice::Append));
    QVERIFY(saved.setFileTime(QDateTime::currentDateTime().addDays(-1),
                              QFileDevice::FileModificationTime));
    saved.close();

    // The next start finds it there.
    Module2::reset();
    FakeServices fakes(executable());
    Form1 form(fakes.services);
    form.LoadIni();
    QCOMPARE(Module2::SpareNumber1, 42);
    QCOMPARE(form.panel().HScroll1->value(), 2345);
}

QTEST_MAIN(TestSettingsFile)
#include "test_settings_file.moc"
