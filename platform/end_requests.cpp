#include "platform/end_requests.h"

#include "platform/save_at_exit.h"

#include <QSocketNotifier>

#ifdef Q_OS_UNIX
#include <array>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <ctime>
#include <pthread.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

namespace platform {

#ifdef Q_OS_UNIX
namespace {

constexpr std::array kEndSignals{SIGTERM, SIGHUP, SIGINT};
constexpr long long kNanosecondsPerSecond = 1'000'000'000;
constexpr int kSignalStatusBase = 128; // a shell's status for a program ended by a signal

// A signal handler can reach nothing but what is global: the socket to write to, the thread
// that keeps the save ready, and when the first request came (0: none yet).
std::atomic<int> g_wakeFd{-1};
pthread_t g_uiThread;
std::atomic<long long> g_firstRequest{0};
static_assert(std::atomic<int>::is_always_lock_free && std::atomic<long long>::is_always_lock_free,
              "the signal handler needs lock-free atomics");

long long monotonicNow()
{
    timespec now = {};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    return now.tv_sec * kNanosecondsPerSecond + now.tv_nsec + 1; // never 0
}

extern "C" void onEndSignal(int signal)
{
    const int savedErrno = errno;
    // The user-interface thread handles every request, one at a time: two late requests on two
    // threads would write the kept save at once, and the first to end the program would cut the
    // other's write short.
    if (!::pthread_equal(::pthread_self(), g_uiThread)) {
        ::pthread_kill(g_uiThread, signal);
        errno = savedErrno;
        return;
    }
    const long long now = monotonicNow();
    long long first = 0;
    if (!g_firstRequest.compare_exchange_strong(first, now) &&
        now - first >= EndRequests::kPatienceSeconds * kNanosecondsPerSecond) {
        SaveAtExit::writeNow();
        ::_exit(kSignalStatusBase + signal);
    }
    const char byte = 1;
    const int fd = g_wakeFd.load();
    // A full socket already holds a request, and a closed one belongs to a program that is
    // ending anyway: nothing is lost when this send fails, and it raises no SIGPIPE.
    if (fd >= 0) {
        [[maybe_unused]] const auto sent = ::send(fd, &byte, 1, MSG_NOSIGNAL | MSG_DONTWAIT);
    }
    errno = savedErrno;
}

} // namespace

EndRequests::EndRequests(QObject *parent) : QObject(parent)
{
    int fds[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, fds) != 0)
        return;
    m_readEnd = fds[0];
    m_writeEnd = fds[1];
    g_uiThread = ::pthread_self();
    g_firstRequest.store(0);
    g_wakeFd.store(m_writeEnd);
    m_notifier = new QSocketNotifier(m_readEnd, QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &EndRequests::drain);

    for (const int signal : kEndSignals) {
        struct sigaction old = {};
        if (::sigaction(signal, nullptr, &old) == 0 && old.sa_handler == SIG_IGN)
            continue;
        struct sigaction action = {};
        action.sa_handler = onEndSignal;
        // One request at a time: each end signal waits while the handler runs.
        ::sigemptyset(&action.sa_mask);
        for (const int other : kEndSignals)
            ::sigaddset(&action.sa_mask, other);
        // Interrupted system calls go on.
        action.sa_flags = SA_RESTART;
        ::sigaction(signal, &action, nullptr);
    }
}

EndRequests::~EndRequests()
{
    // The handler stays: it needs nothing of this object, and a request that comes while the
    // program tears itself down after its save must not end it with the signal's status.
    g_wakeFd.store(-1);
    delete m_notifier;
    if (m_readEnd >= 0)
        ::close(m_readEnd);
    if (m_writeEnd >= 0)
        ::close(m_writeEnd);
}

void EndRequests::drain()
{
    std::array<char, 64> bytes;
    bool received = false;
    ssize_t n = 0;
    while ((n = ::read(m_readEnd, bytes.data(), bytes.size())) > 0)
        received = true;
    // The other end shut: there will be nothing more to read.
    if (n == 0)
        m_notifier->setEnabled(false);
    if (received)
        Q_EMIT endRequested();
}

#else

// Windows ends a session through the window system, which Qt turns into commitDataRequest.
EndRequests::EndRequests(QObject *parent) : QObject(parent) {}
EndRequests::~EndRequests() = default;
void EndRequests::drain() {}

#endif

} // namespace platform
