#include "pictures/picture_loader.h"

#include "bytes/byte_reader.h"
#include "bytes/jpeg_scans.h"
#include "metafile/metafile.h"
#include "pictures/twips.h"
#include "platform/file_names.h"

#include <QBuffer>
#include <QFile>
#include <QImageReader>

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
        // The end-of-image marker must follow the last scan (a thumbnail's marker comes before).
        const qsizetype lastScan = bytes.lastIndexOf("\xff\xda");
        return lastScan >= 0 && bytes.indexOf("\xff\xd9", lastScan) > lastScan &&
               bytes::jpegScanPixels(bytes) <= kMaxJpegScanPixels;
    }
    return true;
}

std::optional<Picture> decodeBitmap(const QByteArray &bytes, const LoadStop &stop)
{
    // BMP files are read as the metafile player reads the bitmaps inside metafiles.
    if (bytes.startsWith("BM")) {
        std::optional<QImage> image = metafile::decodeBmp(bytes, {stop.deadline, stop.abandoned});
        if (!image)
            return std::nullopt;
        const QSize twips(pixelsToTwips(image->width()), pixelsToTwips(image->height()));
        return Picture{std::move(*image), twips};
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
    QImage image = reader.read();
    if (image.isNull() || stop.deadline.hasExpired())
        return std::nullopt;
    Picture picture;
    picture.sizeTwips = {pixelsToTwips(image.width()), pixelsToTwips(image.height())};
    picture.image = std::move(image);
    return picture;
}

} // namespace

std::optional<Picture> loadPicture(const QString &path, qreal devicePixelRatio)
{
    return loadPicture(path, devicePixelRatio, {});
}

std::optional<Picture> loadPicture(const QString &path, qreal devicePixelRatio,
                                   const LoadStop &stop)
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
        return metafile::render(bytes, devicePixelRatio, {stop.deadline, stop.abandoned});
    }
    return decodeBitmap(bytes, stop);
}

} // namespace pictures
