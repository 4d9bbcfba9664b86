#pragma once

#include "common/bus_routines.h"
#include "common/lazy_window.h"
#include "controls/file_list.h"
#include "controls/shape_rect.h"
#include "pictures/picture.h"
#include "platform/services.h"
#include "sign/destination_sign.h"
#include "signboard/signboard.h"

#include <QWidget>
#include <array>
#include <memory>
#include <optional>

class ImageControl;
class PictureBox;
class QAction;
class QMenu;
class StepPacer;
class frmBrowseDir;
class frmSet;
class frmShowVersion;

// The bus window: the side view of the bus with its doors, destination sign and signboard, and
// the routines through which the other windows act on it.
class Form1 : public QWidget, public BusRoutines
{
    Q_OBJECT
public:
    explicit Form1(platform::Services &services);
    ~Form1() override;

    // Start-up, before the window is first shown: settings, panel, caption.
    void Form_Load();
    // The program's own start: the start-up sequence, then the window shown and activated. The
    // panel comes onto the screen right after the bus has been drawn, so the bus, the face of
    // the program, is there first and the panel can be placed by the bus's real frame.
    // False when the program was asked to end before the window could show.
    bool startOnScreen();

    // Routines for the other windows.
    void Check1_Click() override;
    void Check2_Click() override;
    void HScroll1_Change() override;
    void HScroll2_Change() override;
    void MnuEditHkPic_Click() override;
    void MnuHelpVer_Click() override;
    FileList::Result picDir() override;
    void SaveIni();
    void LoadIni();
    // The line SaveIni would write now, and the file it would write it to (empty: none).
    QByteArray settingsLine();
    QString settingsFileToWrite() const;

    // Event handlers of the window itself.
    // The menu opens where the button went down (the pointer may have moved on meanwhile).
    void Form_MouseDown(Qt::MouseButton button, std::optional<QPoint> pressedAt = {});
    void Form_Unload();
    void Image1_Click();
    void ImgDesiMaku_Click();
    void Picture1_Click();
    void Picture1_KeyDown(int keyCode);

    // The other windows, created on first touch.
    frmSet &panel();
    bool panelExists() const;
    frmBrowseDir &browseDir();
    frmShowVersion &showVersion();

    platform::Services &services() override { return m_services; }
    DestinationSign &sign() override { return *m_sign; }
    QWidget *busWindow() override { return this; }
    Signboard &signboard() { return *m_signboard; }
    // Waits until the sign's and the signboard's pictures asked for so far are shown or refused.
    void waitForPictures();

    // The executable's name without folder and extension.
    QString executableName() const override;
    // The settings file beside the executable, named after it. (An installed program, or one
    // in a read-only folder, keeps its settings in the user's configuration folder instead.)
    QString settingsFilePath() const;

    // Tests pace door movements themselves.
    void setStepPacer(std::unique_ptr<StepPacer> pacer);

    // The window's Left and Top in twips (its frame's top-left corner on the screen).
    int leftTwips() const;
    int topTwips() const;
    // The window's outer height in twips, title bar and borders included.
    int outerHeightTwips() const;

    // Controls.
    PictureBox *picSlideBase1 = nullptr;
    ImageControl *Image2 = nullptr;
    std::array<ImageControl *, 3> Image1{}; // elements 1 and 2
    PictureBox *Picture1 = nullptr;
    ImageControl *ImgDesiMaku = nullptr;
    FileList File1;
    PictureBox *PicKanban = nullptr;
    std::array<ShapeRect, 3> shpK_Waku;
    QMenu *MnuTempMenu1 = nullptr;
    QAction *MnuViewKanban = nullptr;
    QAction *MnuViewWaku = nullptr;
    QAction *MnuSetKanban = nullptr;
    QAction *MnuBdr1 = nullptr;
    QAction *MnuKanbanReset = nullptr;

    // Raised when the unload has finished and the program should end.
    Q_SIGNAL void programEnded();
    // Raised when SaveIni is about to write this line to this file.
    Q_SIGNAL void savingSettings(const QString &path, const QByteArray &line);
    // Raised after a stored value has changed, once the program has handled what happened (a
    // drag's many moves make one line): the line SaveIni would write now.
    Q_SIGNAL void settingsLineChanged(const QByteArray &line);

protected:
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    void moveEvent(QMoveEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    // LoadIni in three steps: read the record, apply it, or fall back to the defaults.
    struct StoredSettings;
    static std::optional<StoredSettings> readSettings(const QString &path);
    bool applySettings(const StoredSettings &stored);
    void applyDefaultSettings();

    void createDoors();
    void createSign();
    void createSignboard();
    void createMenu();
    // Shows the newest step of a door movement; false once the program is ending.
    bool presentStep();
    void resumeHeldInput();
    // A value that the settings file stores has changed: the line is built anew.
    void storedValueChanged();

    // The panel's place: the stored one, or below the window by default. A panel at its default
    // place moves below the window's real frame once the window system has put one around it.
    void placePanel(std::optional<QPoint> storedPlace);
    QPoint panelPlaceBelowWindow() const;
    // At the program's start, after each exposure, move or resize of the window until done:
    // shows the waiting panel once the window is on the screen, and follows the frame.
    void settlePanel();

    platform::Services &m_services;
    Picture m_bus;
    std::unique_ptr<StepPacer> m_pacer;
    LazyWindow<frmSet> m_panel;
    LazyWindow<frmBrowseDir> m_browseDir;
    LazyWindow<frmShowVersion> m_showVersion;
    std::unique_ptr<DestinationSign> m_sign;
    std::unique_ptr<Signboard> m_signboard;
    bool m_panelAtDefaultPlace = false; // below the window, before its frame is known
    bool m_panelWaitsForBus = false;    // to be shown once the window is on the screen
    bool m_unloaded = false;
    bool m_settingsLineDue = false; // a new line is on its way
};
