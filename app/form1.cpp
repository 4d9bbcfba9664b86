#include "app/form1.h"

#include "about/frm_show_version.h"
#include "common/module2.h"
#include "controls/image_control.h"
#include "controls/picture_box.h"
#include "doors/common.h"
#include "doors/door_motion.h"
#include "doors/step_pacer.h"
#include "panel/frm_set.h"
#include "platform/file_names.h"
#include "resources/own_pictures.h"
#include "sign/frm_browse_dir.h"

#include <QAbstractEventDispatcher>
#include <QAction>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QScrollBar>
#include <QStyle>
#include <QTimer>
#include <QWindow>
#include <utility>

namespace {
// The client area: 11250 x 3135 twips.
constexpr QSize kClientSize(750, 209);
const QString kSignPattern = QStringLiteral("*.bmp;*.wmf;*.emf;*.gif;*.jpg;*.jpeg");
const QColor kFrameFill(224, 224, 224);
const QColor kFrameBorder(128, 128, 128);

// The key codes of the sign keys: the arrow keys' own, and those of letters and digits, which Qt
// shares. Every other key gets none: cut to 16 bits, Qt's codes of '&', '(' or Scroll Lock would
// pass for Up and Down.
constexpr int kNoKeyCode = 0;

int windowsKeyCode(int qtKey)
{
    switch (qtKey) {
    case Qt::Key_Left:
        return DestinationSign::kKeyLeft;
    case Qt::Key_Up:
        return DestinationSign::kKeyUp;
    case Qt::Key_Right:
        return DestinationSign::kKeyRight;
    case Qt::Key_Down:
        return DestinationSign::kKeyDown;
    default:
        if ((qtKey >= Qt::Key_A && qtKey <= Qt::Key_Z) ||
            (qtKey >= Qt::Key_0 && qtKey <= Qt::Key_9))
            return qtKey;
        return kNoKeyCode;
    }
}
} // namespace

namespace {
// While the end waits for a picture: the user's input (mouse, keys, wheel, touch) reaches no
// window, and a second close of the bus window ends the wait. (Qt would not tell the window of a
// close while it is closing, and counts the close as user input.)
class EndWait : public QObject
{
public:
    explicit EndWait(QWindow *bus) : m_bus(bus)
    {
        QCoreApplication::instance()->installEventFilter(this);
    }
    void exec(int milliseconds)
    {
        QTimer::singleShot(milliseconds, &m_loop, &QEventLoop::quit);
        m_loop.exec();
    }
    void quit() { m_loop.quit(); }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (watched == m_bus && event->type() == QEvent::Close) {
            m_loop.quit();
            return true;
        }
        return event->isInputEvent();
    }

private:
    QWindow *m_bus;
    QEventLoop m_loop;
};
} // namespace

Form1::Form1(platform::Services &services)
    : QWidget(nullptr, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                           Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint |
                           Qt::MSWindowsFixedSizeDialogHint),
      File1(kSignPattern), m_services(services),
      m_pacer(std::make_unique<RealTimePacer>([this] { return presentStep(); })), m_panel([this] {
          auto *panel = new frmSet(*this);
          panel->installEventFilter(this); // its moves are stored
          return panel;
      }),
      m_browseDir([this] { return new frmBrowseDir(*this); }),
      m_showVersion([this] { return new frmShowVersion(*this); })
{
    setFixedSize(kClientSize);
    setWindowIcon(QIcon(QPixmap::fromImage(ownPicture(QStringLiteral("icon")).image)));
    setAttribute(Qt::WA_OpaquePaintEvent);
    m_bus = ownPicture(QStringLiteral("bus"));

    createDoors();
    createSign();
    createSignboard();
    createMenu();

    // Tab order: the sign box first.
    setTabOrder(Picture1, PicKanban);
    setTabOrder(PicKanban, picSlideBase1);

    Module2::storedTextChanged = [this] { storedValueChanged(); };
    connect(PicKanban, &TwipControl::moved, this, &Form1::storedValueChanged);
    for (QAction *mark : {MnuViewKanban, MnuViewWaku})
        connect(mark, &QAction::toggled, this, &Form1::storedValueChanged);
}

Form1::~Form1()
{
    Module2::storedTextChanged = nullptr;
}

void Form1::waitForPictures()
{
    m_sign->pictures().waitForAnswer();
    if (!m_unloaded) // ended meanwhile
        m_signboard->pictures().waitForAnswer();
}

