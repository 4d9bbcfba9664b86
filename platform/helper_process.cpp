#include "platform/helper_process.h"

#include <QFile>
#include <QFileInfo>
#include <QProcess>

#if defined(Q_OS_UNIX)
#include <unistd.h>
#endif
#if defined(Q_OS_WIN)
#include "platform/win/kill_on_close_job.h"
#endif
#if defined(Q_OS_LINUX)
#include <csignal>
#include <sys/prctl.h>
#endif

namespace platform {

namespace {

// Whether the system would run the file: Qt 6.4's QProcess keeps one descriptor open for every
// program it fails to execute, so a helper that cannot run must never get as far as that.
bool canExecute(const QString &program)
{
#if defined(Q_OS_UNIX)
    // The bytes QProcess hands to the system.
    return access(QFile::encodeName(program).constData(), X_OK) == 0;
#else
    return QFileInfo(program).isFile();
#endif
}

void tieToProgram([[maybe_unused]] QProcess &process)
{
#if defined(Q_OS_LINUX)
    process.setChildProcessModifier([program = getpid()] {
        setpgid(0, 0);
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        // The program may have died before the death signal was asked for.
        if (getppid() != program)
            _exit(1);
    });
#endif
}

} // namespace

HelperStarter::HelperStarter(QList<HelperCommand> commands, std::shared_ptr<QFile> held)
    : m_commands(std::move(commands)), m_held(std::move(held))
{
#if defined(Q_OS_WIN)
    m_job = std::make_unique<win::KillOnCloseJob>();
#endif
}

HelperStarter::~HelperStarter() = default;

std::unique_ptr<QProcess> HelperStarter::start()
{
    while (!m_commands.isEmpty()) {
        const HelperCommand &command = m_commands.front();
        if (canExecute(command.program)) {
            auto process = std::make_unique<QProcess>();
            process->setProgram(command.program);
            process->setArguments(command.arguments);
            process->setStandardErrorFile(QProcess::nullDevice());
            tieToProgram(*process);
            process->start(QIODevice::ReadWrite);
            // The system has run the program or refused it by the time start() returns.
            if (process->waitForStarted()) {
#if defined(Q_OS_WIN)
                m_job->adopt(static_cast<unsigned long>(process->processId()));
#endif
                return process;
            }
        }
        m_commands.removeFirst();
    }
    return nullptr;
}

bool HelperStarter::forgetIfCouldNotRun(const QProcess &process)
{
    constexpr int kCannotExecute = 126, kNotFound = 127;
    if (process.state() != QProcess::NotRunning || process.exitStatus() != QProcess::NormalExit ||
        (process.exitCode() != kCannotExecute && process.exitCode() != kNotFound))
        return false;
    m_commands.removeIf([&](const HelperCommand &command) {
        return command.program == process.program() && command.arguments == process.arguments();
    });
    return true;
}

} // namespace platform
