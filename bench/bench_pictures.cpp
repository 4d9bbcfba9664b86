// Time and peak memory of loading small pictures that cost a lot to draw (tests/metafile/costly.h),
// before and after the picture worker: in this process with the deadline, as the loading thread
// did; and through the program's own path (PictureRequests and its worker process).
// Usage: bench_pictures [--write DIR] [--limit SECONDS]
// Each picture is loaded once, in a child process of its own, so its peak memory is its own; a
// child still busy after the limit (default 120 s) is stopped and reported as such.
#include "bench/measure.h"
#include "metafile/costly.h"
#include "pictures/picture_loader.h"
#include "pictures/picture_requests.h"

#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QTemporaryDir>
#include <cstdio>
#include <sys/resource.h>

namespace {

QString result(const std::optional<Picture> &picture)
{
    return picture ? QStringLiteral("drawn_%1x%2")
                         .arg(picture->image.width())
                         .arg(picture->image.height())
                   : QStringLiteral("refused");
}

// Child: prints "ms peak_kib result", in this process as the loading thread did.
int measureBefore(const QString &path)
{
    std::optional<Picture> picture;
    const double ms = bench::medianMs(1, [&] {
        picture = pictures::loadPicture(path, 1.0, {QDeadlineTimer(pictures::kPictureDeadlineMs)});
    });
    std::printf("%.0f %ld %s\n", ms, bench::peakResidentKib(), qPrintable(result(picture)));
    return 0;
}

// Child: prints "ms peak_kib worker_peak_kib result", through a worker process.
int measureAfter(const QString &path)
{
    std::optional<Picture> picture;
    double ms = 0;
    {
        pictures::PictureRequests requests(QStringLiteral(RORUMO_BENCH_PICTURE_WORKER));
        ms = bench::medianMs(1, [&] {
            requests.request(path, 1.0, [&](std::optional<Picture> p) { picture = std::move(p); });
            requests.waitForAnswer();
        });
    } // ends the worker, so that its peak counts among the children's
    rusage children{};
    getrusage(RUSAGE_CHILDREN, &children);
    std::printf("%.0f %ld %ld %s\n", ms, bench::peakResidentKib(), children.ru_maxrss,
                qPrintable(result(picture)));
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    QStringList args = app.arguments().mid(1);
    if (args.size() == 2 && args[0] == QStringLiteral("--before"))
        return measureBefore(args[1]);
    if (args.size() == 2 && args[0] == QStringLiteral("--after"))
        return measureAfter(args[1]);

    QTemporaryDir temporary;
    QString dir = temporary.path();
    int limitSeconds = 120;
    for (qsizetype i = 0; i + 1 < args.size(); i += 2) {
        if (args[i] == QStringLiteral("--write"))
            dir = args[i + 1];
        else if (args[i] == QStringLiteral("--limit"))
            limitSeconds = args[i + 1].toInt();
    }
    QDir().mkpath(dir);
    std::printf("%-42s %6s | %-28s | %s\n", "", "", "before: in the program",
                "after: through the picture worker");
    std::printf("%-42s %6s | %7s %9s %10s | %7s %9s %9s %9s\n", "picture", "KiB", "ms", "peak KiB",
                "result", "ms", "peak KiB", "wrk KiB", "result");
    for (const auto &costly : testing::costly::all()) {
        const QString path = QDir(dir).filePath(QString::fromLatin1(costly.file));
        const QByteArray bytes = costly.make();
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
            return 1;
        file.close();
        std::printf("%-42s %6lld |", costly.name, bytes.size() / 1024LL);
        for (const QString &mode : {QStringLiteral("--before"), QStringLiteral("--after")}) {
            const bench::ChildRun child = bench::runChild({mode, path}, limitSeconds * 1000);
            const QStringList &out = child.words;
            const bool after = mode == QStringLiteral("--after");
            if (!child.finished)
                std::printf(" %7s %9s %s%10s |",
                            qPrintable(QStringLiteral(">%1").arg(limitSeconds * 1000)), "-",
                            after ? "        - " : "", "stopped");
            else if (out.size() < (after ? 4 : 3))
                std::printf(" %7s %9s %s%10s |", "-", "-", after ? "        - " : "", "failed");
            else if (after)
                std::printf(" %7s %9s %9s %9s", qPrintable(out[0]), qPrintable(out[1]),
                            qPrintable(out[2]), qPrintable(out[3]));
            else
                std::printf(" %7s %9s %10s |", qPrintable(out[0]), qPrintable(out[1]),
                            qPrintable(out[2]));
        }
        std::printf("\n");
        std::fflush(stdout);
    }
    return 0;
}
