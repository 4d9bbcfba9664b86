#include "app/form1.h"
#include "common/module2.h"
#include "controls/picture_box.h"
#include "signboard/signboard.h"
#include "support/fakes.h"

#include <QAction>
#include <QDir>
#include <QMenu>
#include <QTest>
#include <limits>

using Frame = std::array<TwipRect, 3>;

class TestSignboard : public QObject
{
    Q_OBJECT

    std::unique_ptr<FakeBus> m_bus;
    QString m_wide; // 200 x 50 pixels

    Form1 &form() { return m_bus->form; }
    PictureBox &board() { return *m_bus->form.PicKanban; }
    TwipRect boardRect() { return board().twips(); }
    Frame frame() { return m_bus->frame(); }
    Frame fitted() { return m_bus->fittedFrame(); }
    int framePieces() { return m_bus->framePiecesShown(); }
    bool showForm()
    {
        form().show();
        return QTest::qWaitForWindowExposed(&form());
    }
    void choose(const QString &file)
    {
        m_bus->fakes.dialogs->fileAnswer = file;
        form().MnuSetKanban->trigger();
        form().waitForPictures();
    }
    // Moves the board as a drag does: place only, no re-fit.
    void drag(int left, int top)
    {
        board().setTwips({left, top, boardRect().width, boardRect().height});
    }

private Q_SLOTS:
    void init()
    {
        m_bus = std::make_unique<FakeBus>();
        m_wide = m_bus->path("wide.bmp");
        QVERIFY(putPicture(m_wide, {200, 50}));
    }
    void cleanup() { m_bus.reset(); }

    // A size change alone (raised by the board) moves the frame but leaves the posts' height;
    // a drag leaves it behind until a double-click re-fits it (the whole-day X test does both
    // with the real pointer). The middle button does nothing.
    void frameFollowsSizeNotPlace()
    {
        choose(m_wide);
        board().setTwips({1000, 600, 1500, 300});
        board().setTwips({1000, 600, 1500, 450}); // the height alone
        QCOMPARE(frame(), (Frame{TwipRect{925, 600, 75, 765}, TwipRect{2500, 600, 75, 765},
                                 TwipRect{925, 1050, 1650, 60}}));
        const Frame before = frame();
        drag(600, 900);
        QCOMPARE(frame(), before);
        form().signboard().PicKanban_MouseDown(Qt::MiddleButton);
        QTest::mouseClick(&board(), Qt::MiddleButton, {}, QPoint(3, 3));
        QCOMPARE(boardRect(), (TwipRect{600, 900, 1500, 450}));
        QCOMPARE(frame(), before);
        QVERIFY(!form().MnuTempMenu1->isVisible());
        QTest::mouseDClick(&board(), Qt::LeftButton, {}, QPoint(2, 2));
        QCOMPARE(frame(), fitted());
        // At the ends of the 32-bit range (a settings file may hold any place) it stops there.
        constexpr int max = std::numeric_limits<int>::max(), min = std::numeric_limits<int>::min();
        drag(max - 10, min);
        form().signboard().PicKanban_DblClick();
        QCOMPARE(frame(), (Frame{TwipRect{max - 85, min, 75, 465}, TwipRect{max, min, 75, 465},
                                 TwipRect{max - 85, min + 450, 1650, 60}}));
    }

    // The board command leaves the frame alone; the frame command re-fits it, wherever the board
    // was dragged, and leaves the board alone.
    void showHideCommands()
    {
        QVERIFY(showForm());
        choose(m_wide);
        for (const bool on : {false, true}) {
            drag(on ? 100 : 200, on ? 50 : 300);
            const Frame frameBefore = frame();
            const TwipRect boardBefore = boardRect();
            form().MnuViewKanban->trigger();
            QCOMPARE(board().isVisible(), on);
            QCOMPARE(form().MnuViewKanban->isChecked(), on);
            QCOMPARE(frame(), frameBefore);
            QCOMPARE(framePieces(), on ? 0 : 3);
            form().MnuViewWaku->trigger();
            QCOMPARE(framePieces(), on ? 3 : 0);
            QCOMPARE(form().MnuViewWaku->isChecked(), on);
            QCOMPARE(frame(), fitted());
            QCOMPARE(boardRect(), boardBefore);
            QCOMPARE(board().isVisible(), on);
        }
    }

