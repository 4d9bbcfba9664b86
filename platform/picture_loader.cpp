#include "platform/picture_loader.h"

#ifdef RORUMO_HAVE_METAFILE
#include "platform/metafile/metafile.h"
#endif
#include "platform/twips.h"

#include <QBuffer>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>

namespace platform {

namespace {

std::optional<Picture> decodeBitmap(const QByteArray &bytes)
{
    QBuffer buffer;
    buffer.setData(bytes);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer);
    reader.setDecideFormatFromContent(true);
    // Only the formats a sign or signboard may be; this also keeps odd plugins out of the way.
    static const QList<QByteArray> accepted = {"bmp", "gif", "jpeg", "jpg", "png", "ico", "cur"};
    if (!accepted.contains(reader.format()))
        return std::nullopt;
    QImage image = reader.read();
    if (image.isNull())
        return std::nullopt;
    Picture picture;
    picture.sizeTwips = {pixelsToTwips(image.width()), pixelsToTwips(image.height())};
    picture.image = std::move(image);
    return picture;
}

} // namespace

std::optional<Picture> loadPicture(const QString &path, qreal devicePixelRatio)
{
    if (path.isEmpty())
        return Picture{};
    // Only regular files: a FIFO or a device would block or never end.
    const QFileInfo info(path);
    if (!info.isFile() || info.size() > kMaxPictureFileBytes)
        return std::nullopt;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QByteArray bytes = file.read(kMaxPictureFileBytes + 1);
    if (bytes.isEmpty() || bytes.size() > kMaxPictureFileBytes)
        return std::nullopt;

#ifdef RORUMO_HAVE_METAFILE
    if (metafile::detect(bytes) != metafile::Format::None) {
        auto played = metafile::render(bytes, devicePixelRatio);
        if (!played)
            return std::nullopt;
        return Picture{std::move(played->image), played->sizeTwips};
    }
#else
    Q_UNUSED(devicePixelRatio);
#endif
    return decodeBitmap(bytes);
}

} // namespace platform
