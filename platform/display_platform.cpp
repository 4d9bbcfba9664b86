#include "platform/display_platform.h"

#include <QDir>
#include <QLibraryInfo>
#include <QtGlobal>

namespace platform {

QString preferredQtPlatform(const QString &waylandDisplay, const QString &userChoice,
                            const QString &x11Display, bool x11PluginPresent)
{
    if (waylandDisplay.isEmpty() || !userChoice.isEmpty() || x11Display.isEmpty() ||
        !x11PluginPresent)
        return {};
    return QStringLiteral("xcb");
}

void chooseQtPlatform()
{
#if defined(Q_OS_LINUX) || defined(Q_OS_FREEBSD)
    const QDir plugins(QLibraryInfo::path(QLibraryInfo::PluginsPath) +
                       QStringLiteral("/platforms"));
    const bool xcbPresent = !plugins.entryList({QStringLiteral("libqxcb*")}, QDir::Files).isEmpty();
    const QString platform = preferredQtPlatform(qEnvironmentVariable("WAYLAND_DISPLAY"),
                                                 qEnvironmentVariable("QT_QPA_PLATFORM"),
                                                 qEnvironmentVariable("DISPLAY"), xcbPresent);
    if (!platform.isEmpty())
        qputenv("QT_QPA_PLATFORM", platform.toLocal8Bit());
#endif
}

} // namespace platform
