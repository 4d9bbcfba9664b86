// The settings file: read once at start-up, written once at exit.

#include "app/form1.h"
#include "app/module2.h"
#include "app/settings_record.h"
#include "panel/frm_set.h"
#include "platform/controls/picture_box.h"
#include "platform/install_layout.h"

#include <QAction>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QRadioButton>
#include <QSaveFile>
#include <QScreen>
#include <QScrollBar>
#include <QStandardPaths>
#include <limits>

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

// A speed as the scroll bars take it: a 16-bit value within their range.
bool applySpeed(QScrollBar &bar, qint32 value)
{
    if (value < std::numeric_limits<qint16>::min() || value > std::numeric_limits<qint16>::max())
        return false;
    if (value < bar.minimum() || value > bar.maximum())
        return false;
    bar.setValue(value);
    return true;
}

} // namespace

QString Form1::settingsFilePath() const
{
    const QFileInfo executable(m_services.executablePath);
    return QDir(executable.absolutePath())
        .filePath(executable.completeBaseName() + QStringLiteral(".ini"));
}

void Form1::LoadIni()
{
    const QString besideExecutable = settingsFilePath();
    // An installed program keeps its settings in the user's configuration folder instead; the
    // newer of the two wins when both exist. A folder in the way beside the executable is what
    // sent the last save there, so it does not count.
    QString path = besideExecutable;
    const QString inConfig = configFolderPath(QFileInfo(besideExecutable).fileName());
    if (!inConfig.isEmpty() && QFileInfo(inConfig).isFile() &&
        (!QFileInfo(besideExecutable).isFile() ||
         QFileInfo(inConfig).lastModified() > QFileInfo(besideExecutable).lastModified()))
        path = inConfig;

    frmSet &settingsPanel = panel();
    const auto failurePath = [&] {
        move(0, 0);
        settingsPanel.move(0, outerHeightTwips() / kTwipsPerPixel);
        m_panelAtDefaultPlace = true;
        m_signboard->MnuKanbanReset_Click();
        settingsPanel.HScroll1->setValue(kDefaultFrontSpeed);
        settingsPanel.HScroll2->setValue(kDefaultMiddleSpeed);
        settingsPanel.Option1[0]->setChecked(true);
    };

    QFile file(path);
    const QFileInfo info(path);
    if (!info.isFile() || !file.open(QIODevice::ReadOnly)) {
        failurePath();
        return;
    }
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
    if (!complete) {
        failurePath();
        return;
    }

    // A place on a screen that is gone would leave the window out of reach.
    const QPoint mainPlace = twipsToPixels(mainLeft, mainTop);
    move(onSomeScreen(mainPlace, frameGeometry().size()) ? mainPlace : QPoint(0, 0));
    const QPoint panelPlace = twipsToPixels(panelLeft, panelTop);
    if (onSomeScreen(panelPlace, settingsPanel.frameGeometry().size())) {
        settingsPanel.move(panelPlace);
    } else {
        settingsPanel.move(0, outerHeightTwips() / kTwipsPerPixel);
        m_panelAtDefaultPlace = true;
    }

    PicKanban->setVisible(viewKanban);
    MnuViewKanban->setChecked(viewKanban);
    for (ShapeRect &shape : shpK_Waku)
        shape.setVisible(viewWaku);
    MnuViewWaku->setChecked(viewWaku);
    PicKanban->setTwips(
        {kanbanLeft, kanbanTop, PicKanban->twips().width, PicKanban->twips().height});

    // The frame fits the board now, and again when its picture has loaded; a picture that cannot
    // be loaded leaves the board empty.
    m_signboard->PicKanban_DblClick();
    m_signboard->showPicture(Module2::KanbanPicPath, false);

    if (!applySpeed(*settingsPanel.HScroll1, frontSpeed) ||
        !applySpeed(*settingsPanel.HScroll2, middleSpeed)) {
        failurePath();
        return;
    }

    // No sign folder was ever chosen: nothing to point the list at, and nothing lost for it.
    if (!Module2::HkPicDir.isEmpty()) {
        if (picDir().failure != FileList::Failure::None) {
            failurePath();
            return;
        }
        DestinationSign::applySeparator();
        if (!m_sign->showFileAt(0)) {
            failurePath();
            return;
        }
    }

    if (Module2::NakaMode < 0 || Module2::NakaMode > 2) {
        failurePath();
        return;
    }
    settingsPanel.Option1[std::size_t(Module2::NakaMode)]->setChecked(true);
}

void Form1::SaveIni()
{
    frmSet &settingsPanel = panel();
    const int nakaMode = settingsPanel.selectedOption();

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
    record.whole(settingsPanel.HScroll1->value());
    record.whole(settingsPanel.HScroll2->value());
    record.whole(nakaMode);
    const QByteArray line = record.finish();

    // Written whole or not at all: the old file stays until the new line is complete.
    const auto save = [&line](const QString &path, QString &error) {
        QSaveFile file(path);
        if (file.open(QIODevice::WriteOnly) && file.write(line) == line.size() && file.commit())
            return true;
        error = file.errorString();
        return false;
    };
    const QString besideExecutable = settingsFilePath();
    // An installed program's folder belongs to the system even where this user may write to it
    // (root and /usr/bin): its settings go to the user's configuration folder.
    const bool installed = platform::isInstalledProgram(QFileInfo(besideExecutable).absolutePath());
    QString error;
    if (!installed && save(besideExecutable, error))
        return;
    // The executable's folder cannot hold it: the user's configuration folder can.
    const QString inConfig = configFolderPath(QFileInfo(besideExecutable).fileName());
    QString configError;
    if (!inConfig.isEmpty() && QDir().mkpath(QFileInfo(inConfig).absolutePath()) &&
        save(inConfig, configError))
        return;
    m_services.dialogs->message(
        nullptr, kAppTitle,
        QStringLiteral("設定を保存できませんでした。\r\n%1\r\n%2")
            .arg(QDir::toNativeSeparators(installed ? inConfig : besideExecutable),
                 installed ? configError : error),
        platform::MessageIcon::Critical);
}
