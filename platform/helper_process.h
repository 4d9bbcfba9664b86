#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <memory>

class QFile;
class QProcess;

namespace platform {

#if defined(Q_OS_WIN)
namespace win {
class KillOnCloseJob;
}
#endif

// One way to start a helper process of this program: an executable and its arguments.
struct HelperCommand
{
    QString program;
    QStringList arguments;
};

// Starts a helper process of this program (the picture worker) from the first of its commands
// that works. A command that cannot be started (the file missing, not executable, removed while
// the program runs) is tried once and then left out for the rest of the run; the next one takes
// its place. A helper's output on its error channel goes nowhere: it is no message for the
// user. A helper ends when the program dies, however it dies (on Windows through a job object).
// On Linux it stands in a process group of its own, out of reach of the terminal's Ctrl+C, which
// is the program's to answer.
class HelperStarter
{
public:
    // `held`: a file the commands name through /proc/self/fd, kept open as long as this is.
    explicit HelperStarter(QList<HelperCommand> commands, std::shared_ptr<QFile> held = {});
    ~HelperStarter();

    // A running helper reading and writing through pipes, or nullptr when none can be started.
    std::unique_ptr<QProcess> start();

    // Whether `process`, one of these helpers that ended before it answered anything, could not
    // run at all: the system's loader ends a program whose libraries are missing with 127, as
    // shells do for a missing interpreter, and with 126 for one they cannot run. Its command is
    // then left out like one that cannot be started.
    bool forgetIfCouldNotRun(const QProcess &process);

    // The commands not yet found unusable.
    const QList<HelperCommand> &commands() const { return m_commands; }

private:
    QList<HelperCommand> m_commands;
    std::shared_ptr<QFile> m_held;
#if defined(Q_OS_WIN)
    std::unique_ptr<win::KillOnCloseJob> m_job;
#endif
};

} // namespace platform
