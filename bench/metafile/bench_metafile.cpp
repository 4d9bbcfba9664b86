// Decode time and peak memory of the metafile player per fixture.
// Usage: bench_metafile [RUNS] [FILES...]   (default: 20 runs over the test fixtures)
// Each file is measured in a fresh child process so that its peak memory is its own.
#include "bench/measure.h"
#include "metafile/metafile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <cstdio>

namespace {

// Child: renders one file `runs` times and prints "median_ms peak_kb width height".
int measure(const QString &path, int runs)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return 2;
    const QByteArray data = file.readAll();
    const long before = bench::peakResidentKib();
    QSize size;
    const double ms = bench::medianMs(runs, [&] {
        const auto picture = metafile::render(data);
        if (picture)
            size = picture->image.size();
        return picture.has_value();
    });
    if (ms < 0)
        return 3;
    std::printf("%.3f %ld %d %d\n", ms, bench::peakResidentKib() - before, size.width(),
                size.height());
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    QStringList args = app.arguments().mid(1);
    if (args.size() == 3 && args[0] == QStringLiteral("--one"))
        return measure(args[1], args[2].toInt());

    int runs = 20;
    if (!args.isEmpty() && args[0].toInt() > 0)
        runs = args.takeFirst().toInt();
    if (args.isEmpty()) {
        const QDir dir(QStringLiteral(RORUMO_METAFILE_FIXTURES));
        for (const QString &f :
             dir.entryList({QStringLiteral("*.wmf"), QStringLiteral("*.emf")}, QDir::Files))
            args.append(dir.filePath(f));
    }
    std::printf("%-20s %8s %10s %12s %14s\n", "file", "bytes", "pixels", "median ms",
                "peak extra KiB");
    for (const QString &path : args) {
        const bench::ChildRun child =
            bench::runChild({QStringLiteral("--one"), path, QString::number(runs)});
        const QString name = QFileInfo(path).fileName();
        const QStringList &out = child.words;
        if (child.exitCode != 0 || out.size() < 4) {
            std::printf("%-20s failed\n", qPrintable(name));
            continue;
        }
        std::printf("%-20s %8lld %10s %12s %14s\n", qPrintable(name), QFileInfo(path).size(),
                    qPrintable(out[2] + u'x' + out[3]), qPrintable(out[0]), qPrintable(out[1]));
    }
    return 0;
}
