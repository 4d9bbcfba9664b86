#pragma once

#include "pictures/picture.h"

#include <QDeadlineTimer>
#include <QString>
#include <atomic>
#include <optional>

namespace pictures {

// Largest file the loader reads; anything bigger is not a picture we want on a bus.
inline constexpr qint64 kMaxPictureFileBytes = 64 * 1024 * 1024;

// Loads a picture file, deciding the format by its content: BMP, GIF (first frame), JPEG, PNG and
// ICO, and the Windows metafiles WMF and EMF. The empty path gives the empty picture. Anything
// that is not a readable regular file holding a picture gives std::nullopt.
std::optional<Picture> loadPicture(const QString &path, qreal devicePixelRatio = 1.0);

// When a load gives up: at the deadline, or once `abandoned` is set.
struct LoadStop
{
    QDeadlineTimer deadline{QDeadlineTimer::Forever};
    const std::atomic_bool *abandoned = nullptr;
};

// As above; a picture not loaded before `stop` cannot be loaded. With a `visible` size (in
// device-independent pixels) only the picture's top-left part a box of that size shows is kept:
// a bitmap's pixels, as far as its reader can, are decoded only that far, a metafile's drawing
// is cut to it. The natural size stays the whole picture's.
std::optional<Picture> loadPicture(const QString &path, qreal devicePixelRatio,
                                   const LoadStop &stop, QSize visible = {});

// The most pixels an image may have: what the worker decodes a photo into (a 48-megapixel one
// takes 183 MiB), far below the worker's own address-space limit.
inline constexpr qint64 kMaxImageBytes = qint64(256) * 1024 * 1024;

} // namespace pictures
