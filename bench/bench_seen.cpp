// Pictures as the user sees them: how soon a sign shows after Down, what a huge sign costs the
// program's memory, and how long the latest choice waits behind older slow ones.
//
//   bench_seen [runs, default 9; 0: only the slow pictures [slow side [slower side]]]
//
// Prints, for a 52 x 32 BMP, a clip-art EMF, a 4000 x 3000 and an 8000 x 6000 JPEG: Down up to
// the sign painted, with a warm worker and after the idle end of the workers; the program's
// resident memory with a 5600 x 5600 GIF sign against a small sign; and a slow picture's time
// alone against its time asked for right after two slower ones. Needs ImageMagick's convert for
// the GIF (Qt writes none).

#include "app/form1.h"
#include "bench/measure.h"
#include "common/module2.h"
#include "controls/image_control.h"
#include "controls/picture_box.h"
#include "pictures/picture_requests.h"
#include "sign/destination_sign.h"
#include "support/fakes.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QImageWriter>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <cstdio>

#if defined(__GLIBC__)
#include <malloc.h>
#endif

namespace {

constexpr int kIdleMarginMs = 1500;
constexpr int kColdRuns = 3;
// A sign shows within this long or the run counts as failed.
constexpr int kGiveUpMs = 15000;

// A camera-like photo: smooth light with a little grain, so that it compresses as photos do.
// All the scans of a progressive one are read before its first line, so it costs by its size
// however little of it the sign shows.
void writePhoto(const QString &path, int width, int height, bool progressive = false)
{
    QImage photo(width, height, QImage::Format_RGB32);
    QRandomGenerator random(3);
    for (int y = 0; y < height; ++y) {
        auto *line = reinterpret_cast<QRgb *>(photo.scanLine(y));
        for (int x = 0; x < width; ++x) {
            const int grain = int(random.bounded(24u));
            line[x] = qRgb((x * 200 / width + grain) & 0xff, (y * 200 / height + grain) & 0xff,
                           (120 + grain) & 0xff);
        }
    }
    QImageWriter writer(path, "jpeg");
    writer.setQuality(90);
    writer.setProgressiveScanWrite(progressive);
    if (!writer.write(photo))
        qFatal("cannot write %s", qPrintable(path));
}

long residentKib()
{
#if defined(__GLIBC__)
    malloc_trim(0);
#endif
    QFile statm(QStringLiteral("/proc/self/statm"));
    if (!statm.open(QIODevice::ReadOnly))
        return -1;
    const QList<QByteArray> fields = statm.readAll().split(' ');
    return fields.size() > 1 ? fields[1].toLong() * 4 : -1;
}

void idleEnd()
{
    QElapsedTimer idle;
    idle.start();
    while (idle.elapsed() < pictures::kWorkerIdleMs + kIdleMarginMs)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 100);
}

// The fakes, with the worker RORUMO_BENCH_WORKER names when set (to measure another build's).
platform::Services &withWorker(FakeServices &fakes)
{
    const QString worker = qEnvironmentVariable("RORUMO_BENCH_WORKER");
    if (!worker.isEmpty())
        fakes.services.pictureWorkers =
            std::make_shared<platform::HelperStarter>(QList<platform::HelperCommand>{{worker, {}}});
    return fakes.services;
}

class Bench
{
public:
    explicit Bench(const QString &executable) : m_fakes(executable), m_form(withWorker(m_fakes)) {}

