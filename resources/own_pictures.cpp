#include "resources/own_pictures.h"

#include "pictures/twips.h"

#include <QGuiApplication>
#include <QResource>
#include <QtEndian>

namespace {

// A raw picture: "RIMG", width, height, kind (32-bit little-endian each), then the pixels. Kind
// 0: opaque and 1: with transparency, as 32-bit 0xAARRGGBB values in little-endian order; kind
// 2: opaque, bytes R, G, B, each row padded to a multiple of 4 bytes, a quarter less memory for
// the pictures drawn at their own size. Uncompressed in the resources, it is used in place: not
// even the image reader is needed.
QImage rawPicture(const QString &path)
{
    const QResource resource(path);
    constexpr qsizetype kHeader = 16;
    enum Kind : quint32
    {
        kOpaque32 = 0,
        kAlpha32 = 1,
        kOpaque24 = 2
    };
    if (!resource.isValid() || resource.compressionAlgorithm() != QResource::NoCompression ||
        resource.size() < kHeader || QByteArrayView(resource.data(), 4) != "RIMG")
        return {};
    const uchar *data = resource.data();
    const int width = int(qFromLittleEndian<quint32>(data + 4));
    const int height = int(qFromLittleEndian<quint32>(data + 8));
    const quint32 kind = qFromLittleEndian<quint32>(data + 12);
    if (width <= 0 || height <= 0 || kind > kOpaque24)
        return {};
    const qsizetype rowBytes =
        kind == kOpaque24 ? (qsizetype(width) * 3 + 3) & ~qsizetype(3) : qsizetype(width) * 4;
    if (resource.size() != kHeader + rowBytes * height)
        return {};
    if (kind == kOpaque24)
        return QImage(data + kHeader, width, height, rowBytes, QImage::Format_RGB888);
    const QImage::Format format = kind == kAlpha32 ? QImage::Format_ARGB32 : QImage::Format_RGB32;
    if constexpr (QSysInfo::ByteOrder == QSysInfo::LittleEndian)
        return QImage(data + kHeader, width, height, rowBytes, format);
    // Bytes B, G, R, A: read as R, G, B, A and swapped once.
    return QImage(data + kHeader, width, height, rowBytes, QImage::Format_RGBA8888)
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
    QImage normal = rawPicture(QStringLiteral(":/images/%1.raw").arg(name));
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
