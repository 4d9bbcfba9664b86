#include "resources/own_pictures.h"

#include "platform/twips.h"

#include <QGuiApplication>
#include <QResource>
#include <QtEndian>

namespace {

// A raw picture: "RIMG", width, height, 0 (32-bit little-endian each), then the pixels as 32-bit
// 0xffRRGGBB values in little-endian order. Uncompressed in the resources, it is used in place.
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
    if (width <= 0 || height <= 0 || resource.size() != kHeader + qint64(width) * height * 4)
        return {};
    if constexpr (QSysInfo::ByteOrder == QSysInfo::LittleEndian)
        return QImage(data + kHeader, width, height, width * 4, QImage::Format_RGB32);
    // Bytes B, G, R, X: read as R, G, B, X and swapped once.
    return QImage(data + kHeader, width, height, width * 4, QImage::Format_RGBX8888)
        .rgbSwapped()
        .convertToFormat(QImage::Format_RGB32);
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
