#include "app/form1.h"
#include "app/module2.h"
#include "platform/controls/picture_box.h"
#include "signboard/signboard.h"
#include "support/fakes.h"

#include <QAction>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QMenu>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

namespace {

QString makePicture(const QString &path, int width, int height, const char *format = "BMP")
{
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(QColor::fromHsv((width * 37) % 360, 200, 200));
    if (!image.save(path, format))
        qFatal("cannot write %s", qPrintable(path));
    return path;
}

// The frame as the re-fit places it around a board.
std::array<TwipRect, 3> fitted(const TwipRect &b)
{
    return {TwipRect{b.left - 75, b.top, 75, b.height + 15},
            TwipRect{b.left + b.width, b.top, 75, b.height + 15},
            TwipRect{b.left - 75, b.top + b.height, b.width + 150, 60}};
}

} // namespace

class TestSignboard : public QObject
{
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<FakeServices> m_fakes;
    std::unique_ptr<Form1> m_form;
    QString m_wide; // 200 x 50 pixels

    Form1 &form() { return *m_form; }
    PictureBox &board() { return *m_form->PicKanban; }
    TwipRect boardRect() { return board().twips(); }
    std::array<TwipRect, 3> frame()
    {
        return {form().shpK_Waku[0].twips(), form().shpK_Waku[1].twips(),
                form().shpK_Waku[2].twips()};
    }
    bool frameShown()
    {
        const bool shown = form().shpK_Waku[0].isVisible();
        for (const ShapeRect &shape : form().shpK_Waku)
            if (shape.isVisible() != shown)
                qFatal("the frame's pieces disagree");
        return shown;
    }
    void choose(const QString &file)
    {
        m_fakes->dialogs->fileAnswer = file;
        form().MnuSetKanban->trigger();
    }
    // Moves the board as a drag does: place only, no re-fit.
    void drag(int left, int top)
    {
        board().setTwips({left, top, boardRect().width, boardRect().height});
    }

private Q_SLOTS:
    void init()
    {
        Module2::reset();
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(m_dir->isValid());
        m_fakes = std::make_unique<FakeServices>(m_dir->filePath("rorumo"));
        m_form = std::make_unique<Form1>(m_fakes->services);
        m_wide = makePicture(m_dir->filePath("wide.bmp"), 200, 50);
    }
    void cleanup()
    {
        m_form.reset();
        m_fakes.reset();
        m_dir.reset();
    }

