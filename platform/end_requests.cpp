#include "platform/end_requests.h"

#include <QSocketNotifier>

#ifdef Q_OS_UNIX
#include <array>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <sys/socket.h>
#include <unistd.h>
#endif

namespace platform {

#ifdef Q_OS_UNIX
namespace {

constexpr std::array kEndSignals{SIGTERM, SIGHUP, SIGINT};

// A signal handler can reach nothing but what is global; it needs the socket to write to.
std::atomic<int> g_wakeFd{-1};
static_assert(std::atomic<int>::is_always_lock_free, "the signal handler needs a lock-free int");

extern "C" void onEndSignal(int)
{
    const int savedErrno = errno;
    const char byte = 1;
    const int fd = g_wakeFd.load(std::memory_order_relaxed);
    // A full socket already holds a request: nothing is lost when this write fails.
    if (fd >= 0) {
        [[maybe_unused]] const auto written = ::write(fd, &byte, 1);
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
    g_wakeFd.store(m_writeEnd);
    m_notifier = new QSocketNotifier(m_readEnd, QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &EndRequests::drain);

    for (const int signal : kEndSignals) {
        struct sigaction old = {};
        if (::sigaction(signal, nullptr, &old) == 0 && old.sa_handler == SIG_IGN)
            continue;
        struct sigaction action = {};
        action.sa_handler = onEndSignal;
        ::sigemptyset(&action.sa_mask);
        // Interrupted system calls go on; the handler is used once, so that a second signal
        // ends a program that cannot end by itself.
        action.sa_flags = SA_RESTART | SA_RESETHAND;
        ::sigaction(signal, &action, nullptr);
    }
}

EndRequests::~EndRequests()
{
    for (const int signal : kEndSignals) {
        struct sigaction current = {};
        if (::sigaction(signal, nullptr, &current) == 0 && current.sa_handler == onEndSignal)
            ::signal(signal, SIG_DFL);
    }
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
    while (::read(m_readEnd, bytes.data(), bytes.size()) > 0) {
    }
    Q_EMIT endRequested();
}

#else

// Windows ends a session through the window system, which Qt turns into commitDataRequest.
EndRequests::EndRequests(QObject *parent) : QObject(parent) {}
EndRequests::~EndRequests() = default;
void EndRequests::drain() {}

#endif

} // namespace platform
