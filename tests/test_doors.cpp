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

private Q_SLOTS:
    void init();
    void cleanup();

    void frontDoor_data();
    void frontDoor();
    void middleDoor_data();
    void middleDoor();
    void speedIsReadAtEveryStep();
    void runStepsBounds_data();
    void runStepsBounds();
    void speedLabels();
    void doorSoundIsTheResource();
    void realTimePacerPresentsPerFrame_data();
    void realTimePacerPresentsPerFrame();
    void realTimePacerKeepsTheDeadline();

private:
    void toggle(QPushButton *button, bool pressed, void (Form1::*routine)());

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<FakeServices> m_fakes;
    std::unique_ptr<Form1> m_form;
    GeometryPacer *m_pacer = nullptr;
};

void TestDoors::init()
{
    Module2::reset();
    m_dir = std::make_unique<QTemporaryDir>();
    m_fakes = std::make_unique<FakeServices>(m_dir->path() + "/rorumo");
    m_form = std::make_unique<Form1>(m_fakes->services);
    auto pacer = std::make_unique<GeometryPacer>(*m_form);
    m_pacer = pacer.get();
    m_form->setStepPacer(std::move(pacer));
}

void TestDoors::cleanup()
{
    m_form.reset();
    m_fakes.reset();
    m_dir.reset();
}

// As the panel's toggle does: the value changes first, then the routine runs.
void TestDoors::toggle(QPushButton *button, bool pressed, void (Form1::*routine)())
{
    button->setChecked(pressed);
    (m_form.get()->*routine)();
}

void TestDoors::frontDoor_data()
{
    QTest::addColumn<int>("startWidth");
    QTest::addColumn<bool>("open");
    QTest::addColumn<int>("speed");
    QTest::addColumn<int>("first");
    QTest::addColumn<int>("last");
    QTest::addColumn<int>("count");

    QTest::newRow("opens from closed") << 1035 << true << 6000 << 1035 << 70 << 966;
    QTest::newRow("opens half-open door") << 500 << true << 1 << 500 << 70 << 431;
    QTest::newRow("already open: one step") << 70 << true << 30000 << 70 << 70 << 1;
    QTest::newRow("narrower than open: nothing") << 50 << true << 6000 << 0 << 0 << 0;
    QTest::newRow("closes from open") << 70 << false << 6000 << 70 << 1035 << 966;
    QTest::newRow("closing starts at 70 from 500") << 500 << false << 2 << 70 << 1035 << 966;
    QTest::newRow("closing a closed door") << 1035 << false << 30000 << 70 << 1035 << 966;
}

void TestDoors::frontDoor()
{
    QFETCH(int, startWidth);
    QFETCH(bool, open);
    QFETCH(int, speed);
    QFETCH(int, first);
    QFETCH(int, last);
    QFETCH(int, count);

    frmSet &panel = m_form->panel();
    panel.HScroll1->setValue(speed);
    panel.HScroll2->setValue(speed == 1 ? 2 : 1); // the other door's speed must not be used
    m_form->Image1[2]->setWidth(startWidth);
    toggle(panel.Check1, open, &Form1::Check1_Click);

    QCOMPARE(int(m_pacer->steps.size()), count);
    QVERIFY(m_fakes->sound->played.empty());
    for (int i = 0; i < count; ++i) {
        const Step &step = m_pacer->steps[size_t(i)];
        const int expected = first + (open ? -i : i);
        QCOMPARE(step.frontWidth, expected);
        QCOMPARE(step.units, speed);
        QCOMPARE(step.middleLeft, 0);
    }
    if (count > 0) {
        QCOMPARE(m_pacer->steps.back().frontWidth, last);
        QCOMPARE(m_form->Image1[2]->twips().width, last);
    } else {
        QCOMPARE(m_form->Image1[2]->twips().width, startWidth);
    }
    // Only the width changes.
    const TwipRect door = m_form->Image1[2]->twips();
    QCOMPARE(door.left, 360);
    QCOMPARE(door.top, 615);
    QCOMPARE(door.height, 2145);
}

void TestDoors::middleDoor_data()
{
    QTest::addColumn<int>("speed");
    QTest::newRow("slowest") << 30000;
    QTest::newRow("fastest") << 1;
}