    // Points the sign list at `folder`.
    void signsIn(const QString &folder)
    {
        Module2::HkPicDir = folder + u'/';
        m_form.picDir();
        Module2::HkPicIndex = 0;
    }
    // Down or Up, whichever moves, up to the sign painted.
    double step()
    {
        QElapsedTimer timer;
        timer.start();
        m_form.Picture1_KeyDown(Module2::HkPicIndex == 0 ? DestinationSign::kKeyDown
                                                         : DestinationSign::kKeyUp);
        m_form.waitForPictures();
        (void)m_form.Picture1->grab();
        return double(timer.nsecsElapsed()) / 1e6;
    }
    QSize signTwips() const { return m_form.ImgDesiMaku->picture().sizeTwips; }
    // Asks for the sign at `position` (nothing waits).
    void ask(int position) { m_form.sign().showFileAt(position); }
    // Waits until the sign is `twips` large; its time, or -1 past the limit.
    double until(QSize twips, const QElapsedTimer &since)
    {
        while (signTwips() != twips && since.elapsed() < kGiveUpMs)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
        if (signTwips() != twips)
            std::fprintf(stderr, "the sign shows %dx%d twips\n", signTwips().width(),
                         signTwips().height());
        return signTwips() == twips ? double(since.nsecsElapsed()) / 1e6 : -1;
    }
    void settle() { m_form.waitForPictures(); }

private:
    FakeServices m_fakes;
    Form1 m_form;
};

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const auto argument = [&](int i, int otherwise) {
        return argc > i ? std::max(0, QString::fromLocal8Bit(argv[i]).toInt()) : otherwise;
    };
    const int runs = argument(1, 9);
    QTemporaryDir dir;
    if (!dir.isValid())
        qFatal("no temporary folder");
    Bench bench(dir.filePath(QStringLiteral("rorumo")));
    const auto folder = [&](const QString &name) {
        const QString path = dir.filePath(name);
        QDir().mkpath(path);
        return path;
    };

    // --- Down -> sign painted -------------------------------------------------------------------
    if (runs > 0) {
        QImage small(52, 32, QImage::Format_RGB32);
        small.fill(Qt::darkBlue);
        const QString smallFolder = folder(QStringLiteral("bmp"));
        small.save(smallFolder + QStringLiteral("/a.bmp"));
        small.save(smallFolder + QStringLiteral("/b.bmp"));
        const QString emfFolder = folder(QStringLiteral("emf"));
        for (const char *name : {"/a.emf", "/b.emf"})
            if (!QFile::copy(QStringLiteral(RORUMO_BENCH_SHAPES_EMF), emfFolder + name))
                qFatal("no %s", RORUMO_BENCH_SHAPES_EMF);
        const QString photoFolder = folder(QStringLiteral("photo"));
        writePhoto(photoFolder + QStringLiteral("/a.jpg"), 4000, 3000);
        QFile::copy(photoFolder + QStringLiteral("/a.jpg"), photoFolder + QStringLiteral("/b.jpg"));
        const QString hugeFolder = folder(QStringLiteral("huge"));
        writePhoto(hugeFolder + QStringLiteral("/a.jpg"), 8000, 6000);
        QFile::copy(hugeFolder + QStringLiteral("/a.jpg"), hugeFolder + QStringLiteral("/b.jpg"));

        std::printf(
            "Down -> sign painted, medians (warm: of %d steps; after the idle end: of %d)\n", runs,
            kColdRuns);
        std::printf("%-28s %12s %16s %10s\n", "picture", "warm ms", "after idle ms", "sign px");
        double bmpWarm = 0;
        for (const auto &[what, where] : {std::pair{"52 x 32 BMP", smallFolder},
                                          std::pair{"clip-art EMF (shapes.ink)", emfFolder},
                                          std::pair{"4000 x 3000 JPEG", photoFolder},
                                          std::pair{"8000 x 6000 JPEG", hugeFolder}}) {
            bench.signsIn(where);
            bench.step(); // a warm worker, as after the first sign
            const double warm = bench::medianMs(runs, [&] { bench.step(); });
            if (bmpWarm == 0)
                bmpWarm = warm;
            std::vector<double> cold;
            for (int i = 0; i < kColdRuns; ++i) {
                idleEnd();
                cold.push_back(bench.step());
            }
            std::sort(cold.begin(), cold.end());
            const QSize shown = bench.signTwips() / 15;
            std::printf("%-28s %12.2f %16.2f %6dx%d\n", what, warm, cold[cold.size() / 2],
                        shown.width(), shown.height());
        }
        std::printf(
            "(goal: the 4000 x 3000 JPEG within 20 ms of the BMP; the BMP warm: %.2f ms)\n\n",
            bmpWarm);

        // --- memory with a huge GIF sign
        // ------------------------------------------------------------
        const QString gifFolder = folder(QStringLiteral("gif"));
        small.save(gifFolder + QStringLiteral("/a.bmp"));
        const int made = QProcess::execute(
            QStringLiteral("convert"),
            {QStringLiteral("-size"), QStringLiteral("5600x5600"), QStringLiteral("plasma:fractal"),
             QStringLiteral("-colors"), QStringLiteral("8"), gifFolder + QStringLiteral("/b.gif")});
        if (made != 0) {
            std::printf(
                "resident memory with a 5600 x 5600 GIF sign: not measured (no convert)\n\n");
        } else {
            bench.signsIn(gifFolder);
            const long before = residentKib();
            bench.step(); // onto the GIF
            const long withGif = residentKib();
            const qint64 gifBytes = QFileInfo(gifFolder + QStringLiteral("/b.gif")).size();
            std::printf("resident memory, small sign %ld KiB, 5600 x 5600 GIF sign (%lld KiB file) "
                        "%ld KiB: %+.1f MiB (goal <= 15)\n\n",
                        before, gifBytes / 1024, withGif, (withGif - before) / 1024.0);
        }
    }

    // --- the latest choice behind older slow ones -----------------------------------------------
    // Two slower pictures, then a slow one of another size, so the sign tells which it shows.
    const int kSlowSide = argument(2, 6400), kSlowerSide = argument(3, 8000);
    const QString slowFolder = folder(QStringLiteral("slow"));
    QImage small(52, 32, QImage::Format_RGB32);
    small.fill(Qt::darkBlue);
    writePhoto(slowFolder + QStringLiteral("/a.jpg"), kSlowerSide, kSlowerSide, true);
    QFile::copy(slowFolder + QStringLiteral("/a.jpg"), slowFolder + QStringLiteral("/b.jpg"));
    writePhoto(slowFolder + QStringLiteral("/c.jpg"), kSlowSide, kSlowSide, true);
    small.save(slowFolder + QStringLiteral("/d.bmp"));
    bench.signsIn(slowFolder);
    const QSize slowTwips(kSlowSide * 15, kSlowSide * 15);
    std::vector<double> alone, behind;
    for (int i = 0; i < kColdRuns; ++i) {
        bench.ask(3); // back to the small sign, every worker idle
        bench.settle();
        QElapsedTimer since;
        since.start();
        bench.ask(2);
        alone.push_back(bench.until(slowTwips, since));
        bench.settle();
        bench.ask(3);
        bench.settle();
        bench.ask(0);
        bench.ask(1);
        since.start();
        bench.ask(2);
        behind.push_back(bench.until(slowTwips, since));
        bench.settle();
    }
    std::sort(alone.begin(), alone.end());
    std::sort(behind.begin(), behind.end());
    const double a = alone[alone.size() / 2], b = behind[behind.size() / 2];
    std::printf(
        "slow picture (progressive JPEG of %d px a side; the slower ones %d), medians of %d:\n"
        "  alone %.0f ms, right after two slower ones %.0f ms: %.2f x (goal <= 1.25; "
        "-1: never shown)\n",
        kSlowSide, kSlowerSide, kColdRuns, a, b, a > 0 && b > 0 ? b / a : -1.0);
    return 0;
}
