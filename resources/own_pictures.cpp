#include "resources/own_pictures.h"

#include "pictures/twips.h"

#include <QGuiApplication>
#include <QResource>
#include <QtEndian>

namespace {

// A raw picture: "RIMG", width, height, alpha (32-bit little-endian each; alpha 0: opaque, 1:
// with transparency), then the pixels as 32-bit 0xAARRGGBB values in little-endian order.
// Uncompressed in the resources, it is used in place: not even the image reader is needed.
QImage rawPicture(const QString &path)
{
    const QResource resource(path);
    constexpr qsizetype kHeader = 16;
    if (!resource.isValid() || resource.compressionAlgorithm() != QResource::NoCompression ||
        resource.size() < kHeader || QByteArrayView(resource.data(), 4) != "RIMG")
        return {};
    const uchar *data = resource.data();
    const int width = int(qFromLittleEndian<quint32>(data + 4));
    const int height = int(qFromLittleEndian<quint32>(data + 8));
    const bool alpha = qFromLittleEndian<quint32>(data + 12) != 0;
    if (width <= 0 || height <= 0 || resource.size() != kHeader + qint64(width) * height * 4)
        return {};
    const QImage::Format format = alpha ? QImage::Format_ARGB32 : QImage::Format_RGB32;
    if constexpr (QSysInfo::ByteOrder == QSysInfo::LittleEndian)
        return QImage(data + kHeader, width, height, width * 4, format);
    // Bytes B, G, R, A: read as R, G, B, A and swapped once.
    return QImage(data + kHeader, width, height, width * 4, QImage::Format_RGBA8888)
        .rgbSwapped()
        .convertToFormat(format);
}

} // namespace

Picture ownPicture(const QString &name)
{
    return ownPicture(name, qGuiApp ? qGuiApp->devicePixelRatio() : 1.0);
}

Picture ownPicture(const QString &name, qreal devicePixelRatio)
{
    QImage normal = rawPicture(QStringLiteral(":/images/%1.rgb32").arg(name));
    if (normal.isNull())
        normal.load(QStringLiteral(":/images/%1.png").arg(name));
    Picture picture;
    picture.sizeTwips = {pixelsToTwips(normal.width()), pixelsToTwips(normal.height())};
    picture.image = normal;
    if (devicePixelRatio > 1.0) {
        QImage sharp(QStringLiteral(":/images/%1@2x.png").arg(name));
        if (!sharp.isNull()) {
            sharp.setDevicePixelRatio(2.0);
            picture.image = sharp;
        }
    }
    return picture;
}