frmSet &Form1::panel()
{
    return m_panel.get();
}

bool Form1::panelExists() const
{
    return m_panel.exists();
}

frmBrowseDir &Form1::browseDir()
{
    return m_browseDir.get();
}

frmShowVersion &Form1::showVersion()
{
    return m_showVersion.get();
}

void Form1::createDoors()
{
    picSlideBase1 = new PictureBox(this);
    picSlideBase1->setTwips({5265, 615, 1140, 2130});
    picSlideBase1->setPicture(ownPicture(QStringLiteral("door_middle_opening")));
    picSlideBase1->setFocusPolicy(Qt::StrongFocus);

    Image2 = new ImageControl(picSlideBase1, ImageControl::Mode::Natural);
    Image2->setTwips({0, 0, 1140, 2115});
    Image2->setPicture(ownPicture(QStringLiteral("door_middle_leaf")));

    // Element 1 never shows; it is kept because the window has always had it.
    Image1[1] = new ImageControl(this, ImageControl::Mode::Natural);
    Image1[1]->setTwips({1590, 1020, 630, 2055});
    Image1[1]->setPicture(ownPicture(QStringLiteral("panel_hidden")));
    Image1[1]->hide();

    Image1[2] = new ImageControl(this, ImageControl::Mode::Stretch);
    Image1[2]->setTwips({360, 615, doors::kFrontClosedWidth, 2145});
    Image1[2]->setPicture(ownPicture(QStringLiteral("door_front")));
    for (std::size_t index : {std::size_t(1), std::size_t(2)})
        connect(Image1[index], &TwipControl::clicked, this, [this] { Image1_Click(); });
}

void Form1::createSign()
{
    Picture1 = new PictureBox(this);
    Picture1->setTwips({6600, 390, 775, 485});
    Picture1->setBackground(Qt::white);
    Picture1->setFocusPolicy(Qt::StrongFocus);
    connect(Picture1, &TwipControl::clicked, this, [this] { Picture1_Click(); });
    connect(Picture1, &TwipControl::keyPressed, this,
            [this](int key, Qt::KeyboardModifiers) { Picture1_KeyDown(windowsKeyCode(key)); });

    ImgDesiMaku = new ImageControl(Picture1, ImageControl::Mode::Natural);
    ImgDesiMaku->setTwips({0, 0, 780, 480});
    connect(ImgDesiMaku, &TwipControl::clicked, this, [this] { ImgDesiMaku_Click(); });

    m_sign = std::make_unique<DestinationSign>(File1, *ImgDesiMaku, m_services.pictureWorkers);
}

void Form1::createSignboard()
{
    PicKanban = new PictureBox(this);
    PicKanban->setTwips({8850, 1620, 1410, 450});
    PicKanban->setBackground(Qt::white);
    PicKanban->setAutoSize(true);
    PicKanban->setFocusPolicy(Qt::StrongFocus);

    shpK_Waku[0] = ShapeRect(this, {8775, 1605, 75, 495}, kFrameFill, kFrameBorder);
    shpK_Waku[1] = ShapeRect(this, {10260, 1605, 75, 495}, kFrameFill, kFrameBorder);
    shpK_Waku[2] = ShapeRect(this, {8775, 2070, 1560, 60}, kFrameFill, kFrameBorder);
}

void Form1::createMenu()
{
    MnuTempMenu1 = new QMenu(this);
    MnuViewKanban = MnuTempMenu1->addAction(QStringLiteral("看板の表示"));
    MnuViewKanban->setCheckable(true);
    MnuViewKanban->setChecked(true);
    MnuViewWaku = MnuTempMenu1->addAction(QStringLiteral("枠の表示"));
    MnuViewWaku->setCheckable(true);
    MnuViewWaku->setChecked(true);
    MnuSetKanban = MnuTempMenu1->addAction(QStringLiteral("看板の画像を設定..."));
    MnuBdr1 = MnuTempMenu1->addSeparator();
    MnuKanbanReset = MnuTempMenu1->addAction(QStringLiteral("看板のリセット"));

    m_signboard = std::make_unique<Signboard>(
        *this, *PicKanban, shpK_Waku, Signboard::Menu{MnuTempMenu1, MnuViewKanban, MnuViewWaku},
        *m_services.dialogs, m_services.pictureWorkers);
    Signboard &board = *m_signboard;
    // The actions toggle their own check mark before they report; the commands set it themselves.
    const auto command = [this](QAction *action, void (Signboard::*routine)()) {
        connect(action, &QAction::triggered, this, [this, action, routine] {
            if (action->isCheckable())
                action->setChecked(!action->isChecked());
            (m_signboard.get()->*routine)();
        });
    };
    command(MnuViewKanban, &Signboard::MnuViewKanban_Click);
    command(MnuViewWaku, &Signboard::MnuViewWaku_Click);
    command(MnuSetKanban, &Signboard::MnuSetKanban_Click);
    command(MnuKanbanReset, &Signboard::MnuKanbanReset_Click);

    connect(PicKanban, &TwipControl::resized, this, [&board] { board.PicKanban_Resize(); });
    connect(PicKanban, &TwipControl::doubleClicked, this, [&board] { board.PicKanban_DblClick(); });
    connect(PicKanban, &TwipControl::mousePressed, this,
            [&board](Qt::MouseButton button, Qt::KeyboardModifiers, QPointF pos) {
                board.PicKanban_MouseDown(button, pos.toPoint());
            });
}

