// The settings file: read once at start-up, written once at exit. (main.cpp keeps the line
// ready meanwhile for an end that skips the normal save.)

#include "app/form1.h"
#include "app/settings_record.h"
#include "common/module2.h"
#include "common/window_util.h"
#include "controls/picture_box.h"
#include "panel/frm_set.h"
#include "platform/file_names.h"
#include "platform/file_save.h"
#include "platform/install_layout.h"

#include <QAction>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QScreen>
#include <QStandardPaths>

namespace {

constexpr qint64 kMaxSettingsFileBytes = 1024 * 1024;
constexpr int kDefaultFrontSpeed = 10000;
constexpr int kDefaultMiddleSpeed = 6000;

QString configFolderPath(const QString &fileName)
{
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::AppConfigLocation);
    return folder.isEmpty() ? QString() : QDir(folder).filePath(fileName);
}

// Whether a window of this size placed at this spot would show on any screen at all.
bool onSomeScreen(const QPoint &place, const QSize &size)
{
    const QRect area(place, size);
    const auto screens = QGuiApplication::screens();
    if (screens.isEmpty())
        return true;
    for (const QScreen *screen : screens) {
        if (screen->geometry().intersects(area))
            return true;
    }
    return false;
}

QPoint twipsToPixels(qint32 left, qint32 top)
{
    return {int(qRound64(left / double(kTwipsPerPixel))),
            int(qRound64(top / double(kTwipsPerPixel)))};
}

// A copy of the program in a folder it may write to keeps its settings beside itself and reads
// no other file, so that copies never take each other's settings. An installed program, or one
// whose folder is read-only, keeps them in the user's configuration folder.
bool keepsSettingsBeside(const QString &besideExecutable)
{
    const QString folder = QFileInfo(besideExecutable).absolutePath();
    return !platform::isInstalledProgram(folder) && platform::isWritableFolder(folder);
}

QString settingsFileToRead(const QString &besideExecutable)
{
    if (keepsSettingsBeside(besideExecutable))
        return besideExecutable;
    const QString inConfig = configFolderPath(QFileInfo(besideExecutable).fileName());
    // A copy on a read-only medium may bring a file beside it for its first start.
    const bool installed = platform::isInstalledProgram(QFileInfo(besideExecutable).absolutePath());
    if (inConfig.isEmpty() || (!installed && !platform::isFile(inConfig)))
        return besideExecutable;
    return inConfig;
}

// No sign folder was ever chosen: empty, or the bare separator that a key on the sign box adds.
bool isNoFolder(const QString &folder)
{
    return folder.isEmpty() || folder == QString(QDir::separator());
}

} // namespace

// The record as read, before it is applied. The texts and the spare numbers go straight to their
// program-wide variables.
struct Form1::StoredSettings
{
    qint32 mainLeft = 0, mainTop = 0, panelLeft = 0, panelTop = 0;
    qint32 kanbanLeft = 0, kanbanTop = 0, frontSpeed = 0, middleSpeed = 0;
    bool viewKanban = false, viewWaku = false;
};

QString Form1::settingsFilePath() const
{
    const QFileInfo executable(m_services.executablePath);
    return QDir(executable.absolutePath())
        .filePath(executable.completeBaseName() + QStringLiteral(".ini"));
}

void Form1::LoadIni()
{
    const auto stored = readSettings(settingsFileToRead(settingsFilePath()));
    // A file that is missing or short, or a value out of range: the defaults, over what was
    // applied before.
    if (!stored || !applySettings(*stored))
        applyDefaultSettings();
    storedValueChanged();
}

std::optional<Form1::StoredSettings> Form1::readSettings(const QString &path)
{
    QFile file;
    if (!platform::openRegularFile(file, path))
        return std::nullopt;
    settings::RecordReader reader(file.read(kMaxSettingsFileBytes));
    file.close();

    qint32 mainLeft = 0, mainTop = 0, panelLeft = 0, panelTop = 0;
    qint32 kanbanLeft = 0, kanbanTop = 0, frontSpeed = 0, middleSpeed = 0;
    bool viewKanban = false, viewWaku = false;
    // Each value lands as soon as it is read, so a short file has filled what came before.
    const bool complete =
        reader.position(mainLeft) && reader.position(mainTop) && reader.position(panelLeft) &&
        reader.position(panelTop) && reader.text(Module2::HkPicDir) &&
        reader.text(Module2::SpareText) && reader.whole(Module2::SpareNumber1) &&
        reader.whole(Module2::SpareNumber2) && reader.text(Module2::KanbanPicPath) &&
        reader.position(kanbanLeft) && reader.position(kanbanTop) && reader.yesNo(viewKanban) &&
        reader.yesNo(viewWaku) && reader.whole(frontSpeed) && reader.whole(middleSpeed) &&
        reader.whole16(Module2::NakaMode);
    if (!complete)
        return std::nullopt;
    return StoredSettings{mainLeft,  mainTop,    panelLeft,   panelTop,   kanbanLeft,
                          kanbanTop, frontSpeed, middleSpeed, viewKanban, viewWaku};
}

