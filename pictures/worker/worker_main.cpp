// The picture worker: loads the pictures the program asks for, one at a time, and answers with
// their pixels (pictures/worker_protocol.h). Every byte of a picture file is read here and
// nowhere else, so a costly or hostile file costs this process, never the bus. The program ends
// it at the deadline or when it has been idle; it ends by itself at the end of its input.
#include "pictures/worker/worker_main.h"

#include "pictures/picture_loader.h"
#include "pictures/worker/confinement.h"
#include "pictures/worker_protocol.h"
#include "platform/file_names.h"
#include "platform/processes.h"

#include <QFile>
#include <QGuiApplication>
#include <algorithm>
#include <cmath>

#if defined(Q_OS_UNIX)
#include <sys/resource.h>
#endif
#if defined(Q_OS_WIN)
#include <fcntl.h>
#include <io.h>
#endif

#if defined(__SANITIZE_ADDRESS__)
#define RORUMO_WORKER_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define RORUMO_WORKER_ASAN 1
#endif
#endif

namespace {

#if defined(Q_OS_UNIX)
// The address space a worker may take: the largest picture, the largest file and the copies
// decoding makes of them, above what Qt and the fonts take.
constexpr rlim_t kMaxAddressSpace = rlim_t(2) * 1024 * 1024 * 1024;

void limitAddressSpace()
{
#if !defined(RORUMO_WORKER_ASAN) // AddressSanitizer reserves terabytes of shadow memory
    const rlimit limit{kMaxAddressSpace, kMaxAddressSpace};
    setrlimit(RLIMIT_AS, &limit);
#endif
}

// The processor time the next picture may take, on top of what the worker has used so far: a
// worker that is reused is not ended for its history.
void allowProcessorTime(int milliseconds)
{
    rusage used{};
    rlimit limit{};
    if (getrusage(RUSAGE_SELF, &used) != 0 || getrlimit(RLIMIT_CPU, &limit) != 0)
        return;
    const rlim_t soft = rlim_t(used.ru_utime.tv_sec + used.ru_stime.tv_sec) +
                        rlim_t(std::ceil(milliseconds / 1000.0)) + 1;
    limit.rlim_cur = limit.rlim_max == RLIM_INFINITY ? soft : std::min(soft, limit.rlim_max);
    setrlimit(RLIMIT_CPU, &limit);
}
#else
void limitAddressSpace() {}
void allowProcessorTime(int) {}
#endif

// Exactly `size` bytes, fewer only at the end of the input.
QByteArray readExactly(QFile &in, qsizetype size)
{
    QByteArray bytes;
    while (bytes.size() < size) {
        const QByteArray part = in.read(size - bytes.size());
        if (part.isEmpty())
            break;
        bytes += part;
    }
    return bytes;
}

} // namespace

namespace pictures::worker {

int workerMain(int argc, char *argv[])
{
    dropInheritedFiles();
    limitAddressSpace();
#if defined(Q_OS_WIN)
    _setmode(0, _O_BINARY);
    _setmode(1, _O_BINARY);
#endif
    // Fonts and painting, but no display: the worker never shows a window.
    char platformOption[] = "-platform";
    char offscreen[] = "offscreen";
    char fallbackName[] = "rorumo-picture-worker";
    char *qtArgv[] = {argc > 0 && argv[0] ? argv[0] : fallbackName, platformOption, offscreen,
                      nullptr};
    int qtArgc = 3;
    QGuiApplication application(qtArgc, qtArgv);

    QFile in, out;
    if (!in.open(0, QIODevice::ReadOnly | QIODevice::Unbuffered) ||
        !out.open(1, QIODevice::WriteOnly | QIODevice::Unbuffered))
        return 1;
    confine();
    for (;;) {
        const QByteArray head = readExactly(in, pictures::wire::kRequestHeadBytes);
        if (head.isEmpty())
            return 0; // the program has closed our input
        const auto request = pictures::wire::decodeRequestHead(head);
        if (!request)
            return 1;
        const QByteArray path = readExactly(in, request->pathBytes);
        if (path.size() != request->pathBytes)
            return 1;
        allowProcessorTime(pictures::kPictureDeadlineMs);
        // Counted in processor time where it can be: the program holds a worker still while a
        // newer picture loads, and the time held is not this picture's.
        static std::atomic_bool givenUp;
        pictures::LoadStop stop{QDeadlineTimer::Forever, &givenUp};
        if (!platform::startProcessorAlarm(pictures::kWorkerGivesUpMs, givenUp))
            stop = {QDeadlineTimer(pictures::kWorkerGivesUpMs), nullptr};
        const auto picture = pictures::loadPicture(
            platform::decodeFileName(path), request->devicePixelRatio, stop, request->visible);
        if (!pictures::wire::writeAnswer(out, request->ticket, picture) || !out.flush())
            return 1;
    }
}

} // namespace pictures::worker
