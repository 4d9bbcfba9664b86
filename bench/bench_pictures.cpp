// Time and peak memory of loading small pictures that cost a lot to draw (tests/metafile/costly.h).
// Usage: bench_pictures [--write DIR] [--limit SECONDS]
// Each picture is loaded once, in a child process of its own, so its peak memory is its own; a
// child still busy after the limit (default 120 s) is stopped and reported as such.
#include "bench/measure.h"
#include "metafile/costly.h"
#include "pictures/picture_loader.h"

#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QTemporaryDir>
#include <cstdio>

namespace {

// Child: prints "ms peak_kib result".
int measure(const QString &path)
{
    std::optional<Picture> picture;
    const double ms = bench::medianMs(1, [&] { picture = platform::loadPicture(path); });
    const QString result =
        picture
            ? QStringLiteral("drawn %1x%2").arg(picture->image.width()).arg(picture->image.height())
            : QStringLiteral("refused");
    std::printf("%.0f %ld %s\n", ms, bench::peakResidentKib(), qPrintable(result));
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    QStringList args = app.arguments().mid(1);
    if (args.size() == 2 && args[0] == QStringLiteral("--one"))
        return measure(args[1]);

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
    std::printf("%-42s %8s %10s %12s  %s\n", "picture", "KiB", "ms", "peak KiB", "result");
    for (const auto &costly : testing::costly::all()) {
        const QString path = QDir(dir).filePath(QString::fromLatin1(costly.file));
        const QByteArray bytes = costly.make();
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
            return 1;
        file.close();
        const bench::ChildRun child =
            bench::runChild({QStringLiteral("--one"), path}, limitSeconds * 1000);
        const QStringList &out = child.words;
        if (!child.finished)
            std::printf("%-42s %8lld %10s %12s  %s\n", costly.name, bytes.size() / 1024LL,
                        qPrintable(QStringLiteral("> %1").arg(limitSeconds * 1000)), "-",
                        "stopped");
        else if (out.size() < 3)
            std::printf("%-42s %8lld  failed\n", costly.name, bytes.size() / 1024LL);
        else
            std::printf("%-42s %8lld %10s %12s  %s\n", costly.name, bytes.size() / 1024LL,
                        qPrintable(out[0]), qPrintable(out[1]), qPrintable(out.mid(2).join(u' ')));
        std::fflush(stdout);
    }
    return 0;
}
