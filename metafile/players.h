#pragma once

#include "budget.h"
#include "metafile.h"

#include <QSize>
#include <functional>

namespace metafile::detail {

inline constexpr int kMaxImageSide = 16384;
inline constexpr qint64 kMaxImageBytes = qint64(128) * 1024 * 1024;
inline constexpr qint64 kMaxRecords = 1000000;
// The largest natural size given to a picture measured in physical units (a plain WMF in a
// metric mode, an EMF's frame), so that it still fits at twice the pixel density; a larger one is
// brought down to it, aspect kept, rather than refused.
inline constexpr qreal kMaxPhysicalSide = 4096;
inline constexpr qreal kMaxPhysicalPixels = 4096.0 * 1024;
// How often the scans that charge nothing look at the deadline.
inline constexpr qint64 kRecordsBetweenStops = 4096;

// What a picture of `twips` plays into: the whole picture's size in image pixels, and the image,
// which holds only its top-left `seen` pixels where `seen` is not empty. A null image when the
// picture is empty or too large.
struct Target
{
    QImage image;
    QSize picture;
};
Target makeTarget(QSizeF twips, qreal devicePixelRatio, QSize seen);
// What a picture comes to that skipped records and shows nothing in the `drawn` pixels played:
// refused when that was the whole `picture`; when it was only a corner, it is played whole after
// all (`playWhole`) and its corner kept if it shows anything anywhere.
std::optional<Picture> blankPlayed(QSize drawn, QSize picture,
                                   const std::function<std::optional<Picture>()> &playWhole);
// `pixels` brought down within kMaxPhysicalSide and kMaxPhysicalPixels, aspect kept.
QSizeF fitPhysical(QSizeF pixels);
// Whether nothing at all has been drawn on `image`.
bool isBlank(const QImage &image);

std::optional<Picture> renderWmf(QByteArrayView data, qreal devicePixelRatio, const Stop &stop,
                                 QSize seen = {}, const Nesting &nesting = {});
std::optional<Picture> renderEmf(QByteArrayView data, qreal devicePixelRatio, const Stop &stop,
                                 QSize seen = {}, const Nesting &nesting = {});
// A metafile of either kind drawn inside another one; its image's pixel ratio is left at 1.
std::optional<Picture> renderNested(QByteArrayView data, qreal devicePixelRatio,
                                    const Nesting &nesting);

} // namespace metafile::detail
