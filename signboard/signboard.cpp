#include "signboard/signboard.h"

#include "common/module2.h"
#include "controls/picture_box.h"
#include "platform/services.h"

#include <QAction>
#include <QCursor>
#include <QEventLoop>
#include <QGuiApplication>
#include <QMenu>
#include <QMouseEvent>

// Only the pattern list, with no label of its own: the dialog shows it as it stands. "*.jpg" is
// there besides "*.jpeg" because most JPEG files end in ".jpg", as the sign list takes them too.
const QString Signboard::kDialogFilter = QStringLiteral("*.bmp *.jpeg *.jpg *.gif *.wmf *.emf");

namespace {
// The frame's fixed thickness: posts 75 twips wide, the bar 60 twips high.
enum Shape
{
    LeftPost = 0,
    RightPost = 1,
    BottomBar = 2
};
constexpr int kPostWidth = 75;
} // namespace

Signboard::Signboard(QWidget &surface, PictureBox &board, std::array<ShapeRect, 3> &frame,
                     Menu menu, platform::Dialogs &dialogs,
                     std::shared_ptr<platform::HelperStarter> pictureWorkers)
    : m_surface(surface), m_board(board), m_frame(frame), m_menu(menu), m_dialogs(dialogs),
      m_pictures(std::move(pictureWorkers))
{}

void Signboard::PicKanban_DblClick()
{
    // The posts also take the board's height, one pixel longer.
    fitFrame(twipSum(m_board.twips().height, kTwipsPerPixel));
}

void Signboard::PicKanban_Resize()
{
    fitFrame(std::nullopt);
}

void Signboard::fitFrame(std::optional<int> postHeight)
{
    const TwipRect b = m_board.twips();
    auto &left = m_frame[LeftPost];
    auto &right = m_frame[RightPost];
    auto &bar = m_frame[BottomBar];
    left.move(twipSum(b.left, -kPostWidth), b.top, left.twips().width,
              postHeight.value_or(left.twips().height));
    right.move(twipSum(b.left, b.width), b.top, right.twips().width,
               postHeight.value_or(right.twips().height));
    bar.move(twipSum(b.left, -kPostWidth), twipSum(b.top, b.height),
             twipSum(b.width, 2 * kPostWidth), bar.twips().height);
}

void Signboard::showStoredPicture()
{
    // The frame fits the board now, and again when its picture has loaded; a picture that cannot
    // be loaded leaves the board empty.
    PicKanban_DblClick();
    showPicture(Module2::KanbanPicPath, false);
}

void Signboard::PicKanban_MouseDown(Qt::MouseButton button, std::optional<QPoint> pressedAt)
{
    if (button == Qt::LeftButton)
        dragBoard(pressedAt.value_or(m_board.mapFromGlobal(QCursor::pos())));
    else if (button == Qt::RightButton)
        m_menu.popup->exec(pressedAt ? m_board.mapToGlobal(*pressedAt) : QCursor::pos());
}

namespace {

// Follows the pointer until the left button is released, moving the board by whole pixels and
// keeping the pointer's spot on the board inside the bus window.
class DragLoop : public QObject
{
public:
    // The board keeps `grabPoint` (board pixels) under the pointer. It is where the button went
    // down: the pointer may have moved on before the press is handled.
    DragLoop(QWidget &surface, PictureBox &board, QPoint grabPoint)
        : m_surface(surface), m_board(board), m_grabPoint(grabPoint)
    {}

    void run()
    {
        if (!(QGuiApplication::mouseButtons() & Qt::LeftButton))
            return; // released before we got here
        m_board.installEventFilter(this);
        m_board.grabMouse();
        m_loop.exec();
        m_board.releaseMouse();
        m_board.removeEventFilter(this);
    }

protected:
    bool eventFilter(QObject *, QEvent *event) override
    {
        switch (event->type()) {
        case QEvent::MouseMove: {
            const auto *move = static_cast<QMouseEvent *>(event);
            QPoint pointer = m_surface.mapFromGlobal(move->globalPosition().toPoint());
            pointer.setX(qBound(0, pointer.x(), m_surface.width() - 1));
            pointer.setY(qBound(0, pointer.y(), m_surface.height() - 1));
            const QPoint topLeft = pointer - m_grabPoint;
            m_board.setTwips({pixelsToTwips(topLeft.x()), pixelsToTwips(topLeft.y()),
                              m_board.twips().width, m_board.twips().height});
            return true;
        }
        case QEvent::MouseButtonRelease:
            if (static_cast<QMouseEvent *>(event)->button() == Qt::LeftButton)
                m_loop.quit();
            return true;
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonDblClick:
            return true;
        case QEvent::Hide:
        case QEvent::UngrabMouse:
            m_loop.quit();
            return false;
        default:
            return false;
        }
    }

private:
    QWidget &m_surface;
    PictureBox &m_board;
    QPoint m_grabPoint;
    QEventLoop m_loop;
};

} // namespace

void Signboard::dragBoard(QPoint grabPoint)
{
    DragLoop loop(m_surface, m_board, grabPoint);
    loop.run();
}

void Signboard::MnuViewKanban_Click()
{
    const bool checked = m_menu.viewKanban->isChecked();
    m_board.setVisible(!checked);
    m_menu.viewKanban->setChecked(!checked);
}

void Signboard::MnuViewWaku_Click()
{
    const bool checked = m_menu.viewWaku->isChecked();
    for (auto &shape : m_frame)
        shape.setVisible(!checked);
    PicKanban_DblClick();
    m_menu.viewWaku->setChecked(!checked);
}

void Signboard::MnuSetKanban_Click()
{
    const QString chosen = m_dialogs.chooseOpenFile(&m_surface, kDialogFilter, m_lastDialogFile);
    if (chosen.isEmpty())
        return;
    m_lastDialogFile = chosen;
    showPicture(chosen, true);
}

void Signboard::showPicture(const QString &path, bool chosen)
{
    m_lastWasChosen = chosen;
    m_pictures.request(path, m_board.devicePixelRatioF(),
                       [this, path, chosen](std::optional<Picture> picture) {
                           if (!picture || (chosen && picture->isEmpty()))
                               return;
                           m_board.setPicture(std::move(*picture));
                           if (chosen)
                               Module2::setKanbanPicPath(path);
                           PicKanban_DblClick();
                       });
}

void Signboard::MnuKanbanReset_Click()
{
    m_pictures.abandon();
    m_board.setPicture(Picture{});
    m_board.setTwips({kResetLeft, kResetTop, kResetWidth, kResetHeight});
    PicKanban_DblClick();
}
