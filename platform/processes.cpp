#include "platform/processes.h"

#if defined(Q_OS_UNIX)
#include <csignal>
#include <sys/time.h>
#elif defined(Q_OS_WIN)
#include <windows.h>
#endif

namespace platform {

#if defined(Q_OS_UNIX)

bool holdProcess(qint64 pid, bool hold)
{
    return pid > 0 && ::kill(pid_t(pid), hold ? SIGSTOP : SIGCONT) == 0;
}

namespace {
// What the signal handler sets: it can reach nothing but what is global.
std::atomic<std::atomic_bool *> g_alarmFlag{nullptr};
static_assert(std::atomic<std::atomic_bool *>::is_always_lock_free);

extern "C" void onProcessorAlarm(int)
{
    if (std::atomic_bool *flag = g_alarmFlag.load())
        flag->store(true, std::memory_order_relaxed);
}
} // namespace

bool startProcessorAlarm(int milliseconds, std::atomic_bool &expired)
{
    static const bool handled = [] {
        struct sigaction action = {};
        action.sa_handler = onProcessorAlarm;
        ::sigemptyset(&action.sa_mask);
        // Interrupted system calls go on.
        action.sa_flags = SA_RESTART;
        return ::sigaction(SIGPROF, &action, nullptr) == 0;
    }();
    if (!handled)
        return false;
    expired.store(false);
    g_alarmFlag.store(&expired);
    constexpr int kMicrosecondsPerMs = 1000;
    itimerval alarm = {};
    alarm.it_value.tv_sec = milliseconds / 1000;
    alarm.it_value.tv_usec = (milliseconds % 1000) * kMicrosecondsPerMs;
    return ::setitimer(ITIMER_PROF, &alarm, nullptr) == 0;
}

#elif defined(Q_OS_WIN)

bool holdProcess(qint64 pid, bool hold)
{
    HANDLE process = ::OpenProcess(PROCESS_SET_INFORMATION, FALSE, DWORD(pid));
    if (!process)
        return false;
    const bool done =
        ::SetPriorityClass(process, hold ? IDLE_PRIORITY_CLASS : NORMAL_PRIORITY_CLASS) != 0;
    ::CloseHandle(process);
    return done;
}

bool startProcessorAlarm(int, std::atomic_bool &)
{
    return false;
}

#endif

} // namespace platform
