// The real ALSA output, written to a file by ALSA's own "file" plugin, so no sound card is needed.
// ALSA reads its configuration on first use: nothing in this process may touch it before
// initTestCase has pointed ALSA_CONFIG_PATH at ours.

#include "app/form1.h"
#include "controls/image_control.h"
#include "doors/common.h"
#include "panel/frm_set.h"
#include "platform/alsa/alsa_sound.h"
#include "platform/wave.h"
#include "support/fakes.h"

#include <QFile>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QtEndian>

class TestSound : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    QString m_output;

    void useConfig(const QByteArray &text)
    {
        const QString path = m_dir.filePath(QStringLiteral("asound-%1.conf").arg(qHash(text)));
        QFile config(path);
        QVERIFY(config.open(QIODevice::WriteOnly) && config.write(text) == text.size());
        config.close();
        qputenv("ALSA_CONFIG_PATH", QFile::encodeName(path));
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        m_output = m_dir.filePath(QStringLiteral("out.raw"));
        useConfig("pcm.!default { type file slave.pcm \"null\" file \"" +
                  QFile::encodeName(m_output) + "\" format \"raw\" }\npcm.null { type null }\n");
    }

    // Only PCM plays; a chunk of odd size is followed by a pad byte (RIFF's word alignment).
    void parsesWave()
    {
        const auto chunk = [](const char *id, const QByteArray &body) {
            QByteArray bytes = id + QByteArray(4, 0) + body;
            qToLittleEndian<quint32>(quint32(body.size()), bytes.data() + 4);
            return body.size() % 2 ? bytes + '\0' : bytes;
        };
        for (const auto &[formatTag, samples] : {std::pair{1, 5}, {0x11, -1}}) { // PCM, IMA ADPCM
            QByteArray fmt(16, 0);
            for (const auto &[at, value] :
                 {std::pair{0, formatTag}, {2, 1}, {4, 22050}, {8, 22050}, {12, 1}, {14, 8}})
                qToLittleEndian<quint16>(quint16(value), fmt.data() + at);
            const QByteArray riff = "WAVE" + chunk("fmt ", fmt) + chunk("LIST", "odd") +
                                    chunk("data", "\x80\x81\x7f\x80\xff");
            const auto wave = platform::parseWave(chunk("RIFF", riff));
            QCOMPARE(wave ? int(wave->samples.size()) : -1, samples);
        }
    }

    void playsTheDoorSoundThroughAlsa()
    {
        platform::AlsaSound sound;
        Common::PlayWaveRes(Common::kDoorSound, sound);
        const auto wave = platform::parseWave(Common::WaveBytes);
        QVERIFY(wave);
        QFile output(m_output);
        QVERIFY2(output.open(QIODevice::ReadOnly), "ALSA's file plugin wrote nothing");
        // 8-bit samples are unsigned around 128; 16-bit ones signed around 0.
        QByteArray widened(2 * wave->samples.size(), 0);
        for (qsizetype i = 0; i < wave->samples.size(); ++i)
            qToLittleEndian<qint16>(qint16((quint8(wave->samples[i]) - 128) * 256),
                                    widened.data() + 2 * i);
        QCOMPARE(output.readAll(), widened);
    }

    void silentAndTheDoorStillMoves_data()
    {
        QTest::addColumn<QByteArray>("config");
        QTest::newRow("no device") << QByteArray("pcm.null { type null }\n");
        // Held by another program: a blocking open would wait for it (and leave the note).
        QTest::newRow("busy device")
            << QByteArray("pcm.!default { type rorumo_busy }\n"
                          "pcm_type.rorumo_busy { lib \"" RORUMO_TEST_BUSY_PCM "\" }\n");
    }
    void silentAndTheDoorStillMoves()
    {
        QFETCH(QByteArray, config);
        useConfig(config);
        const QString note = m_dir.filePath(QStringLiteral("waited"));
        qputenv("RORUMO_BUSY_NOTE", QFile::encodeName(note));
        QFile::remove(m_output);
        FakeBus bus;
        bus.fakes.services.sound = std::make_unique<platform::AlsaSound>();
        auto pacer = std::make_unique<RecordingPacer>();
        RecordingPacer *steps = pacer.get();
        bus.form.setStepPacer(std::move(pacer));
        bus.form.panel().Check2->setChecked(true);
        bus.form.Check2_Click();
        QVERIFY(!QFile::exists(m_output));
        QVERIFY2(!QFile::exists(note), "waited for a busy device");
        QCOMPARE(int(steps->waits.size()), 1101);
        QCOMPARE(bus.form.Image2->twips().left, -1100);
    }
};

QTEST_MAIN(TestSound)
#include "test_sound.moc"
