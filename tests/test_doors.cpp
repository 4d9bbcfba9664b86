#include "app/form1.h"
#include "common/module2.h"
#include "controls/image_control.h"
#include "doors/common.h"
#include "doors/door_motion.h"
#include "doors/step_pacer.h"
#include "panel/frm_set.h"
#include "platform/end_requests.h"
#include "support/fakes.h"

#include <QElapsedTimer>
#include <QLabel>
#include <QPushButton>
#include <QScrollBar>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <csignal>
#include <vector>

using Shapes = std::vector<std::pair<int, int>>; // the front leaf's width, the middle leaf's left

class TestDoors : public QObject
{
    Q_OBJECT

    std::unique_ptr<FakeBus> m_bus;
    Form1 *m_form = nullptr;
    RecordingPacer *m_pacer = nullptr; // its waits are the speeds used
    Shapes m_shapes;                   // the door pictures at each wait

    frmSet &panel() { return m_form->panel(); }
    // A click on a toggle that shows the other state.
    static void toggle(QPushButton *button, bool open)
    {
        button->setChecked(!open);
        button->click();
    }

private Q_SLOTS:
    void init()
    {
        m_bus = std::make_unique<FakeBus>();
        m_form = &m_bus->form;
        auto pacer = std::make_unique<RecordingPacer>();
        m_pacer = pacer.get();
        m_pacer->onWait = [this] {
            m_shapes.emplace_back(m_form->Image1[2]->twips().width, m_form->Image2->twips().left);
        };
        m_form->setStepPacer(std::move(pacer));
        m_shapes.clear();
    }
    void cleanup() { m_bus.reset(); }

    void frontDoor_data()
    {
        QTest::addColumn<int>("startWidth");
        QTest::addColumn<bool>("open");
        QTest::addColumn<int>("speed");
        QTest::addColumn<int>("first");
        QTest::addColumn<int>("count");
        // The whole opening is in speedIsReadAtEveryStep; closing from open the last row's steps.
        QTest::newRow("opens half-open door") << 500 << true << 1 << 500 << 431;
        QTest::newRow("already open: one step") << 70 << true << 30000 << 70 << 1;
        QTest::newRow("narrower than open: nothing") << 50 << true << 6000 << 0 << 0;
        QTest::newRow("closing starts at 70") << 500 << false << 30000 << 70 << 966;
    }
    void frontDoor()
    {
        QFETCH(int, startWidth);
        QFETCH(bool, open);
        QFETCH(int, speed);
        QFETCH(int, first);
        QFETCH(int, count);
        panel().HScroll1->setValue(speed);
        panel().HScroll2->setValue(speed == 1 ? 2 : 1); // the other door's speed must not be used
        m_form->Image1[2]->setWidth(startWidth);
        toggle(panel().Check1, open);

        Shapes expected;
        for (int i = 0; i < count; ++i)
            expected.emplace_back(first + (open ? -i : i), 0);
        QCOMPARE(m_shapes, expected);
        QCOMPARE(m_pacer->waits, std::vector<int>(size_t(count), speed));
        QVERIFY(m_bus->fakes.sound->played.empty());
        // Only the width changes, and it ends fully open or closed.
        const int last = count == 0 ? startWidth : open ? 70 : 1035;
        QCOMPARE(m_form->Image1[2]->twips(), (TwipRect{360, 615, last, 2145}));
    }

    // Open and close again: the sound plays once before each movement, never during one, and a
    // sound that plays nothing (our fake) does not keep the leaf from moving all the way.
    void middleDoor()
    {
        constexpr int speed = 30000;
        panel().HScroll2->setValue(speed);
        Shapes atPlay; // the leaf's Left and the waits so far
        m_bus->fakes.sound->onPlay = [&] {
            atPlay.emplace_back(m_form->Image2->twips().left, int(m_pacer->waits.size()));
        };
        toggle(panel().Check2, true);
        toggle(panel().Check2, false);
        QCOMPARE(m_pacer->movements, 2);
        QCOMPARE(m_bus->fakes.sound->played, std::vector<QByteArray>(2, Common::WaveBytes));
        QCOMPARE(atPlay, (Shapes{{0, 0}, {-1100, 1101}}));
        Shapes expected;
        for (int left : {0, -1100})
            for (int i = 0; i < 1101; ++i)
                expected.emplace_back(1035, left == 0 ? -i : left + i);
        QCOMPARE(m_shapes, expected);
        QCOMPARE(m_pacer->waits, std::vector<int>(2202, speed));
        QCOMPARE(m_form->Image2->twips(), (TwipRect{0, 0, 1140, 2115}));
    }

