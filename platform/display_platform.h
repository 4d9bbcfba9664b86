#pragma once

#include <QString>

namespace platform {

// Native Wayland lets no window place itself or stay above the others, and the bus and its panel
// need both. On a Wayland session where the user has not chosen a Qt platform and the X11 one is
// at hand, the program runs on XWayland. Returns the platform to force, or an empty string.
QString preferredQtPlatform(const QString &waylandDisplay, const QString &userChoice,
                            const QString &x11Display, bool x11PluginPresent);

// Applies the rule above to this process; call before the application object exists.
void chooseQtPlatform();

} // namespace platform
