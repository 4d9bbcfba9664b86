#include "platform/maker_library.h"

#include <QDir>

namespace platform {

VLM3ResLibrary::VLM3ResLibrary(QString folder) : m_folder(std::move(folder)) {}

QString VLM3ResLibrary::fileName()
{
#if defined(Q_OS_WIN)
    return QStringLiteral("VLM3Res.dll");
#elif defined(Q_OS_MACOS)
    return QStringLiteral("libVLM3Res.dylib");
#else
    return QStringLiteral("libVLM3Res.so");
#endif
}

MakerLibrary::Answer VLM3ResLibrary::homepageAddress()
{
    if (!m_library) {
        m_library = std::make_unique<QLibrary>(QDir(m_folder).absoluteFilePath(fileName()));
    }
    using UrlFunction = const char *(*)();
    // resolve() loads the library when it is not loaded yet.
    auto function = reinterpret_cast<UrlFunction>(m_library->resolve("RakutoHpURL"));
    if (!function)
        return {false, {}, m_library->errorString()};
    const char *address = function();
    if (!address)
        return {false, {}, QStringLiteral("RakutoHpURL returned no address")};
    return {true, QString::fromLocal8Bit(address), {}};
}

} // namespace platform
