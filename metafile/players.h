#pragma once

#include "metafile.h"

#include <QSize>

namespace metafile::detail {

inline constexpr int kMaxImageSide = 16384;
inline constexpr qint64 kMaxImageBytes = qint64(128) * 1024 * 1024;
inline constexpr qint64 kMaxRecords = 1000000;
// How often the scans that charge nothing look at the deadline.
inline constexpr qint64 kRecordsBetweenStops = 4096;

// The image a picture of `twips` plays into, or a null image when it is empty or too large.
QImage makeTargetImage(QSizeF twips, qreal devicePixelRatio);
// Whether nothing at all has been drawn on `image`.
bool isBlank(const QImage &image);

std::optional<Picture> renderWmf(QByteArrayView data, qreal devicePixelRatio, const Stop &stop);
std::optional<Picture> renderEmf(QByteArrayView data, qreal devicePixelRatio, const Stop &stop);

} // namespace metafile::detail
