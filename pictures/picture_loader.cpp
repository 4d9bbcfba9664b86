#include "pictures/picture_loader.h"

#include "bytes/byte_reader.h"
#include "bytes/jpeg_scans.h"
#include "metafile/metafile.h"
#include "pictures/twips.h"
#include "platform/file_names.h"

#include <QBuffer>
#include <QFile>
#include <QImageReader>
#include <cmath>

namespace pictures {

namespace {

using bytes::ByteReader;

// Decoding a JPEG may cost as much as a metafile's whole drawing (see bytes::jpegScanPixels).
constexpr qint64 kMaxJpegScanPixels = qint64(1) << 30;

// Qt's JPEG reader decodes a cut-off file without complaint and fills the missing part with
// grey; such a file is no picture to us. A cut-off PNG already fails in its reader, and BMP files
// never reach Qt.
bool looksComplete(const QByteArray &format, const QByteArray &bytes)
{
    if (format == "jpeg" || format == "jpg") {
        bool ended = false;
        return bytes::jpegScanPixels(bytes, &ended) <= kMaxJpegScanPixels && ended;
    }
    return true;
}

// The top-left part of `image` that `visible` image pixels show (all of it when empty).
QImage seenPart(QImage image, QSize visible)
{
    if (visible.isEmpty() ||
        (image.width() <= visible.width() && image.height() <= visible.height()))
        return image;
    return image.copy(QRect(QPoint(0, 0), visible).intersected(image.rect()));
}

std::optional<Picture> decodeBitmap(const QByteArray &bytes, const LoadStop &stop, QSize visible)
{
    // BMP files are read as the metafile player reads the bitmaps inside metafiles.
    if (bytes.startsWith("BM")) {
        std::optional<QImage> image = metafile::decodeBmp(bytes, {stop.deadline, stop.abandoned});
        if (!image)
            return std::nullopt;
        const QSize twips(pixelsToTwips(image->width()), pixelsToTwips(image->height()));
        return Picture{seenPart(std::move(*image), visible), twips};
    }
    QBuffer buffer;
    buffer.setData(bytes);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer);
    reader.setDecideFormatFromContent(true);
    // Only the formats a sign or signboard may be; this also keeps odd plugins out of the way.
    static const QList<QByteArray> kAcceptedFormats = {"gif", "jpeg", "jpg", "png", "ico", "cur"};
    if (!kAcceptedFormats.contains(reader.format()) || !looksComplete(reader.format(), bytes))
        return std::nullopt;
    // A phone's photo is larger than Qt's readers allow by default.
    reader.setAllocationLimit(int(kMaxImageBytes / (1024 * 1024)));
    // Told the part to keep, JPEG's reader decodes the lines only down to its bottom edge; the
    // other readers decode everything and keep that part. A photo turned by its EXIF orientation
    // is turned after decoding, so its top-left corner is only known then.
    const bool turned =
        reader.autoTransform() && reader.transformation() != QImageIOHandler::TransformationNone;
    const QSize natural = turned ? QSize() : reader.size();
    if (!visible.isEmpty() && natural.isValid())
        reader.setClipRect(QRect(QPoint(0, 0), visible).intersected(QRect(QPoint(0, 0), natural)));
    QImage image = reader.read();
    if (image.isNull() || stop.deadline.hasExpired() ||
        (stop.abandoned && stop.abandoned->load(std::memory_order_relaxed)))
        return std::nullopt;
    const QSize size = natural.isValid() && !visible.isEmpty() ? natural : image.size();
    return Picture{seenPart(std::move(image), visible),
                   QSize(pixelsToTwips(size.width()), pixelsToTwips(size.height()))};
}

} // namespace

std::optional<Picture> loadPicture(const QString &path, qreal devicePixelRatio)
{
    return loadPicture(path, devicePixelRatio, {});
}

std::optional<Picture> loadPicture(const QString &path, qreal devicePixelRatio,
                                   const LoadStop &stop, QSize visible)
{
    if (path.isEmpty())
        return Picture{};
    // Only regular files: a FIFO or a device would block or never end.
    QFile file;
    if (!platform::openRegularFile(file, path) || file.size() > kMaxPictureFileBytes)
        return std::nullopt;
    const QByteArray bytes = file.read(kMaxPictureFileBytes + 1);
    if (bytes.isEmpty() || bytes.size() > kMaxPictureFileBytes)
        return std::nullopt;

    if (metafile::detect(bytes) != metafile::Format::None) {
        // A pixel the box shows only a part of shows too.
        const QSize seen = visible.isEmpty()
                               ? QSize()
                               : QSize(int(std::ceil(visible.width() * devicePixelRatio)),
                                       int(std::ceil(visible.height() * devicePixelRatio)));
        return metafile::render(bytes, devicePixelRatio, {stop.deadline, stop.abandoned}, seen);
    }
    return decodeBitmap(bytes, stop, visible);
}

} // namespace pictures