// Open and close again: the sound plays once before each movement, never during one, and a
// sound that plays nothing (our fake) does not keep the leaf from moving all the way.
void TestDoors::middleDoor()
{
    QFETCH(int, speed);
    frmSet &panel = m_form->panel();
    panel.HScroll2->setValue(speed);

    std::vector<std::pair<int, size_t>> atPlay; // the leaf's Left and the waits so far
    m_fakes->sound->onPlay = [&] {
        atPlay.emplace_back(m_form->Image2->twips().left, m_pacer->steps.size());
    };

    toggle(panel.Check2, true, &Form1::Check2_Click);
    QCOMPARE(int(m_pacer->steps.size()), 1101);
    toggle(panel.Check2, false, &Form1::Check2_Click);
    QCOMPARE(int(m_pacer->steps.size()), 2202);
    QCOMPARE(m_pacer->movements, 2);

    QCOMPARE(m_fakes->sound->played.size(), size_t(2));
    QCOMPARE(atPlay.size(), size_t(2));
    QCOMPARE(atPlay[0], std::make_pair(0, size_t(0)));
    QCOMPARE(atPlay[1], std::make_pair(-1100, size_t(1101)));

    for (int i = 0; i < 1101; ++i) {
        QCOMPARE(m_pacer->steps[size_t(i)].middleLeft, -i);
        QCOMPARE(m_pacer->steps[size_t(1101 + i)].middleLeft, -1100 + i);
        QCOMPARE(m_pacer->steps[size_t(i)].units, speed);
        QCOMPARE(m_pacer->steps[size_t(i)].frontWidth, 1035);
    }
    const TwipRect leaf = m_form->Image2->twips();
    QCOMPARE(leaf.left, 0);
    QCOMPARE(leaf.top, 0);
    QCOMPARE(leaf.width, 1140);
    QCOMPARE(leaf.height, 2115);
}

// The speed is read again after every step: a change part-way shows from the next wait on.
void TestDoors::speedIsReadAtEveryStep()
{
    frmSet &panel = m_form->panel();
    panel.HScroll1->setValue(6000);
    m_pacer->onWait = [&](int waits) {
        if (waits == 100)
            panel.HScroll1->setValue(123);
    };
    toggle(panel.Check1, true, &Form1::Check1_Click);
    QCOMPARE(int(m_pacer->steps.size()), 966);
    QCOMPARE(m_pacer->steps[99].units, 6000);
    QCOMPARE(m_pacer->steps[100].units, 123);
    QCOMPARE(m_pacer->steps.back().units, 123);

    // Straight through doors::runSteps: the reader is asked after the value is set.
    std::vector<std::pair<int, int>> seen; // value set, speed read after it
    int speed = 5;
    int lastSet = 0;
    RecordingPacer pacer;
    doors::runSteps(
        0, -10, -1,
        [&](int value) {
            lastSet = value;
            if (value == -4)
                speed = 7;
        },
        [&] {
            seen.emplace_back(lastSet, speed);
            return speed;
        },
        pacer);
    QCOMPARE(int(seen.size()), 11);
    QCOMPARE(seen[3], std::make_pair(-3, 5));
    QCOMPARE(seen[4], std::make_pair(-4, 7));
    QCOMPARE(pacer.waits, std::vector<int>({5, 5, 5, 5, 7, 7, 7, 7, 7, 7, 7}));
}

void TestDoors::runStepsBounds_data()
{
    QTest::addColumn<int>("first");
    QTest::addColumn<int>("last");
    QTest::addColumn<int>("step");
    QTest::addColumn<std::vector<int>>("expected");
    QTest::addColumn<int>("movements");

    QTest::newRow("down") << 3 << 0 << -1 << std::vector<int>{3, 2, 1, 0} << 1;
    QTest::newRow("up through zero") << -2 << 1 << 1 << std::vector<int>{-2, -1, 0, 1} << 1;
    QTest::newRow("single") << 5 << 5 << 1 << std::vector<int>{5} << 1;
    QTest::newRow("down, wrong way") << 0 << 3 << -1 << std::vector<int>{} << 0;
    QTest::newRow("up, wrong way") << 3 << 0 << 1 << std::vector<int>{} << 0;
}

void TestDoors::runStepsBounds()
{
    QFETCH(int, first);
    QFETCH(int, last);
    QFETCH(int, step);
    QFETCH(std::vector<int>, expected);
    QFETCH(int, movements);

    std::vector<int> set;
    RecordingPacer pacer;
    doors::runSteps(
        first, last, step, [&](int v) { set.push_back(v); }, [] { return 9; }, pacer);
    QCOMPARE(set, expected);
    QCOMPARE(pacer.waits.size(), expected.size());
    QCOMPARE(pacer.movements, movements);
}

