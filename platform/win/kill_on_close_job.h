#pragma once

// A Windows job object that ends the program's helper processes with the program. It needs
// nothing from Qt, so it can be compiled on its own with a Windows compiler.

namespace platform::win {

// The system kills every process in the job when the job's last handle closes, which it does
// for the program however the program ends: a crash, Task Manager, the session's end.
class KillOnCloseJob
{
public:
    KillOnCloseJob();
    ~KillOnCloseJob();
    KillOnCloseJob(const KillOnCloseJob &) = delete;
    KillOnCloseJob &operator=(const KillOnCloseJob &) = delete;

    // Puts the running process `processId` in the job; false where the system refuses (a
    // process already gone, or in a job of its own that allows no other before Windows 8).
    bool adopt(unsigned long processId);

private:
    void *m_job = nullptr;
};

} // namespace platform::win
