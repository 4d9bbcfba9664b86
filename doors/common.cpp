#include "doors/common.h"

#include "platform/services.h"

#include <QFile>

namespace Common {

void PlayWaveRes(qint16 id, platform::SoundOutput &sound)
{
    QFile resource(QStringLiteral(":/wave/%1.wav").arg(id));
    WaveBytes = resource.open(QIODevice::ReadOnly) ? resource.readAll() : QByteArray();
    sound.playWave(WaveBytes);
}

} // namespace Common