void TestDoors::speedLabels()
{
    // A settings file with other speeds: applying it at load counts as a change.
    QFile ini(m_dir->path() + "/rorumo.ini");
    QVERIFY(ini.open(QIODevice::WriteOnly));
    ini.write("0,0,0,3600,\"\",\"\",0,0,\"\",8790,1680,#TRUE#,#TRUE#,6000,777,0\r\n");
    ini.close();
    m_form->Form_Load();
    frmSet &panel = m_form->panel();
    // The front speed stayed at its design value, so its label never heard of a change.
    QCOMPARE(panel.HScroll1->value(), 6000);
    QCOMPARE(panel.lblMaeSpeed->text(), QStringLiteral("0"));
    QCOMPARE(panel.lblNakaSpeed->text(), QStringLiteral("777"));

    for (int value : {1, 30000, 6000}) {
        panel.HScroll1->setValue(value);
        QCOMPARE(panel.lblMaeSpeed->text(), QString::number(value));
        panel.HScroll2->setValue(value);
        QCOMPARE(panel.lblNakaSpeed->text(), QString::number(value));
    }
    // A press of the arrow counts as a change too.
    panel.HScroll1->triggerAction(QAbstractSlider::SliderSingleStepAdd);
    QCOMPARE(panel.lblMaeSpeed->text(), QStringLiteral("6001"));
}

void TestDoors::doorSoundIsTheResource()
{
    m_form->panel().Check2->setChecked(true);
    m_form->Check2_Click();
    QCOMPARE(m_fakes->sound->played.size(), size_t(1));
    const QByteArray &played = m_fakes->sound->played.front();
    QCOMPARE(played, Common::WaveBytes);
    QCOMPARE(played.first(4), QByteArray("RIFF"));
    QCOMPARE(played.sliced(8, 4), QByteArray("WAVE"));
    const auto wave = platform::parseWave(played);
    QVERIFY(wave);
    QCOMPARE(wave->channels, 1);
    QCOMPARE(wave->sampleRate, 22050);
    QCOMPARE(wave->bitsPerSample, 8);
    QCOMPARE(wave->samples.size(), qsizetype(17640));
    // Not silence.
    const auto [low, high] =
        std::minmax_element(wave->samples.begin(), wave->samples.end(),
                            [](char a, char b) { return quint8(a) < quint8(b); });
    QVERIFY(quint8(*high) - quint8(*low) > 32);
}

void TestDoors::realTimePacerPresentsPerFrame_data()
{
    QTest::addColumn<qint64>("frameNanoseconds");
    QTest::addColumn<int>("speed");
    QTest::addColumn<int>("expected");
    // The first step shows at once and the last at the end; a frame that never ends shows
    // nothing between; with no frame and no wait each of the 50 steps shows once.
    QTest::newRow("endless frame") << qint64(3600) * 1000 * 1000 * 1000 << 1 << 2;
    QTest::newRow("no frame, no wait") << qint64(0) << 0 << 51;
}

void TestDoors::realTimePacerPresentsPerFrame()
{
    QFETCH(qint64, frameNanoseconds);
    QFETCH(int, speed);
    QFETCH(int, expected);
    int presents = 0;
    RealTimePacer pacer([&] { ++presents; }, std::chrono::nanoseconds(frameNanoseconds));
    doors::runSteps(
        1, 50, 1, [](int) {}, [speed] { return speed; }, pacer);
    QCOMPARE(presents, expected);
}

void TestDoors::realTimePacerKeepsTheDeadline()
{
    constexpr int steps = 966;
    constexpr int speed = 6000; // 0.6 ms a step
    constexpr std::chrono::milliseconds frame(16);
    int presents = 0;
    int lastSetAtPresent = 0;
    int lastSet = 0;
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

    // Never sooner than the sum of the waits.
    QVERIFY2(elapsedNs >= qint64(steps) * speed * 100, qPrintable(QString::number(elapsedNs)));
    // At most one present a frame (plus the one at the end), however long it really took.
    const qint64 frames = elapsedNs / std::chrono::nanoseconds(frame).count();
    QVERIFY2(presents <= frames + 2,
             qPrintable(QStringLiteral("%1 presents in %2 frames").arg(presents).arg(frames)));
    QVERIFY(presents >= 2);
    // The last present shows the final step.
    QCOMPARE(lastSetAtPresent, steps);
}

QTEST_MAIN(TestDoors)
#include "test_doors.moc"
