#include "pictures/picture_loader.h"

#include "metafile/metafile.h"
#include "pictures/twips.h"
#include "platform/file_names.h"

#include <QBuffer>
#include <QFile>
#include <QImageReader>

namespace platform {

namespace {

// A progressive JPEG is decoded over again for every scan, so a few bytes repeated can cost
// minutes; the scans times the pixels may cost as much as a metafile's whole drawing.
constexpr qint64 kMaxJpegScanPixels = qint64(1) << 30;

quint32 littleEndian(const QByteArray &bytes, qsizetype at, int size)
{
    quint32 value = 0;
    for (int i = size - 1; i >= 0; --i)
        value = (value << 8) | quint8(bytes[at + i]);
    return value;
}

qint64 bigEndian16(const QByteArray &bytes, qsizetype at)
{
    return (quint8(bytes[at]) << 8) | quint8(bytes[at + 1]);
}

// The work a JPEG's decoding takes: its scans times its frame's pixels, read from the markers.
qint64 jpegScanPixels(const QByteArray &bytes)
{
    qint64 scans = 0, pixels = 0;
    const qsizetype size = bytes.size();
    for (qsizetype i = 2; i + 4 <= size;) {
        const quint8 marker = quint8(bytes[i + 1]);
        if (quint8(bytes[i]) != 0xff || marker == 0xff) {
            ++i; // entropy-coded data, or fill before a marker
            continue;
        }
        if (marker == 0x00 || marker == 0x01 || (marker >= 0xd0 && marker <= 0xd7)) {
            i += 2; // a stuffed byte or a marker without length
            continue;
        }
        if (marker == 0xd9)
            break;
        const bool frame =
            marker >= 0xc0 && marker <= 0xcf && marker != 0xc4 && marker != 0xc8 && marker != 0xcc;
        if (frame && i + 9 <= size)
            pixels = bigEndian16(bytes, i + 5) * bigEndian16(bytes, i + 7);
        if (marker == 0xda)
            ++scans;
        i += 2 + bigEndian16(bytes, i + 2);
    }
    return scans * pixels;
}

// Qt's readers decode a cut-off BMP or JPEG without complaint and fill the missing part with
// grey; such a file is no picture to us. A cut-off PNG already fails in its reader.
bool looksComplete(const QByteArray &format, const QByteArray &bytes)
{
    if (format == "jpeg" || format == "jpg") {
        // The end-of-image marker must follow the last scan (a thumbnail's marker comes before).
        const qsizetype lastScan = bytes.lastIndexOf("\xff\xda");
        return lastScan >= 0 && bytes.indexOf("\xff\xd9", lastScan) > lastScan &&
               jpegScanPixels(bytes) <= kMaxJpegScanPixels;
    }
    if (format == "bmp") {
        // Uncompressed pixels have a size known from the header; compressed ones are left to Qt.
        if (bytes.size() < 26)
            return false;
        const qint64 pixelsAt = littleEndian(bytes, 10, 4);
        const quint32 headerSize = littleEndian(bytes, 14, 4);
        qint64 width = 0, height = 0, bitsPerPixel = 0;
        if (headerSize == 12) {
            width = qint16(littleEndian(bytes, 18, 2));
            height = qint16(littleEndian(bytes, 20, 2));
            bitsPerPixel = littleEndian(bytes, 24, 2);
        } else if (headerSize >= 40 && bytes.size() >= 34) {
            const quint32 compression = littleEndian(bytes, 30, 4);
            if (compression != 0 && compression != 3 && compression != 6)
                return true;
            width = qint32(littleEndian(bytes, 18, 4));
            height = qint32(littleEndian(bytes, 22, 4));
            bitsPerPixel = littleEndian(bytes, 28, 2);
        } else {
            return true;
        }
        const qint64 stride = (qAbs(width) * bitsPerPixel + 31) / 32 * 4;
        // A row beyond the file already says enough; the whole product of a forged header
        // would not fit.
        return stride <= bytes.size() && bytes.size() >= pixelsAt + stride * qAbs(height);
    }
    return true;
}

std::optional<Picture> decodeBitmap(const QByteArray &bytes, const LoadStop &stop)
{
    QBuffer buffer;
    buffer.setData(bytes);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer);
    reader.setDecideFormatFromContent(true);
    // Only the formats a sign or signboard may be; this also keeps odd plugins out of the way.
    static const QList<QByteArray> accepted = {"bmp", "gif", "jpeg", "jpg", "png", "ico", "cur"};
    if (!accepted.contains(reader.format()) || !looksComplete(reader.format(), bytes))
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
        auto played = metafile::render(bytes, devicePixelRatio, {stop.deadline, stop.abandoned});
        if (!played)
            return std::nullopt;
        return Picture{std::move(played->image), played->sizeTwips};
    }
    return decodeBitmap(bytes, stop);
}

} // namespace platform