    // A cancelled or failed choice changes nothing.
    void chooseAPicture_data()
    {
        QTest::addColumn<QString>("answer");
        QTest::newRow("cancelled") << QString();
        QTest::newRow("folder") << "folder.jpg";
    }
    void chooseAPicture()
    {
        QFETCH(QString, answer);
        if (!answer.isEmpty())
            QVERIFY(QDir().mkpath(answer = m_bus->path(answer)));
        // A picture sizes the board where it stands and re-fits the frame.
        drag(900, 300);
        choose(m_wide);
        QCOMPARE(boardRect(), (TwipRect{900, 300, 3000, 750}));
        QCOMPARE(board().picture().image.size(), QSize(200, 50));
        QCOMPARE(frame(), fitted());
        // The dialog offers every picture kind, and nothing but their patterns.
        QStringList patterns = m_bus->fakes.dialogs->lastFilterAsked.split(u' ');
        patterns.sort();
        QCOMPARE(patterns, (QStringList{"*.bmp", "*.emf", "*.gif", "*.jpeg", "*.jpg", "*.wmf"}));

        drag(500, 400); // the frame stays behind, so a stray re-fit would show
        const Frame frameBefore = frame();
        const TwipRect boardBefore = boardRect();
        const QImage pictureBefore = board().picture().image;
        choose(answer);
        QCOMPARE(board().picture().image, pictureBefore);
        QCOMPARE(boardRect(), boardBefore);
        QCOMPARE(frame(), frameBefore);
        QCOMPARE(Module2::KanbanPicPath, m_wide);
        QVERIFY(m_bus->fakes.dialogs->messages.empty());
        // The dialog opens at the file chosen last, also after a failed choice.
        QCOMPARE(m_bus->fakes.dialogs->lastFileAsked, m_wide);
        if (!answer.isEmpty()) {
            choose(QString());
            QCOMPARE(m_bus->fakes.dialogs->lastFileAsked, answer);
        }
    }

    // A picture chosen while hidden sizes the board and re-fits the frame all the same; reset
    // brings back the empty board at its first place but keeps the file and what is hidden.
    void reset()
    {
        QVERIFY(showForm());
        form().MnuViewKanban->trigger();
        form().MnuViewWaku->trigger();
        drag(300, 200);
        choose(m_wide);
        QCOMPARE(board().picture().image.size(), QSize(200, 50));
        QCOMPARE(frame(), fitted());
        form().MnuKanbanReset->trigger();
        QVERIFY(board().picture().isEmpty());
        QCOMPARE(boardRect(), (TwipRect{8790, 1680, 1410, 450}));
        QCOMPARE(frame(), fitted());
        QCOMPARE(Module2::KanbanPicPath, m_wide);
        QVERIFY(!board().isVisible() && !form().MnuViewKanban->isChecked());
        QVERIFY(framePieces() == 0 && !form().MnuViewWaku->isChecked());
    }

    // Each shape's top row and left column are outline, also where the bar runs out of the window.
    void frameOutlineIsWhole()
    {
        for (const int left : {8850, 10650}) {
            drag(left, 1620); // clear of the doors and the sign box, which would cover the frame
            form().signboard().PicKanban_DblClick();
            const QImage shot = form().grab().toImage();
            for (const TwipRect &shape : frame()) {
                const QRect pixels = shape.coveringPixels() & shot.rect();
                for (const QPoint &step : {QPoint(1, 0), QPoint(0, 1)})
                    for (QPoint at = pixels.topLeft(); pixels.contains(at); at += step)
                        QCOMPARE(QColor(shot.pixel(at)), QColor(128, 128, 128));
            }
        }
    }
};

QTEST_MAIN(TestSignboard)
#include "test_signboard.moc"
