#pragma once

#include <QtGlobal>
#include <atomic>

namespace platform {

// Holds another process of ours still, or lets it go on. Unix stops and continues it; Windows,
// which has no documented way to hold a process from outside, runs it at idle priority instead.
// False when the process could not be reached.
bool holdProcess(qint64 pid, bool hold);

// Sets `expired` once this process has used `milliseconds` more processor time: time it spends
// held still or waiting is not counted. One alarm at a time; a new one replaces the last. False
// where there is no such alarm (Windows): the caller then counts in wall time.
bool startProcessorAlarm(int milliseconds, std::atomic_bool &expired);

} // namespace platform
