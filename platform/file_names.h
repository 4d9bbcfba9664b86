#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringView>

class QFile;

namespace platform {

// File names as the file system holds them. On Unix a name is a string of bytes, usually UTF-8
// but not always: an archive from an old Japanese system brings Shift_JIS names, an old folder
// Latin-1 ones. Qt turns the bytes that are not UTF-8 into U+FFFD, and such a name then names
// nothing. Here every byte that is not part of a UTF-8 sequence becomes the lone surrogate
// U+DC80..U+DCFF and goes back to the same byte, so a name survives the way from the file
// system through the program and its settings file back to the file system byte for byte.
// Only the functions below understand that mapping: paths that may hold such names go to the
// file system through them. On Windows names are UTF-16 and text is in the ANSI code page.
QString decodeFileName(QByteArrayView bytes);
QByteArray encodeFileName(QStringView name);

// A path as Qt's own dialogs give it, where the bytes that are not UTF-8 have become U+FFFD:
// each such name is looked up in its folder and takes its own bytes again when exactly one
// entry there reads the same. Other paths come back as they are.
QString fileSystemPath(const QString &path);

// Opens a regular file (or a link to one) for reading; false for a folder, a FIFO, a device or
// anything that cannot be opened. Never blocks on the open.
bool openRegularFile(QFile &file, const QString &path);
// Whether the path names a folder (or a link to one).
bool isFolder(const QString &path);
// Whether the path names a regular file (or a link to one).
bool isFile(const QString &path);
// Whether this user may create files in the folder.
bool isWritableFolder(const QString &path);

// The running program's own file, in the mapping above (Qt gives an empty path when a folder on
// the way is not named in UTF-8).
QString executablePath();

} // namespace platform
