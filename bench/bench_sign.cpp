// How fast the sign folder is read and a new sign is shown.
//
//   bench_sign [number of sign files, default 10000]
//
// Prints median times of: the chooser's OK up to the sign list being ready, against `ls | sort`
// on the same folder; the memory the list holds; and 設定 up to the new sign painted, for a small
// sign and for a large photo, next to the decode alone.

#include "app/form1.h"
#include "bench/measure.h"
#include "common/module2.h"
#include "controls/image_control.h"
#include "controls/picture_box.h"
#include "panel/frm_set.h"
#include "pictures/picture_loader.h"
#include "pictures/picture_requests.h"
#include "sign/destination_sign.h"
#include "sign/frm_browse_dir.h"
#include "support/fakes.h"

#include <QApplication>
#include <QBuffer>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QThreadPool>
#include <algorithm>
#include <cstdio>
#include <vector>

#if defined(__GLIBC__)
#include <malloc.h>
#endif

namespace {

constexpr int kRuns = 7;
constexpr int kStepRuns = 51;
constexpr int kIdleMarginMs = 2000;

// The processes this one has started that are still there.
int childProcesses()
{
    int count = 0;
    const QString self = QString::number(QCoreApplication::applicationPid());
    for (const QString &pid : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
        QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
        if (!stat.open(QIODevice::ReadOnly))
            continue;
        // pid (name) state ppid ...: the name may hold spaces and parentheses.
        const QString line = QString::fromUtf8(stat.readAll());
        const QStringList after = line.mid(line.lastIndexOf(u')') + 2).split(u' ');
        if (after.size() > 1 && after[1] == self)
            ++count;
    }
    return count;
}

QByteArray encoded(const QImage &image, const char *format, int quality = -1)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, format, quality);
    return bytes;
}

