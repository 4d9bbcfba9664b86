#include "app/form1.h"
#include "app/module2.h"
#include "doors/common.h"
#include "doors/door_motion.h"
#include "doors/step_pacer.h"
#include "panel/frm_set.h"
#include "platform/controls/image_control.h"
#include "platform/wave.h"
#include "support/fakes.h"

#include <QElapsedTimer>
#include <QLabel>
#include <QPushButton>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTest>
#include <algorithm>
#include <vector>

namespace {

// What the door pictures looked like at each wait, and how long each wait was.
struct Step
{
    int frontWidth;
    int middleLeft;
    int units;
};

class GeometryPacer final : public StepPacer
{
public:
    explicit GeometryPacer(Form1 &form) : m_form(form) {}
    void begin() override { ++movements; }
    void wait(int units) override
    {
        steps.push_back({m_form.Image1[2]->twips().width, m_form.Image2->twips().left, units});
        if (onWait)
            onWait(int(steps.size()));
    }
    void end() override {}

    std::vector<Step> steps;
    int movements = 0;
    std::function<void(int)> onWait; // gets the number of waits so far

private:
    Form1 &m_form;
};

} // namespace

class TestDoors : public QObject
{
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<FakeServices> m_fakes;
    std::unique_ptr<Form1> m_form;
    GeometryPacer *m_pacer = nullptr;

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
        Module2::reset();
        m_dir = std::make_unique<QTemporaryDir>();
        m_fakes = std::make_unique<FakeServices>(m_dir->path() + "/rorumo");
        m_form = std::make_unique<Form1>(m_fakes->services);
        auto pacer = std::make_unique<GeometryPacer>(*m_form);
        m_pacer = pacer.get();
        m_form->setStepPacer(std::move(pacer));
    }
    void cleanup()
    {
        m_form.reset();
        m_fakes.reset();
        m_dir.reset();
    }

    void frontDoor_data()
    {
        QTest::addColumn<int>("startWidth");
        QTest::addColumn<bool>("open");
        QTest::addColumn<int>("speed");
        QTest::addColumn<int>("first");
        QTest::addColumn<int>("count");
        QTest::newRow("opens from closed") << 1035 << true << 6000 << 1035 << 966;
        QTest::newRow("opens half-open door") << 500 << true << 1 << 500 << 431;
        QTest::newRow("already open: one step") << 70 << true << 30000 << 70 << 1;
        QTest::newRow("narrower than open: nothing") << 50 << true << 6000 << 0 << 0;
        QTest::newRow("closes from open") << 70 << false << 6000 << 70 << 966;
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

        QCOMPARE(int(m_pacer->steps.size()), count);
        QVERIFY(m_fakes->sound->played.empty());
        for (int i = 0; i < count; ++i) {
            const Step &step = m_pacer->steps[size_t(i)];
            QCOMPARE(step.frontWidth, first + (open ? -i : i));
            QCOMPARE(step.units, speed);
            QCOMPARE(step.middleLeft, 0);
        }
        // Only the width changes, and it ends fully open or closed.
        const int last = count == 0 ? startWidth : open ? 70 : 1035;
        QCOMPARE(m_form->Image1[2]->twips(), (TwipRect{360, 615, last, 2145}));
    }

    // Open and close again: the sound plays once before each movement, never during one, and a
    // sound that plays nothing (our fake) does not keep the leaf from moving all the way.
    void middleDoor_data()
    {
        QTest::addColumn<int>("speed");
        QTest::newRow("slowest") << 30000;
        QTest::newRow("fastest") << 1;
    }
    void middleDoor()
    {
        QFETCH(int, speed);
        panel().HScroll2->setValue(speed);
        std::vector<std::pair<int, size_t>> atPlay; // the leaf's Left and the waits so far
        m_fakes->sound->onPlay = [&] {
            atPlay.emplace_back(m_form->Image2->twips().left, m_pacer->steps.size());
        };
        toggle(panel().Check2, true);
        QCOMPARE(int(m_pacer->steps.size()), 1101);
        toggle(panel().Check2, false);
        QCOMPARE(int(m_pacer->steps.size()), 2202);
        QCOMPARE(m_pacer->movements, 2);
        QCOMPARE(m_fakes->sound->played, std::vector<QByteArray>(2, Common::WaveBytes));
        QCOMPARE(atPlay, (std::vector<std::pair<int, size_t>>{{0, 0}, {-1100, 1101}}));
        for (int i = 0; i < 1101; ++i) {
            QCOMPARE(m_pacer->steps[size_t(i)].middleLeft, -i);
            QCOMPARE(m_pacer->steps[size_t(1101 + i)].middleLeft, -1100 + i);
            QCOMPARE(m_pacer->steps[size_t(i)].units, speed);
            QCOMPARE(m_pacer->steps[size_t(i)].frontWidth, 1035);
        }
        QCOMPARE(m_form->Image2->twips(), (TwipRect{0, 0, 1140, 2115}));
    }

    // The speed is read again at every step: a change part-way shows from the next wait on.
    void speedIsReadAtEveryStep()
    {
        panel().HScroll1->setValue(6000);
        m_pacer->onWait = [&](int waits) {
            if (waits == 100)
                panel().HScroll1->setValue(123);
        };
        toggle(panel().Check1, true);
        QCOMPARE(int(m_pacer->steps.size()), 966);
        QCOMPARE(m_pacer->steps[99].units, 6000);
        QCOMPARE(m_pacer->steps[100].units, 123);
        QCOMPARE(m_pacer->steps.back().units, 123);
    }

    void runStepsBounds_data()
    {
        QTest::addColumn<int>("first");
        QTest::addColumn<int>("last");
        QTest::addColumn<int>("step");
        QTest::addColumn<std::vector<int>>("expected");
        QTest::newRow("down") << 3 << 0 << -1 << std::vector<int>{3, 2, 1, 0};
        QTest::newRow("up through zero") << -2 << 1 << 1 << std::vector<int>{-2, -1, 0, 1};
        QTest::newRow("single") << 5 << 5 << 1 << std::vector<int>{5};
        QTest::newRow("down, wrong way") << 0 << 3 << -1 << std::vector<int>{};
        QTest::newRow("up, wrong way") << 3 << 0 << 1 << std::vector<int>{};
    }
    void runStepsBounds()
    {
        QFETCH(int, first);
        QFETCH(int, last);
        QFETCH(int, step);
        QFETCH(std::vector<int>, expected);
        std::vector<int> set;
        RecordingPacer pacer;
        // The speed is read after each step is set: here it is the step plus 100.
        doors::runSteps(
            first, last, step, [&](int v) { set.push_back(v); }, [&] { return set.back() + 100; },
            pacer);
        QCOMPARE(set, expected);
        std::for_each(expected.begin(), expected.end(), [](int &v) { v += 100; });
        QCOMPARE(pacer.waits, expected);
        QCOMPARE(pacer.movements, expected.empty() ? 0 : 1);
    }

    void speedLabels()
    {
        // Speeds from the settings file: applying them at load counts as a change.
        QFile ini(m_dir->path() + "/rorumo.ini");
        QVERIFY(ini.open(QIODevice::WriteOnly));
        ini.write("0,0,0,3600,\"\",\"\",0,0,\"\",8790,1680,#TRUE#,#TRUE#,6000,777,0\r\n");
        ini.close();
        m_form->Form_Load();
        // The front speed stayed at its design value, so its label never heard of a change.
        QCOMPARE(panel().HScroll1->value(), 6000);
        QCOMPARE(panel().lblMaeSpeed->text(), QStringLiteral("0"));
        QCOMPARE(panel().lblNakaSpeed->text(), QStringLiteral("777"));
        for (int value : {1, 30000}) {
            panel().HScroll1->setValue(value);
            panel().HScroll2->setValue(value);
            QCOMPARE(panel().lblMaeSpeed->text(), QString::number(value));
            QCOMPARE(panel().lblNakaSpeed->text(), QString::number(value));
        }
        // A press of the arrow counts as a change too.
        panel().HScroll1->triggerAction(QAbstractSlider::SliderSingleStepSub);
        QCOMPARE(panel().lblMaeSpeed->text(), QStringLiteral("29999"));
    }

    void doorSoundResource()
    {
        const auto wave = platform::parseWave(Common::WaveBytes);
        QVERIFY(wave);
        QCOMPARE(std::tuple(wave->channels, wave->sampleRate, wave->bitsPerSample),
                 std::tuple(1, 22050, 8));
        QCOMPARE(wave->samples.size(), qsizetype(17640));
        const auto [low, high] =
            std::minmax_element(wave->samples.begin(), wave->samples.end(),
                                [](char a, char b) { return quint8(a) < quint8(b); });
        QVERIFY(quint8(*high) - quint8(*low) > 32); // not silence
    }

    // The first step shows at once and the last at the end; a frame that never ends shows
    // nothing between; with no frame and no wait each of the 50 steps shows once.
    void realTimePacerPresentsPerFrame_data()
    {
        QTest::addColumn<qint64>("frameNanoseconds");
        QTest::addColumn<int>("speed");
        QTest::addColumn<int>("expected");
        QTest::newRow("endless frame") << qint64(3600) * 1000 * 1000 * 1000 << 1 << 2;
        QTest::newRow("no frame, no wait") << qint64(0) << 0 << 51;
    }
    void realTimePacerPresentsPerFrame()
    {
        QFETCH(qint64, frameNanoseconds);
        QFETCH(int, speed);
        int presents = 0;
        RealTimePacer pacer([&] { ++presents; }, std::chrono::nanoseconds(frameNanoseconds));
        doors::runSteps(
            1, 50, 1, [](int) {}, [speed] { return speed; }, pacer);
        QTEST(presents, "expected");
    }

    // Bounds that hold however slow the machine: never sooner than the sum of the waits, at most
    // one present a frame (plus the one at the end), and the last present shows the last step.
    void realTimePacerKeepsTheDeadline()
    {
        constexpr int steps = 966;
        constexpr int speed = 6000; // 0.6 ms a step
        constexpr std::chrono::milliseconds frame(16);
        int presents = 0, lastSet = 0, lastSetAtPresent = 0;
        RealTimePacer pacer(
            [&] {
                ++presents;
                lastSetAtPresent = lastSet;
            },
            frame);
        QElapsedTimer timer;
        timer.start();
        doors::runSteps(
            1, steps, 1, [&](int v) { lastSet = v; }, [] { return speed; }, pacer);
        const qint64 elapsedNs = timer.nsecsElapsed();
        QVERIFY2(elapsedNs >= qint64(steps) * speed * 100, qPrintable(QString::number(elapsedNs)));
        const qint64 frames = elapsedNs / std::chrono::nanoseconds(frame).count();
        QVERIFY2(presents >= 2 && presents <= frames + 2,
                 qPrintable(QStringLiteral("%1 presents in %2 frames").arg(presents).arg(frames)));
        QCOMPARE(lastSetAtPresent, steps);
    }
};

QTEST_MAIN(TestDoors)
#include "test_doors.moc"
