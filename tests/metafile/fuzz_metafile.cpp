// libFuzzer entry: any bytes go to the player and its BMP reader, which must fail cleanly or draw,
// under the picture worker's confinement: a system call its filter does not allow ends the run.
#include "metafile/metafile.h"
#include "pictures/worker/confinement.h"

#include <QGuiApplication>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    // The application lives until the process ends: destroyed by the exit handlers, after Qt's
    // thread storage, it crashes once the player has added application fonts.
    [[maybe_unused]] static QGuiApplication *app =
        std::make_unique<QGuiApplication>(*argc, *argv).release();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    // The program's own limits: the work budget, and a deadline well inside the one-second
    // limit on a unit (the sanitizers slow the drawing down several times).
    constexpr int kDeadlineMs = 500;
    // Once libFuzzer has set itself up (its threads, timers and files), as the worker once Qt has.
    static const bool confined = pictures::worker::confine();
    if (!confined)
        std::abort();
    const QByteArrayView bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    metafile::render(bytes, 1.0, {QDeadlineTimer(kDeadlineMs)});
    // As the sign asks: its box's corner only, at a fractional pixel ratio.
    metafile::render(bytes, 1.5, {QDeadlineTimer(kDeadlineMs)}, QSize(78, 48));
    metafile::decodeBmp(bytes, {QDeadlineTimer(kDeadlineMs)}); // BMP files use its decoder
    return 0;
}
