#include "bench/measure.h"

#include <QCoreApplication>
#include <QFile>
#include <QProcess>
#include <sys/resource.h>

namespace bench {

void writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
        qFatal("cannot write %s", qPrintable(path));
}

long peakResidentKib()
{
    // The kernel's own high-water mark: getrusage() keeps, across exec, what the forking parent
    // had resident, so a child started by a bench would report the bench's memory.
    QFile status(QStringLiteral("/proc/self/status"));
    if (status.open(QIODevice::ReadOnly))
        for (const QByteArray &line : status.readAll().split('\n'))
            if (line.startsWith("VmHWM:"))
                return line.mid(6).trimmed().split(' ').value(0).toLong();
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

ChildRun runChild(const QStringList &arguments, int limitMs)
{
    QProcess child;
    child.start(QCoreApplication::applicationFilePath(), arguments);
    ChildRun run;
    run.finished = child.waitForFinished(limitMs);
    if (!run.finished) {
        child.kill();
        child.waitForFinished();
        return run;
    }
    run.exitCode = child.exitStatus() == QProcess::NormalExit ? child.exitCode() : -1;
    run.words = QString::fromUtf8(child.readAllStandardOutput()).simplified().split(u' ');
    return run;
}

} // namespace bench
