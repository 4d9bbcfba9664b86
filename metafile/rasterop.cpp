#include "rasterop.h"

namespace metafile::detail {

namespace {

constexpr QRgb kRgbMask = 0x00FFFFFF;
constexpr int kHalfOpaque = 128;

quint32 evaluate(quint8 index, quint32 p, quint32 s, quint32 d)
{
    quint32 out = 0;
    for (int term = 0; term < 8; ++term) {
        if (!(index & (1 << term)))
            continue;
        out |= ((term & 4) ? p : ~p) & ((term & 2) ? s : ~s) & ((term & 1) ? d : ~d);
    }
    return out & kRgbMask;
}

quint32 opaqueColor(QRgb premultiplied)
{
    return qUnpremultiply(premultiplied) & kRgbMask;
}

} // namespace

void applyRop3(QImage &image, const QRect &area, const QImage &mask, const QImage &pattern,
               const QImage &source, quint8 index)
{
    const QRect target = area.intersected(image.rect());
    const auto fits = [&](const QImage &layer) {
        return layer.isNull() || layer.size() == area.size();
    };
    if (target.isEmpty() || mask.size() != area.size() || mask.format() != QImage::Format_Alpha8 ||
        !fits(pattern) || !fits(source) || image.format() != QImage::Format_ARGB32_Premultiplied)
        return;
    const auto at = [&](const QImage &layer, int x, int y) -> QRgb {
        if (layer.isNull())
            return 0;
        return reinterpret_cast<const QRgb *>(layer.constScanLine(y - area.top()))[x - area.left()];
    };
    for (int y = target.top(); y <= target.bottom(); ++y) {
        auto *line = reinterpret_cast<QRgb *>(image.scanLine(y));
        for (int x = target.left(); x <= target.right(); ++x) {
            if (mask.constScanLine(y - area.top())[x - area.left()] < kHalfOpaque)
                continue;
            const QRgb below = line[x];
            const bool paper = qAlpha(below) == 0;
            const quint32 d = paper ? kRgbMask : opaqueColor(below);
            const quint32 out =
                evaluate(index, opaqueColor(at(pattern, x, y)), opaqueColor(at(source, x, y)), d);
            line[x] = (paper && out == kRgbMask) ? below : (0xFF000000u | out);
        }
    }
}

} // namespace metafile::detail
