// Reads the settings record from arbitrary bytes, in the order the loader does.
#include "app/settings_record.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

namespace {

constexpr std::size_t MaxSettingsFile = 1024 * 1024; // the loader reads no more than this

// Once a read has failed, every later read must fail too and leave its value untouched.
template<typename T, typename Read> void expectFailed(Read read)
{
    T value{};
    const T before = value;
    if (read(value) || !(value == before))
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size > MaxSettingsFile)
        return 0;
    settings::RecordReader in(
        QByteArray(reinterpret_cast<const char *>(data), static_cast<qsizetype>(size)));

    qint32 whole = 0;
    qint16 small = 0;
    QString text;
    bool flag = false;
    const bool read = in.position(whole) && in.position(whole) && in.position(whole) &&
                      in.position(whole) && in.text(text) && in.text(text) && in.whole(whole) &&
                      in.whole(whole) && in.text(text) && in.position(whole) &&
                      in.position(whole) && in.yesNo(flag) && in.yesNo(flag) && in.whole(whole) &&
                      in.whole(whole) && in.whole16(small);
    if (!read) {
        expectFailed<qint32>([&](qint32 &v) { return in.whole(v); });
        expectFailed<qint16>([&](qint16 &v) { return in.whole16(v); });
        expectFailed<QString>([&](QString &v) { return in.text(v); });
        expectFailed<bool>([&](bool &v) { return in.yesNo(v); });
    }
    return 0;
}
