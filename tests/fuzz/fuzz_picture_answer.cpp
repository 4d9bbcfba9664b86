// Reads a picture worker's answer from arbitrary bytes, cut into pieces where the first byte says,
// and a request's head from the same bytes: whatever comes, the reader ends in one state, and a
// picture it hands over is exactly as large as its head said.
#include "pictures/worker_protocol.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size == 0)
        return 0;
    const QByteArrayView all(reinterpret_cast<const char *>(data) + 1, qsizetype(size - 1));
    (void)pictures::wire::decodeRequestHead(
        all.first(std::min(all.size(), pictures::wire::kRequestHeadBytes)));

    const qsizetype piece = 1 + data[0];
    pictures::wire::AnswerReader reader(1);
    auto state = pictures::wire::AnswerReader::State::Reading;
    for (qsizetype at = 0; at < all.size(); at += piece)
        state = reader.feed(all.sliced(at, std::min(piece, all.size() - at)));
    if (state != reader.state())
        std::abort();
    if (state == pictures::wire::AnswerReader::State::Done) {
        const auto picture = reader.take();
        if (picture && !picture->image.isNull() &&
            pictures::wire::kAnswerHeadBytes + picture->image.sizeInBytes() != all.size())
            std::abort();
    }
    return 0;
}
