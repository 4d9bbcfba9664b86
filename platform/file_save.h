#pragma once

#include <QByteArray>
#include <QString>

namespace platform {

// Replaces the file at `path` with `bytes`, whole or not at all: the new content goes to a
// temporary file beside it, every byte is checked to have reached the disk, and only then does
// it take the old file's place. A link is followed to its target; a target that is not a regular
// file (a FIFO, a device, a folder) is refused and left as it is. Paths are taken in the mapping
// of file_names.h. Returns the reason of a failure, or an empty string.
QString saveFileWhole(const QString &path, const QByteArray &bytes);

// The same save, made ready beforehand for a moment when nothing but system calls may run: a
// signal handler, or exit() called from deep inside the window system's library.
class PreparedSave
{
public:
    PreparedSave(const QString &path, const QByteArray &bytes);
    const QString &path() const { return m_path; }
    const QByteArray &bytes() const { return m_bytes; }
    // The same save of other bytes, made without looking at the disk again.
    PreparedSave withBytes(const QByteArray &bytes) const;
    // True when the file was replaced. On Unix it allocates nothing and takes no lock.
    bool write() const noexcept;

private:
    friend QString saveFileWhole(const QString &path, const QByteArray &bytes);
    QString m_path;
    QByteArray m_bytes;
    QByteArray m_target;    // the file the links lead to, as the file system names it
    QByteArray m_temporary; // beside it
};

} // namespace platform
