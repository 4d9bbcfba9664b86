#pragma once

// What the benchmarks share: the median time of repeated work, peak memory, and a measurement
// run in a process of its own, so that its peak memory is its own.
#include <QElapsedTimer>
#include <QStringList>
#include <algorithm>
#include <type_traits>
#include <vector>

namespace bench {

// The median in milliseconds of `runs` runs of `work`; -1 when a run of a `work` that answers
// bool answers false.
template<typename Work> double medianMs(int runs, Work work)
{
    std::vector<double> times;
    for (int i = 0; i < runs; ++i) {
        QElapsedTimer timer;
        timer.start();
        if constexpr (std::is_same_v<decltype(work()), bool>) {
            if (!work())
                return -1;
        } else {
            work();
        }
        times.push_back(double(timer.nsecsElapsed()) / 1e6);
    }
    if (times.empty())
        return -1;
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

// Writes `bytes` to a new file at `path`; a benchmark that cannot set up its files stops.
void writeFile(const QString &path, const QByteArray &bytes);

// This process's peak resident memory so far, in KiB.
long peakResidentKib();

// What a child run of this program printed: its words, or nothing when it failed or was stopped.
struct ChildRun
{
    bool finished = false; // false: still busy at the limit, and stopped
    int exitCode = 0;
    QStringList words;
};

// Runs this program again with `arguments` and waits for it, up to `limitMs` (-1: no limit).
ChildRun runChild(const QStringList &arguments, int limitMs = -1);

} // namespace bench
