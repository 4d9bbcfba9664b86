#pragma once

#include "controls/shape_rect.h"
#include "pictures/picture_requests.h"

#include <QPoint>
#include <QString>
#include <array>
#include <optional>

class PictureBox;
class QAction;
class QMenu;
class QWidget;

namespace platform {
class Dialogs;
}

// The user's signboard on the side of the bus: the picture box, its three-piece frame and the
// popup-menu commands that show, hide, choose and reset it.
class Signboard
{
public:
    struct Menu
    {
        QMenu *popup = nullptr;
        QAction *viewKanban = nullptr;
        QAction *viewWaku = nullptr;
    };

    Signboard(QWidget &surface, PictureBox &board, std::array<ShapeRect, 3> &frame, Menu menu,
              platform::Dialogs &dialogs, std::shared_ptr<platform::HelperStarter> pictureWorkers);

    // The re-fit: the frame placed snugly around the board again (also the double-click).
    void PicKanban_DblClick();
    // At start-up: the picture of KanbanPicPath, or the empty board when it cannot be loaded
    // (the path is kept), then the re-fit.
    void showStoredPicture();
    // The follow: raised whenever the board's size changes.
    void PicKanban_Resize();
    // Left button drags the board, right button opens the menu, other buttons do nothing.
    // `pressedAt` is where on the board the button went down; without it, where the pointer is
    // now.
    void PicKanban_MouseDown(Qt::MouseButton button, std::optional<QPoint> pressedAt = {});

    void MnuViewKanban_Click();
    void MnuViewWaku_Click();
    void MnuSetKanban_Click();
    void MnuKanbanReset_Click();

    // Loads `path` into the board. When it has loaded the board shows it, sizes itself to it
    // and the frame is fitted around it; a picture the user `chose` also becomes the signboard
    // picture that is kept. One that cannot be loaded leaves the board as it was.
    void showPicture(const QString &path, bool chosen);
    pictures::PictureRequests &pictures() { return m_pictures; }
    // Whether the picture the user chose last is still loading.
    bool choiceLoading() const { return m_lastWasChosen && m_pictures.busy(); }

    // The pattern list of the picture dialog.
    static const QString kDialogFilter;
    // Where the reset puts the board, in twips.
    static constexpr int kResetLeft = 8790;
    static constexpr int kResetTop = 1680;
    static constexpr int kResetWidth = 1410;
    static constexpr int kResetHeight = 450;

    // The file the picture dialog chose last.
    const QString &lastDialogFile() const { return m_lastDialogFile; }

private:
    void dragBoard(QPoint grabPoint);
    // Puts the frame around the board; the posts keep their height unless given one.
    void fitFrame(std::optional<int> postHeight);

    QWidget &m_surface;
    PictureBox &m_board;
    std::array<ShapeRect, 3> &m_frame;
    Menu m_menu;
    platform::Dialogs &m_dialogs;
    QString m_lastDialogFile;
    bool m_lastWasChosen = false; // the last picture asked for was the user's choice
    pictures::PictureRequests m_pictures;
};