QString Form1::executableName() const
{
    // Shown as Qt would show the name in a file dialog, bytes that are not UTF-8 as U+FFFD.
    return QFile::decodeName(
        platform::encodeFileName(QFileInfo(m_services.executablePath).completeBaseName()));
}

void Form1::Form_Load()
{
    LoadIni();
    frmSet &settingsPanel = panel();
    m_services.windows->makeTopmost(&settingsPanel);
    if (!m_panelWaitsForBus)
        settingsPanel.show();
    setWindowTitle(QStringLiteral("ロルモ　-　") + executableName());
    Picture1->setFocus();
}

bool Form1::startOnScreen()
{
    m_panelWaitsForBus = true;
    Form_Load();
    // The stored signboard and the first sign are part of the bus as it first shows, as far as
    // they load in their deadline. An end asked for meanwhile ends the program here.
    waitForPictures();
    if (m_unloaded)
        return false;
    // The window exists before it is shown, so that its first exposure is not missed.
    create();
    windowHandle()->installEventFilter(this);
    show();
    activateWindow();
    return true;
}

void Form1::setStepPacer(std::unique_ptr<StepPacer> pacer)
{
    m_pacer = std::move(pacer);
}

bool Form1::presentStep()
{
    // Bring the newest step to the screen; clicks and keys stay queued until the door stops.
    // An end request is no user input: it is handled here, and the door stops where it is.
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    return !m_unloaded;
}

void Form1::resumeHeldInput()
{
    // The window system keeps the input held back during a movement aside and looks at it again
    // only when the event loop is woken; without this a click made during the movement would
    // wait for the next mouse move or key press.
    if (auto *dispatcher = QCoreApplication::eventDispatcher())
        dispatcher->wakeUp();
}

void Form1::Check1_Click()
{
    // Once the program is ending, a click still queued behind the end starts no movement.
    if (m_unloaded)
        return;
    frmSet &settingsPanel = panel();
    ImageControl &door = *Image1[2];
    doors::moveFrontDoor(
        settingsPanel.frontDoorOpen(), door.twips().width,
        [&door](int width) { door.setWidth(width); },
        [&settingsPanel] { return settingsPanel.frontSpeed(); }, *m_pacer);
    resumeHeldInput();
}

void Form1::Check2_Click()
{
    if (m_unloaded)
        return;
    frmSet &settingsPanel = panel();
    const bool open = settingsPanel.middleDoorOpen();
    Common::PlayWaveRes(Common::kDoorSound, *m_services.sound);
    ImageControl &leaf = *Image2;
    doors::moveMiddleDoor(
        open, [&leaf](int left) { leaf.setLeft(left); },
        [&settingsPanel] { return settingsPanel.middleSpeed(); }, *m_pacer);
    resumeHeldInput();
}

void Form1::HScroll1_Change()
{
    panel().showFrontSpeed();
    storedValueChanged();
}

void Form1::HScroll2_Change()
{
    panel().showMiddleSpeed();
    storedValueChanged();
}

void Form1::MnuEditHkPic_Click()
{
    frmBrowseDir &chooser = browseDir();
    chooser.Text1->setText(Module2::HkPicDir);
    chooser.exec();
}

void Form1::MnuHelpVer_Click()
{
    showVersion().exec();
}

FileList::Result Form1::picDir()
{
    return File1.setPath(Module2::HkPicDir);
}

