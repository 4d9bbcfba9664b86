// libFuzzer entry: any bytes go to the player, which must fail cleanly or draw.
#include "platform/metafile/metafile.h"

#include <QGuiApplication>
#include <cstddef>
#include <cstdint>
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
    metafile::render(QByteArrayView(reinterpret_cast<const char *>(data), qsizetype(size)));
    return 0;
}
