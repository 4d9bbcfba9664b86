#include "resources/own_pictures.h"

#include "platform/twips.h"

#include <QGuiApplication>

Picture ownPicture(const QString &name)
{
    QImage normal(QStringLiteral(":/images/%1.ppm").arg(name));
    if (normal.isNull())
        normal.load(QStringLiteral(":/images/%1.png").arg(name));
    Picture picture;
    picture.sizeTwips = {pixelsToTwips(normal.width()), pixelsToTwips(normal.height())};
    picture.image = normal;
    if (qGuiApp && qGuiApp->devicePixelRatio() > 1.0) {
        QImage sharp(QStringLiteral(":/images/%1@2x.png").arg(name));
        if (!sharp.isNull()) {
            sharp.setDevicePixelRatio(2.0);
            picture.image = sharp;
        }
    }
    return picture;
}
