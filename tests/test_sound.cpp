// The real ALSA output, written to a file by ALSA's own "file" plugin, so no sound card is needed.
// ALSA reads its configuration on first use: nothing in this process may touch it before
// initTestCase has pointed ALSA_CONFIG_PATH at ours.

#include "app/form1.h"
#include "app/module2.h"
#include "doors/common.h"
#include "panel/frm_set.h"
#include "platform/controls/image_control.h"
#include "platform/sound.h"
#include "platform/wave.h"
#include "support/fakes.h"

#include <QFile>
#include <QPushButton>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTest>
#include <QtEndian>

class TestSound : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void widening_data();
    void widening();
    void playsTheDoorSoundThroughAlsa();
    void noDeviceIsSilentAndTheDoorStillMoves();

private:
    void useConfig(const QByteArray &text);

    QTemporaryDir m_dir;
    QString m_output;
};

void TestSound::useConfig(const QByteArray &text)
{
    const QString path = m_dir.filePath(QStringLiteral("asound-%1.conf").arg(qHash(text)));
    QFile config(path);
    QVERIFY(config.open(QIODevice::WriteOnly));
    config.write(text);
    config.close();
    qputenv("ALSA_CONFIG_PATH", QFile::encodeName(path));
}

void TestSound::initTestCase()
{
    QVERIFY(m_dir.isValid());
    m_output = m_dir.filePath(QStringLiteral("out.raw"));
    useConfig("pcm.!default {\n"
              "    type file\n"
              "    slave.pcm \"null\"\n"
              "    file \"" +
              QFile::encodeName(m_output) +
              "\"\n"
              "    format \"raw\"\n"
              "}\n"
              "pcm.null { type null }\n");
}

void TestSound::widening_data()
{
    QTest::addColumn<int>("sample");
    QTest::addColumn<int>("widened");
    QTest::newRow("silence") << 128 << 0;
    QTest::newRow("lowest") << 0 << -32768;
    QTest::newRow("highest") << 255 << 32512;
    QTest::newRow("one below silence") << 127 << -256;
    QTest::newRow("one above silence") << 129 << 256;
}

void TestSound::widening()
{
    QFETCH(int, sample);
    QFETCH(int, widened);
    const char in[] = {char(sample), char(128), char(sample)};
    const QByteArray out = platform::widenUnsigned8(QByteArrayView(in, 3));
    QCOMPARE(out.size(), qsizetype(6));
    QCOMPARE(int(qFromLittleEndian<qint16>(out.constData())), widened);
    QCOMPARE(int(qFromLittleEndian<qint16>(out.constData() + 2)), 0);
    QCOMPARE(int(qFromLittleEndian<qint16>(out.constData() + 4)), widened);
}

void TestSound::playsTheDoorSoundThroughAlsa()
{
    platform::AlsaSound sound;
    Common::PlayWaveRes(Common::kDoorSound, sound);

    const auto wave = platform::parseWave(Common::WaveBytes);
    QVERIFY(wave);
    QCOMPARE(wave->samples.size(), qsizetype(17640));

    QFile output(m_output);
    QVERIFY2(output.open(QIODevice::ReadOnly), "ALSA's file plugin wrote nothing");
    const QByteArray written = output.readAll();
    QCOMPARE(written.size(), qsizetype(2 * 17640));
    QCOMPARE(written, platform::widenUnsigned8(wave->samples));
    // And by hand, sample by sample.
    for (qsizetype i = 0; i < wave->samples.size(); ++i) {
        const int expected = (int(quint8(wave->samples[i])) - 128) * 256;
        if (qFromLittleEndian<qint16>(written.constData() + 2 * i) != expected)
            QFAIL(qPrintable(QStringLiteral("sample %1 differs").arg(i)));
    }
}

void TestSound::noDeviceIsSilentAndTheDoorStillMoves()
{
    useConfig("pcm.null { type null }\n");
    QFile::remove(m_output);

    Module2::reset();
    QTemporaryDir dir;
    FakeServices fakes(dir.filePath(QStringLiteral("rorumo")));
    fakes.services.sound = std::make_unique<platform::AlsaSound>();
    Form1 form(fakes.services);
    auto pacer = std::make_unique<RecordingPacer>();
    RecordingPacer *steps = pacer.get();
    form.setStepPacer(std::move(pacer));

    form.panel().Check2->setChecked(true);
    form.Check2_Click();
    QVERIFY(!QFile::exists(m_output));
    QCOMPARE(int(steps->waits.size()), 1101);
    QCOMPARE(form.Image2->twips().left, -1100);
}

QTEST_MAIN(TestSound)
#include "test_sound.moc"