bool Form1::applySettings(const StoredSettings &stored)
{
    frmSet &settingsPanel = panel();
    // A place on a screen that is gone would leave the window out of reach.
    const QPoint mainPlace = twipsToPixels(stored.mainLeft, stored.mainTop);
    move(onSomeScreen(mainPlace, frameGeometry().size()) ? mainPlace : QPoint(0, 0));
    const QPoint panelPlace = twipsToPixels(stored.panelLeft, stored.panelTop);
    placePanel(onSomeScreen(panelPlace, settingsPanel.frameGeometry().size())
                   ? std::optional(panelPlace)
                   : std::nullopt);

    PicKanban->setVisible(stored.viewKanban);
    MnuViewKanban->setChecked(stored.viewKanban);
    for (ShapeRect &shape : shpK_Waku)
        shape.setVisible(stored.viewWaku);
    MnuViewWaku->setChecked(stored.viewWaku);
    PicKanban->setTwips(
        {stored.kanbanLeft, stored.kanbanTop, PicKanban->twips().width, PicKanban->twips().height});
    // The pictures may live on a stick that is not plugged in today: a picture or folder that is
    // not there leaves the signboard or the sign empty, and everything else as stored. The paths
    // keep their text, so the pictures come back the day the files do.
    m_signboard->showStoredPicture();

    if (!settingsPanel.setFrontSpeed(stored.frontSpeed) ||
        !settingsPanel.setMiddleSpeed(stored.middleSpeed))
        return false;

    if (!isNoFolder(Module2::HkPicDir) && picDir().failure == FileList::Failure::None) {
        DestinationSign::applySeparator();
        m_sign->showFileAt(0);
    }

    if (Module2::NakaMode < 0 || Module2::NakaMode > 2)
        return false;
    settingsPanel.selectOption(Module2::NakaMode);
    return true;
}

void Form1::applyDefaultSettings()
{
    frmSet &settingsPanel = panel();
    move(0, 0);
    placePanel(std::nullopt);
    m_signboard->MnuKanbanReset_Click();
    settingsPanel.setFrontSpeed(kDefaultFrontSpeed);
    settingsPanel.setMiddleSpeed(kDefaultMiddleSpeed);
    settingsPanel.selectOption(0);
}

QByteArray Form1::settingsLine()
{
    frmSet &settingsPanel = panel();
    settings::RecordWriter record;
    record.position(float(leftTwips()));
    record.position(float(topTwips()));
    record.position(float(pixelsToTwips(settingsPanel.pos().x())));
    record.position(float(pixelsToTwips(settingsPanel.pos().y())));
    record.text(Module2::HkPicDir);
    record.text(Module2::SpareText);
    record.whole(Module2::SpareNumber1);
    record.whole(Module2::SpareNumber2);
    record.text(Module2::KanbanPicPath);
    record.position(float(PicKanban->twips().left));
    record.position(float(PicKanban->twips().top));
    record.yesNo(MnuViewKanban->isChecked());
    record.yesNo(MnuViewWaku->isChecked());
    record.whole(settingsPanel.frontSpeed());
    record.whole(settingsPanel.middleSpeed());
    record.whole(settingsPanel.selectedOption());
    return record.finish();
}

QString Form1::settingsFileToWrite() const
{
    const QString besideExecutable = settingsFilePath();
    return keepsSettingsBeside(besideExecutable)
               ? besideExecutable
               : configFolderPath(QFileInfo(besideExecutable).fileName());
}

void Form1::SaveIni()
{
    const QByteArray line = settingsLine();
    const QString path = settingsFileToWrite();
    if (!path.isEmpty() && path != settingsFilePath())
        QDir().mkpath(QFileInfo(path).absolutePath());
    Q_EMIT savingSettings(path, line);
    // Written whole or not at all: on any failure the old file stays as it was.
    const QString error = path.isEmpty() ? QStringLiteral("No configuration folder")
                                         : platform::saveFileWhole(path, line);
    if (error.isEmpty())
        return;
    m_services.dialogs->message(nullptr, kAppTitle,
                                QStringLiteral("設定を保存できませんでした。\r\n%1\r\n%2")
                                    .arg(QDir::toNativeSeparators(path), error),
                                platform::MessageIcon::Critical);
}