qint64 heapInUse()
{
#if defined(__GLIBC__) && (__GLIBC__ > 2 || (__GLIBC__ == 2 && __GLIBC_MINOR__ >= 33))
    return qint64(mallinfo2().uordblks);
#else
    return -1;
#endif
}

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int fileCount = argc > 1 ? std::max(1, QString::fromLocal8Bit(argv[1]).toInt()) : 10000;

    QTemporaryDir dir;
    if (!dir.isValid())
        qFatal("no temporary folder");
    FakeServices fakes(dir.filePath("rorumo"));
    Form1 form(fakes.services);

    // The sign folder: small BMPs, names in mixed case so the case-blind order has work to do.
    const QString signs = dir.filePath("signs");
    QDir().mkpath(signs);
    QImage small(52, 32, QImage::Format_RGB32);
    small.fill(Qt::darkBlue);
    const QByteArray smallBmp = encoded(small, "BMP");
    for (int i = 0; i < fileCount; ++i) {
        const QString name =
            QStringLiteral("%1%2.bmp").arg(i % 2 ? "Sign" : "sign").arg(i, 5, 10, QChar(u'0'));
        bench::writeFile(signs + u'/' + name, smallBmp);
    }

    // --- the list -------------------------------------------------------------------------------
    const double listMs = bench::medianMs(kRuns, [&] {
        frmBrowseDir &chooser = form.browseDir();
        chooser.Text1->setText(signs);
        chooser.Command2_Click(0);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    });
    if (form.File1.listCount() != fileCount)
        qFatal("the list holds %d names, not %d", form.File1.listCount(), fileCount);
    const double lsMs = bench::medianMs(kRuns, [&] {
        QProcess shell;
        shell.start(
            QStringLiteral("sh"),
            {QStringLiteral("-c"), QStringLiteral("ls '%1' | sort > /dev/null").arg(signs)});
        shell.waitForFinished(-1);
    });
    const double spawnMs = bench::medianMs(kRuns, [&] {
        QProcess shell;
        shell.start(QStringLiteral("sh"), {QStringLiteral("-c"), QStringLiteral("true")});
        shell.waitForFinished(-1);
    });

    // Memory: the names' own storage, estimated, and what the heap really grew by.
    qint64 estimate = qint64(form.File1.names().size()) * qint64(sizeof(QString));
    for (const QString &name : form.File1.names()) {
        const qint64 block = 16 + (name.size() + 1) * 2; // array header + UTF-16 + NUL
        estimate += (block + 8 + 15) / 16 * 16;          // malloc's header and rounding
    }
    qint64 heapGrowth = -1;
    {
        const qint64 before = heapInUse();
        FileList list(form.File1.pattern());
        list.setPath(signs);
        const qint64 after = heapInUse();
        if (before >= 0)
            heapGrowth = after - before;
    }

    // --- showing a sign
    // ---------------------------------------------------------------------------
    QImage photo(4000, 3000, QImage::Format_RGB32);
    QRandomGenerator random(1);
    for (int y = 0; y < photo.height(); ++y) {
        auto *line = reinterpret_cast<quint32 *>(photo.scanLine(y));
        for (int x = 0; x < photo.width(); ++x)
            line[x] = random.generate() | 0xff000000u;
    }
    const QString bigFolder = dir.filePath("photo");
    const QString smallFolder = dir.filePath("small");
    QDir().mkpath(bigFolder);
    QDir().mkpath(smallFolder);
    bench::writeFile(bigFolder + "/photo.jpg", encoded(photo, "JPEG", 90));
    bench::writeFile(smallFolder + "/sign.bmp", smallBmp);
    const qint64 photoBytes = QFileInfo(bigFolder + "/photo.jpg").size();

    struct ShowRow
    {
        const char *what;
        double setAndGrabSign;
        double setAndGrabBox;
        double decode;
    };
    std::vector<ShowRow> rows;
    QLabel &display = *form.panel().Label1;
    for (const auto &[what, folder, file] :
         {std::tuple{"52 x 32 BMP", smallFolder, QStringLiteral("sign.bmp")},
          std::tuple{"4000 x 3000 JPEG", bigFolder, QStringLiteral("photo.jpg")}}) {
        Module2::HkPicDir = folder;
        form.picDir();
        display.clear();
        const int runs = folder == bigFolder ? 5 : 51;
        const double sign = bench::medianMs(runs, [&] {
            form.panel().Command2_Click(11);
            form.waitForPictures();
            (void)form.ImgDesiMaku->grab();
        });
        const double box = bench::medianMs(runs, [&] {
            form.panel().Command2_Click(11);
            form.waitForPictures();
            (void)form.Picture1->grab();
        });
        const QString path = Module2::HkPicDir + file;
        const double decode = bench::medianMs(runs, [&] { (void)pictures::loadPicture(path); });
        if (form.ImgDesiMaku->picture().isEmpty())
            qFatal("the sign shows nothing");
        rows.push_back({what, sign, box, decode});
    }

    // --- the table ------------------------------------------------------------------------------
    std::printf("Sign folder: %d BMP files of 52 x 32 px; medians of %d runs\n\n", fileCount,
                kRuns);
    std::printf("%-40s %10s\n", "", "ms");
    std::printf("%-40s %10.2f\n", "chooser OK -> list ready", listMs);
    std::printf("%-40s %10.2f\n", "sh -c 'ls DIR | sort'", lsMs);
    std::printf("%-40s %10.2f\n", "  of which starting sh (sh -c true)", spawnMs);
    std::printf("%-40s %10.2f   (goal <= 2)\n", "ratio list / ls|sort", listMs / lsMs);
    std::printf("%-40s %10.2f\n\n", "ratio list / (ls|sort - sh start)",
                listMs / std::max(0.001, lsMs - spawnMs));
    std::printf("%-40s %10.0f KiB (%.0f bytes a name)\n", "list memory, estimated",
                estimate / 1024.0, double(estimate) / fileCount);
    if (heapGrowth >= 0)
        std::printf("%-40s %10.0f KiB\n\n", "list memory, heap growth", heapGrowth / 1024.0);

    std::printf("設定 -> sign painted (JPEG file %.1f MiB)\n", photoBytes / 1048576.0);
    std::printf("%-18s %16s %16s %12s %10s\n", "picture", "set+grab sign", "set+grab box", "decode",
                "decode %");
    for (const ShowRow &row : rows)
        std::printf("%-18s %13.2f ms %13.2f ms %9.2f ms %9.0f%%\n", row.what, row.setAndGrabSign,
                    row.setAndGrabBox, row.decode, 100.0 * row.decode / row.setAndGrabBox);

    // --- Down on the sign: the picture worker against the loading thread it replaced ----------
    std::printf("\nDown -> sign painted, medians of %d steps between two copies\n", kStepRuns);
    std::printf("%-28s %14s %14s %12s   (goal <= 16)\n", "picture", "worker (warm)",
                "thread (before)", "added");
    QFile shapes(QStringLiteral(RORUMO_BENCH_SHAPES_EMF));
    if (!shapes.open(QIODevice::ReadOnly))
        qFatal("no %s", qPrintable(shapes.fileName()));
    const QByteArray shapesEmf = shapes.readAll();
    QThreadPool thread;
    thread.setMaxThreadCount(1);
    for (const auto &[what, bytes, suffix] :
         {std::tuple{"52 x 32 BMP", smallBmp, ".bmp"},
          std::tuple{"clip art EMF (shapes.ink)", shapesEmf, ".emf"}}) {
        const QString folder = dir.filePath(QStringLiteral("step") + suffix);
        QDir().mkpath(folder);
        for (const char *name : {"a", "b"})
            bench::writeFile(folder + u'/' + name + suffix, bytes);
        Module2::HkPicDir = folder;
        form.picDir();
        Module2::HkPicIndex = 0;
        const auto step = [&] {
            form.Picture1_KeyDown(Module2::HkPicIndex == 0 ? DestinationSign::kKeyDown
                                                           : DestinationSign::kKeyUp);
        };
        step(); // a warm worker, as after the first sign
        form.waitForPictures();
        const double worker = bench::medianMs(kStepRuns, [&] {
            step();
            form.waitForPictures();
            (void)form.ImgDesiMaku->grab();
        });
        const double before = bench::medianMs(kStepRuns, [&] {
            Module2::HkPicIndex = 1 - Module2::HkPicIndex;
            const QString path = folder + u'/' + (Module2::HkPicIndex ? "b" : "a") + suffix;
            const qreal ratio = form.ImgDesiMaku->devicePixelRatioF();
            bool shown = false;
            thread.start([&, path, ratio] {
                auto picture = pictures::loadPicture(
                    path, ratio, {QDeadlineTimer(pictures::kPictureDeadlineMs)});
                QMetaObject::invokeMethod(
                    &form,
                    [&, picture = std::move(picture)]() mutable {
                        if (picture)
                            form.ImgDesiMaku->setPicture(std::move(*picture));
                        shown = true;
                    },
                    Qt::QueuedConnection);
            });
            while (!shown)
                QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
            (void)form.ImgDesiMaku->grab();
        });
        std::printf("%-28s %11.2f ms %11.2f ms %9.2f ms\n", what, worker, before, worker - before);
    }

    // No worker stays once the pictures have been idle for a while.
    QElapsedTimer idle;
    idle.start();
    while (idle.elapsed() < pictures::kWorkerIdleMs + kIdleMarginMs)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 100);
    std::printf("picture workers alive %d s after the last picture: %d\n",
                (pictures::kWorkerIdleMs + kIdleMarginMs) / 1000, childProcesses());
    return 0;
}
