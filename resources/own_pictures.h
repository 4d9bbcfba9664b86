#pragma once

#include "pictures/picture.h"

#include <QString>

// The program's own pictures, compiled in: ":/images/<name>.raw" (raw pixels, or .png where the
// picture has transparency) with a sharper "<name>@2x.png" for high-density screens.
Picture ownPicture(const QString &name);
// The same for a given device pixel ratio (above 1: the sharper drawing).
Picture ownPicture(const QString &name, qreal devicePixelRatio);