    void choosingAPictureSizesAndRefits()
    {
        drag(900, 300);
        choose(m_wide);
        QCOMPARE(boardRect(), (TwipRect{900, 300, 3000, 750}));
        QCOMPARE(board().picture().image.size(), QSize(200, 50));
        QCOMPARE(Module2::KanbanPicPath, m_wide);
        QCOMPARE(frame(),
                 (std::array<TwipRect, 3>{TwipRect{825, 300, 75, 765}, TwipRect{3900, 300, 75, 765},
                                          TwipRect{825, 1050, 3150, 60}}));
        QCOMPARE(m_fakes->dialogs->lastFilterAsked, Signboard::kDialogFilter);
        QVERIFY(m_fakes->dialogs->messages.empty());

        // The dialog opens at the file chosen last, also after a failed choice.
        const QString text = m_dir->filePath("text.jpg");
        QFile file(text);
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write("no picture") > 0);
        file.close();
        choose(text);
        QCOMPARE(m_fakes->dialogs->lastFileAsked, m_wide);
        choose(QString());
        QCOMPARE(m_fakes->dialogs->lastFileAsked, text);
    }

    void filterListsEveryPictureKind()
    {
        QStringList patterns;
        const QRegularExpression pattern(QStringLiteral(R"(\*\.\w+)"));
        for (const auto &match : pattern.globalMatch(Signboard::kDialogFilter))
            patterns << match.captured().toLower();
        patterns.sort();
        QCOMPARE(patterns, (QStringList{"*.bmp", "*.emf", "*.gif", "*.jpeg", "*.jpg", "*.wmf"}));
    }

    void followKeepsPostHeights()
    {
        choose(m_wide);
        // A size change alone (raised by the board) moves the pieces but leaves the posts' height.
        board().setTwips({1000, 600, 1500, 300});
        const auto after = frame();
        QCOMPARE(after[0], (TwipRect{925, 600, 75, 765}));
        QCOMPARE(after[1], (TwipRect{2500, 600, 75, 765}));
        QCOMPARE(after[2], (TwipRect{925, 900, 1650, 60}));
    }

    void dragLeavesTheFrameUntilDoubleClick()
    {
        choose(m_wide);
        const auto before = frame();
        drag(600, 900);
        QCOMPARE(frame(), before);
        form().signboard().PicKanban_DblClick();
        QCOMPARE(frame(), fitted(boardRect()));

        // The double-click on the board itself does the same.
        drag(30, 45);
        QTest::mouseDClick(&board(), Qt::LeftButton, {}, QPoint(2, 2));
        QCOMPARE(frame(), fitted(boardRect()));
    }

    void showHideCommands()
    {
        form().show();
        QVERIFY(QTest::qWaitForWindowExposed(&form()));
        choose(m_wide);
        for (int round = 1; round <= 4; ++round) {
            const bool on = round % 2 == 0;
            const auto frameBefore = frame();
            form().MnuViewKanban->trigger();
            QCOMPARE(board().isVisible(), on);
            QCOMPARE(form().MnuViewKanban->isChecked(), on);
            QCOMPARE(frame(), frameBefore); // the board command leaves the frame alone
            QVERIFY(frameShown());
        }
        for (int round = 1; round <= 4; ++round) {
            const bool on = round % 2 == 0;
            // The frame command re-fits on every switch, wherever the board was dragged.
            drag(100 * round, 50 * round);
            const TwipRect boardBefore = boardRect();
            form().MnuViewWaku->trigger();
            QCOMPARE(frameShown(), on);
            QCOMPARE(form().MnuViewWaku->isChecked(), on);
            QCOMPARE(frame(), fitted(boardRect()));
            QCOMPARE(boardRect(), boardBefore);
            QVERIFY(board().isVisible());
        }
    }

    void pictureChosenWhileHidden()
    {
        form().show();
        QVERIFY(QTest::qWaitForWindowExposed(&form()));
        form().MnuViewKanban->trigger();
        QVERIFY(!board().isVisible());
        choose(m_wide);
        QCOMPARE(board().picture().image.size(), QSize(200, 50));
        QVERIFY(!board().isVisible());
        QVERIFY(!form().MnuViewKanban->isChecked());
        QCOMPARE(frame(), fitted(boardRect()));
    }

    void failedChoiceChangesNothing_data()
    {
        QTest::addColumn<QString>("answer");
        QTest::addColumn<QByteArray>("content");
        QTest::newRow("cancelled") << QString() << QByteArray();
        QTest::newRow("no picture") << "notes.bmp" << QByteArray("just text");
        QTest::newRow("missing") << "gone.bmp" << QByteArray();
        QTest::newRow("folder") << "folder.jpg" << QByteArray();
    }
    void failedChoiceChangesNothing()
    {
        QFETCH(QString, answer);
        QFETCH(QByteArray, content);
        if (!answer.isEmpty()) {
            answer = m_dir->filePath(answer);
            if (!content.isEmpty()) {
                QFile file(answer);
                QVERIFY(file.open(QIODevice::WriteOnly) && file.write(content) > 0);
            } else if (answer.endsWith(".jpg")) {
                QVERIFY(QDir().mkpath(answer));
            }
        }
        choose(m_wide);
        drag(500, 400); // the frame stays behind, so a stray re-fit would show
        const auto frameBefore = frame();
        const TwipRect boardBefore = boardRect();
        const QImage pictureBefore = board().picture().image;
        choose(answer);
        QCOMPARE(board().picture().image, pictureBefore);
        QCOMPARE(boardRect(), boardBefore);
        QCOMPARE(frame(), frameBefore);
        QCOMPARE(Module2::KanbanPicPath, m_wide);
        QVERIFY(m_fakes->dialogs->messages.empty());
    }

    void reset_data()
    {
        QTest::addColumn<bool>("hidden");
        QTest::newRow("shown") << false;
        QTest::newRow("hidden") << true;
    }
    void reset()
    {
        QFETCH(bool, hidden);
        form().show();
        QVERIFY(QTest::qWaitForWindowExposed(&form()));
        choose(m_wide);
        drag(300, 200);
        if (hidden) {
            form().MnuViewKanban->trigger();
            form().MnuViewWaku->trigger();
        }
        form().MnuKanbanReset->trigger();
        QVERIFY(board().picture().isEmpty());
        QCOMPARE(boardRect(), (TwipRect{8790, 1680, 1410, 450}));
        QCOMPARE(frame(), (std::array<TwipRect, 3>{TwipRect{8715, 1680, 75, 465},
                                                   TwipRect{10200, 1680, 75, 465},
                                                   TwipRect{8715, 2130, 1560, 60}}));
        QCOMPARE(Module2::KanbanPicPath, m_wide);
        QCOMPARE(board().isVisible(), !hidden);
        QCOMPARE(form().MnuViewKanban->isChecked(), !hidden);
        QCOMPARE(frameShown(), !hidden);
        QCOMPARE(form().MnuViewWaku->isChecked(), !hidden);
    }

    void middleButtonDoesNothing()
    {
        choose(m_wide);
        drag(700, 700);
        const auto frameBefore = frame();
        form().signboard().PicKanban_MouseDown(Qt::MiddleButton);
        QTest::mousePress(&board(), Qt::MiddleButton, {}, QPoint(3, 3));
        QTest::mouseRelease(&board(), Qt::MiddleButton, {}, QPoint(3, 3));
        QCOMPARE(boardRect(), (TwipRect{700, 700, 3000, 750}));
        QCOMPARE(frame(), frameBefore);
        QVERIFY(!form().MnuTempMenu1->isVisible());
    }
};

QTEST_MAIN(TestSignboard)
#include "test_signboard.moc"
