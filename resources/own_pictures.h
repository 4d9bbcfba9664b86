#pragma once

#include "platform/picture.h"

#include <QString>

// The program's own pictures, compiled in: ":/images/<name>.ppm" (or .png where the picture has
// transparency) with a sharper "<name>@2x.png" used on high-density screens.
Picture ownPicture(const QString &name);
