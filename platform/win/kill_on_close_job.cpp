#include "platform/win/kill_on_close_job.h"

#include <windows.h>

namespace platform::win {

KillOnCloseJob::KillOnCloseJob() : m_job(::CreateJobObjectW(nullptr, nullptr))
{
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits = {};
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
    if (m_job && !::SetInformationJobObject(m_job, JobObjectExtendedLimitInformation, &limits,
                                            sizeof limits)) {
        ::CloseHandle(m_job);
        m_job = nullptr;
    }
}

KillOnCloseJob::~KillOnCloseJob()
{
    if (m_job)
        ::CloseHandle(m_job);
}

bool KillOnCloseJob::adopt(unsigned long processId)
{
    if (!m_job)
        return false;
    HANDLE process = ::OpenProcess(PROCESS_SET_QUOTA | PROCESS_TERMINATE, FALSE, processId);
    if (!process)
        return false;
    const bool adopted = ::AssignProcessToJobObject(m_job, process) != 0;
    ::CloseHandle(process);
    return adopted;
}

} // namespace platform::win
