#pragma once

#include <QString>
#include <QtGlobal>
#include <functional>

// The program-wide variables: alive for the whole run, empty or 0 at start.
namespace Module2 {

// The sign folder as last accepted. Together with SpareText it forms the two text slots of the
// settings record.
inline QString HkPicDir;
// Carried unchanged from the settings file read at start to the one written at exit.
inline QString SpareText;
inline qint32 SpareNumber1 = 0;
inline qint32 SpareNumber2 = 0;
// The signboard picture last chosen.
inline QString KanbanPicPath;
// The arrow keys' position in the sign list; never stored.
inline qint32 HkPicIndex = 0;
// The middle-door choice as read from the settings file.
inline qint16 NakaMode = 0;

// The program changes the stored texts through these, so that the settings line kept ready
// follows them. (Reading the settings file fills them directly.)
void setHkPicDir(const QString &folder);
void setKanbanPicPath(const QString &path);
// Called after a stored text has changed; the bus window sets it.
inline std::function<void()> storedTextChanged;

// Back to the state of a fresh start (for a second main window in one process, as tests make).
void reset();

} // namespace Module2