    // The speed is read again at every step: a change part-way shows from the next wait on. A
    // close of the panel meanwhile (a window manager offers one) changes nothing.
    void speedIsReadAtEveryStep()
    {
        panel().HScroll1->setValue(6000);
        m_pacer->onWait = [&] {
            if (m_pacer->waits.size() == 100) {
                panel().HScroll1->setValue(123);
                QVERIFY(!panel().close());
            }
        };
        toggle(panel().Check1, true);
        std::vector<int> expected(966, 123);
        std::fill_n(expected.begin(), 100, 6000);
        QCOMPARE(m_pacer->waits, expected);
        QCOMPARE(m_form->Image1[2]->twips().width, 70);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(m_form->panelExists());
    }

    // Speeds from the settings file: applying them at load counts as a change, but the front
    // speed stays at its design value, so its label never hears of one. (The whole-day X test
    // presses the arrows.)
    void speedLabels()
    {
        QVERIFY(putFile(m_bus->path("rorumo.ini"), "0,0,0,3600,\"\",\"\",0,0,\"\",8790,1680,"
                                                   "#TRUE#,#TRUE#,6000,777,0\r\n"));
        m_form->Form_Load();
        QCOMPARE(panel().HScroll1->value(), 6000);
        QCOMPARE(panel().lblMaeSpeed->text(), QStringLiteral("0"));
        QCOMPARE(panel().lblNakaSpeed->text(), QStringLiteral("777"));
        for (int value : {1, 30000}) {
            panel().HScroll1->setValue(value);
            panel().HScroll2->setValue(value);
            QCOMPARE(panel().lblMaeSpeed->text() + panel().lblNakaSpeed->text(),
                     QString::number(value).repeated(2));
        }
        // A drag of the thumb counts only when it is let go.
        for (QScrollBar *bar : {panel().HScroll1, panel().HScroll2}) {
            bar->setSliderDown(true);
            bar->setSliderPosition(4321);
            QCOMPARE(bar->value(), 30000);
            bar->setSliderDown(false);
        }
        QCOMPARE(panel().lblMaeSpeed->text() + panel().lblNakaSpeed->text(), "43214321");
    }

    // The end of the session during a slow movement: the settings are saved at once, and the
    // door stops where it is instead of keeping the program for seconds.
    void endRequestStopsTheDoor()
    {
        FakeBus bus; // its own real-time pacer
        platform::EndRequests requests;
        connect(&requests, &platform::EndRequests::endRequested, &bus.form, &Form1::Form_Unload);
        bus.form.panel().HScroll1->setValue(30000); // about 3 s
        QTimer::singleShot(100, [] { ::raise(SIGTERM); });
        QElapsedTimer timer;
        timer.start();
        bus.form.Check1_Click();
        QVERIFY2(timer.elapsed() < 1000, qPrintable(QString::number(timer.elapsed())));
        QVERIFY(QFile::exists(bus.path(QStringLiteral("rorumo.ini"))));
    }

    // Bounds that hold however slow the machine: never sooner than the sum of the waits, at most
    // one present a frame (plus the one at the end), and the last present shows the last step.
    void realTimePacer()
    {
        constexpr int steps = 966;
        constexpr int speed = 6000; // 0.6 ms a step
        constexpr std::chrono::milliseconds frame(16);
        int presents = 0, lastSet = 0, lastSetAtPresent = 0;
        RealTimePacer pacer(
            [&] {
                ++presents;
                lastSetAtPresent = lastSet;
                return true;
            },
            frame);
        QElapsedTimer timer;
        timer.start();
        doors::runSteps(
            1, steps, 1, [&](int v) { lastSet = v; }, [] { return speed; }, pacer);
        const qint64 elapsedNs = timer.nsecsElapsed();
        QVERIFY(elapsedNs >= qint64(steps) * speed * 100);
        const qint64 frames = elapsedNs / std::chrono::nanoseconds(frame).count();
        QVERIFY2(presents >= 2 && presents <= frames + 2, qPrintable(QString::number(frames)));
        QCOMPARE(lastSetAtPresent, steps);
        // The first step shows at once and the last at the end; a frame that never ends shows
        // nothing between.
        presents = 0;
        RealTimePacer endless([&] { return ++presents > 0; }, std::chrono::hours(1));
        doors::runSteps(
            1, 50, 1, [](int) {}, [] { return 1; }, endless);
        QCOMPARE(presents, 2);
    }
};

QTEST_MAIN(TestDoors)
#include "test_doors.moc"