void Form1::Form_MouseDown(Qt::MouseButton button, std::optional<QPoint> pressedAt)
{
    if (button == Qt::RightButton)
        MnuTempMenu1->exec(pressedAt ? mapToGlobal(*pressedAt) : QCursor::pos());
}

void Form1::Image1_Click()
{
    Picture1->setFocus();
}

void Form1::ImgDesiMaku_Click()
{
    Picture1->setFocus();
}

void Form1::Picture1_Click()
{
    Picture1->setFocus();
}

void Form1::Picture1_KeyDown(int keyCode)
{
    m_sign->keyDown(keyCode);
}

void Form1::Form_Unload()
{
    if (m_unloaded)
        return;
    m_unloaded = true;
    // The user chose a signboard and nothing has failed: the end waits for it, so that the
    // settings keep it once it has loaded.
    if (m_signboard->choiceLoading()) {
        EndWait wait(windowHandle());
        connect(&m_signboard->pictures(), &pictures::PictureRequests::answered, &wait,
                &EndWait::quit);
        wait.exec(pictures::kPictureDeadlineMs);
    }
    SaveIni();
    Q_EMIT programEnded();
}

int Form1::leftTwips() const
{
    return pixelsToTwips(pos().x());
}

int Form1::topTwips() const
{
    return pixelsToTwips(pos().y());
}

int Form1::outerHeightTwips() const
{
    const int frameHeight = frameGeometry().height();
    if (isVisible() && frameHeight > height())
        return pixelsToTwips(frameHeight);
    // Not mapped yet, so the window system has not told us its frame: estimate it.
    const int titleBar = style()->pixelMetric(QStyle::PM_TitleBarHeight);
    return pixelsToTwips(height() + titleBar + 2 * 4);
}

void Form1::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.drawImage(QRectF(QPointF(0, 0), QSizeF(m_bus.sizeTwips) / kTwipsPerPixel), m_bus.image);
    for (const ShapeRect &shape : shpK_Waku)
        shape.paint(painter);
}

QPoint Form1::panelPlaceBelowWindow() const
{
    return {0, outerHeightTwips() / kTwipsPerPixel};
}

void Form1::placePanel(std::optional<QPoint> storedPlace)
{
    m_panelAtDefaultPlace = !storedPlace;
    panel().move(storedPlace.value_or(panelPlaceBelowWindow()));
}

void Form1::storedValueChanged()
{
    // Once saved, the settings are what they were at the end.
    if (m_unloaded || std::exchange(m_settingsLineDue, true))
        return;
    QMetaObject::invokeMethod(
        this,
        [this] {
            m_settingsLineDue = false;
            Q_EMIT settingsLineChanged(settingsLine());
        },
        Qt::QueuedConnection);
}

void Form1::moveEvent(QMoveEvent *event)
{
    storedValueChanged();
    QWidget::moveEvent(event);
}

bool Form1::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::Move && watched == m_panel.peek())
        storedValueChanged();
    if (watched == windowHandle()) {
        switch (event->type()) {
        case QEvent::Expose:
        case QEvent::Move:
        case QEvent::Resize:
            // After the window has taken the event in: it brings the frame's size with it.
            QMetaObject::invokeMethod(this, &Form1::settlePanel, Qt::QueuedConnection);
            break;
        default:
            break;
        }
    }
    return QWidget::eventFilter(watched, event);
}

void Form1::settlePanel()
{
    QWindow *window = windowHandle();
    frmSet *settingsPanel = m_panel.peek();
    if (!window || !settingsPanel)
        return;
    if (m_panelWaitsForBus && !window->isExposed())
        return;
    // The frame's height is known only once the window system has framed the window.
    if (m_panelAtDefaultPlace && frameGeometry().height() > height()) {
        m_panelAtDefaultPlace = false;
        settingsPanel->move(panelPlaceBelowWindow());
    }
    if (m_panelWaitsForBus) {
        m_panelWaitsForBus = false;
        // The bus keeps the keyboard focus.
        settingsPanel->setAttribute(Qt::WA_ShowWithoutActivating);
        settingsPanel->show();
        settingsPanel->setAttribute(Qt::WA_ShowWithoutActivating, false);
    }
    if (!m_panelWaitsForBus && !m_panelAtDefaultPlace)
        window->removeEventFilter(this);
}

void Form1::mousePressEvent(QMouseEvent *event)
{
    Form_MouseDown(event->button(), event->position().toPoint());
}

void Form1::closeEvent(QCloseEvent *event)
{
    event->accept();
    Form_Unload();
}
