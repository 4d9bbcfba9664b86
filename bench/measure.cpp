#include "bench/measure.h"

#include <QCoreApplication>
#include <QProcess>
#include <sys/resource.h>

namespace bench {

long peakResidentKib()
{
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
