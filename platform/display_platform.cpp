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
    const QString waylandDisplay = qEnvironmentVariable("WAYLAND_DISPLAY");
    const QString userChoice = qEnvironmentVariable("QT_QPA_PLATFORM");
    // Only a Wayland session without a choice of the user's needs a look at the plugins.
    if (waylandDisplay.isEmpty() || !userChoice.isEmpty())
        return;
    const QDir plugins(QLibraryInfo::path(QLibraryInfo::PluginsPath) +
                       QStringLiteral("/platforms"));
    const bool xcbPresent = !plugins.entryList({QStringLiteral("libqxcb*")}, QDir::Files).isEmpty();
    const QString platform = preferredQtPlatform(waylandDisplay, userChoice,
                                                 qEnvironmentVariable("DISPLAY"), xcbPresent);
    if (!platform.isEmpty())
        qputenv("QT_QPA_PLATFORM", platform.toLocal8Bit());
#endif
}

} // namespace platform
