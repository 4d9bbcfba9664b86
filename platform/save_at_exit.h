#pragma once

#include "platform/file_save.h"

#include <QByteArray>
#include <QString>
#include <memory>

namespace platform {

struct KeptSave;

// The save the program would make if it ended now, kept ready for the ends that skip the normal
// one: exit() called inside the window system's library when the X server is gone, and an end
// request the program could not follow in time (end_requests.h). While the object lives, exit()
// writes what was kept last, unless the normal save has written those very bytes. One object at
// a time; used on the user-interface thread, while exit() and the end handler may read it from
// any thread.
class SaveAtExit
{
public:
    SaveAtExit();
    ~SaveAtExit();
    SaveAtExit(const SaveAtExit &) = delete;
    SaveAtExit &operator=(const SaveAtExit &) = delete;

    // What the normal save would write now; nothing is written, and for the file kept last
    // the disk is not even looked at.
    void keep(const QString &path, const QByteArray &bytes);
    // The normal save is writing these bytes: nothing is left to write at the end.
    void markSaved(const QString &path, const QByteArray &bytes);

    // Writes what was kept unless it has been saved. System calls only: a signal handler may
    // call it.
    static void writeNow() noexcept;

private:
    void replace(const QString &path, const QByteArray &bytes, bool saved);

    std::unique_ptr<KeptSave> m_kept;
};

} // namespace platform
