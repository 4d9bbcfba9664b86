// The player against the usual alternative on this platform, libemf2svg turning the EMF into SVG
// and QtSvg drawing that, both into an image of the picture's natural size. For the benchmark
// only: the program links neither.
// Usage: bench_emf2svg [RUNS]
#include "bench/measure.h"
#include "metafile/metafile.h"

#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QSvgRenderer>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <emf2svg.h>

namespace {

const char *failure = "";

bool throughSvg(QByteArray data, QSize size)
{
    generatorOptions options{};
    options.nameSpace = const_cast<char *>("svg");
    options.svgDelimiter = true;
    options.imgWidth = size.width();
    options.imgHeight = size.height();
    char *svg = nullptr;
    size_t length = 0;
    if (!emf2svg(data.data(), size_t(data.size()), &svg, &length, &options) || !svg) {
        failure = "no SVG";
        return false;
    }
    QSvgRenderer renderer(QByteArray(svg, qsizetype(length)));
    std::free(svg);
    if (!renderer.isValid()) {
        failure = "SVG rejected";
        return false;
    }
    QImage image(size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    renderer.render(&painter);
    return true;
}

} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication application(argc, argv);
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 20;
    const QDir fixtures(QStringLiteral(RORUMO_METAFILE_FIXTURES));
    std::printf("%-18s %12s %16s %8s\n", "EMF file", "player ms", "emf2svg+svg ms", "ratio");
    for (const QString &name : fixtures.entryList({QStringLiteral("*.emf")}, QDir::Files)) {
        QFile file(fixtures.filePath(name));
        if (!file.open(QIODevice::ReadOnly))
            continue;
        const QByteArray data = file.readAll();
        const auto picture = metafile::render(data);
        if (!picture)
            continue;
        const QSize size = picture->image.size();
        const double ours =
            bench::medianMs(runs, [&] { return metafile::render(data).has_value(); });
        const double theirs = bench::medianMs(runs, [&] { return throughSvg(data, size); });
        if (theirs < 0)
            std::printf("%-18s %12.3f %16s\n", qPrintable(name), ours, failure);
        else
            std::printf("%-18s %12.3f %16.3f %8.2f\n", qPrintable(name), ours, theirs,
                        ours / theirs);
    }
    return 0;
}
