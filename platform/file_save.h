#pragma once

#include <QByteArray>
#include <QString>

namespace platform {

// Replaces the file at `path` with `bytes`, whole or not at all: the new content goes to a
// temporary file beside it, every byte is checked to have reached the disk, and only then does
// it take the old file's place. A link is followed to its target; a target that is not a regular
// file (a FIFO, a device, a folder) is refused and left as it is. Returns the reason of a
// failure, or an empty string.
QString saveFileWhole(const QString &path, const QByteArray &bytes);

} // namespace platform
