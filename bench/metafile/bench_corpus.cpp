// Draws folders of real-world pictures: per file the result, natural size, median drawing time and
// peak extra memory, then the median and worst of the drawn files. Each file is drawn in a child
// process of its own, so that its peak memory is its own and one that never ends is stopped.
// Usage: bench_corpus [--runs N] [--timeout SECONDS] [--png DIR] [--rasters] FILE|FOLDER...
//   --png DIR   writes each drawing, on white, to DIR/<path as given>.png
//   --rasters   also loads BMP/GIF/JPEG files through the program's picture loader
// Output is tab-separated: file, result (drawn, refused, stopped, crashed), size, ms, KiB.
#include "bench/measure.h"
#include "metafile/metafile.h"
#include "pictures/picture_loader.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QPainter>
#include <QRegularExpression>
#include <algorithm>
#include <cstdio>
#include <vector>

// The picture loader's namespace, whichever of these it lives in.
namespace platform {}
namespace pictures {}

namespace {

bool isMetafile(const QString &path)
{
    const QString suffix = QFileInfo(path).suffix().toLower();
    return suffix == u"wmf" || suffix == u"emf";
}

bool isRaster(const QString &path)
{
    const QString suffix = QFileInfo(path).suffix().toLower();
    return suffix == u"bmp" || suffix == u"gif" || suffix == u"jpg" || suffix == u"jpeg";
}

std::optional<metafile::Picture> draw(const QString &path, const QByteArray &data)
{
    if (isMetafile(path))
        return metafile::render(data);
    using namespace platform;
    using namespace pictures;
    return loadPicture(path);
}

// Child: draws one file `runs` times; prints "drawn W H ms kib" or "refused", and writes the
// drawing on white to `png` unless it is empty.
int measure(const QString &path, int runs, const QString &png)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return 2;
    const QByteArray data = file.readAll();
    const long before = bench::peakResidentKib();
    std::optional<metafile::Picture> picture;
    const double ms = bench::medianMs(runs, [&] {
        picture = draw(path, data);
        return picture.has_value();
    });
    if (ms < 0 || !picture || picture->isEmpty()) {
        std::printf("refused\n");
        return 0;
    }
    const long kib = bench::peakResidentKib() - before;
    const QSize size = picture->sizeTwips / metafile::kTwipsPerPixel;
    std::printf("drawn %d %d %.3f %ld\n", size.width(), size.height(), ms, kib);
    if (!png.isEmpty()) {
        QImage onWhite(picture->image.size(), QImage::Format_RGB32);
        onWhite.fill(Qt::white);
        QPainter(&onWhite).drawImage(0, 0, picture->image);
        QDir().mkpath(QFileInfo(png).path());
        onWhite.save(png);
    }
    return 0;
}

struct Drawn
{
    QString file;
    double ms;
    long kib;
};

void printMedianAndWorst(std::vector<Drawn> drawn, const char *what, auto value)
{
    if (drawn.empty())
        return;
    std::sort(drawn.begin(), drawn.end(),
              [&](const Drawn &a, const Drawn &b) { return value(a) < value(b); });
    std::printf("# %s: median %g, worst %g (%s)\n", what, double(value(drawn[drawn.size() / 2])),
                double(value(drawn.back())), qPrintable(drawn.back().file));
}

} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    QStringList args = app.arguments().mid(1);
    if (args.size() == 4 && args[0] == QStringLiteral("--one"))
        return measure(args[1], args[2].toInt(), args[3]);

    int runs = 3;
    int timeoutS = 60;
    QString pngDir;
    bool rasters = false;
    QStringList files;
    QStringList targets;
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString &a = args[i];
        const bool hasValue = i + 1 < args.size();
        if (a == QStringLiteral("--runs") && hasValue)
            runs = std::max(1, args[++i].toInt());
        else if (a == QStringLiteral("--timeout") && hasValue)
            timeoutS = std::max(1, args[++i].toInt());
        else if (a == QStringLiteral("--png") && hasValue)
            pngDir = args[++i];
        else if (a == QStringLiteral("--rasters"))
            rasters = true;
        else
            targets.append(a);
    }
    for (const QString &target : targets) {
        if (!QFileInfo(target).isDir()) {
            files.append(target);
            continue;
        }
        QStringList found;
        for (QDirIterator it(target, QDir::Files, QDirIterator::Subdirectories); it.hasNext();) {
            const QString f = it.next();
            if (isMetafile(f) || (rasters && isRaster(f)))
                found.append(f);
        }
        found.sort();
        files += found;
    }

    std::printf("file\tresult\tsize\tms\tKiB\n");
    std::vector<Drawn> drawn;
    int refused = 0;
    for (const QString &path : files) {
        // Relative paths keep their tree under DIR; absolute ones and "../" lose their lead.
        const QString relative =
            QDir::cleanPath(path).remove(QRegularExpression(QStringLiteral("^(/|\\.\\./)+")));
        const QString png =
            pngDir.isEmpty() ? QString() : QDir(pngDir).filePath(relative + QStringLiteral(".png"));
        const bench::ChildRun child = bench::runChild(
            {QStringLiteral("--one"), path, QString::number(runs), png}, timeoutS * 1000);
        const QStringList &out = child.words;
        QString line = QStringLiteral("failed\t-\t-\t-");
        if (!child.finished)
            line = QStringLiteral("stopped\t-\t>%1\t-").arg(timeoutS * 1000);
        else if (child.exitCode < 0)
            line = QStringLiteral("crashed\t-\t-\t-");
        else if (child.exitCode == 0 && out.value(0) == QStringLiteral("refused"))
            line = QStringLiteral("refused\t-\t-\t-");
        else if (child.exitCode == 0 && out.size() >= 5 && out[0] == QStringLiteral("drawn")) {
            drawn.push_back({path, out[3].toDouble(), out[4].toLong()});
            line = QStringLiteral("drawn\t%1x%2\t%3\t%4").arg(out[1], out[2], out[3], out[4]);
        }
        refused += line.startsWith(QStringLiteral("refused"));
        std::printf("%s\t%s\n", qPrintable(path), qPrintable(line));
        std::fflush(stdout);
    }
    std::printf("# %zu drawn, %d refused, %lld stopped, crashed or failed\n", drawn.size(), refused,
                files.size() - qsizetype(drawn.size()) - refused);
    printMedianAndWorst(drawn, "ms", [](const Drawn &d) { return d.ms; });
    printMedianAndWorst(drawn, "KiB", [](const Drawn &d) { return d.kib; });
    return 0;
}
