#include "pictures/worker_protocol.h"

#include "bytes/byte_reader.h"

#include <QIODevice>
#include <QtEndian>
#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstring>

namespace pictures::wire {

namespace {

// The pixel formats an answer may bring: 32 bits a pixel, so a line is exactly 4 bytes a pixel.
constexpr std::array kAnswerFormats = {QImage::Format_RGB32, QImage::Format_ARGB32,
                                       QImage::Format_ARGB32_Premultiplied};
constexpr qsizetype kBytesPerPixel = 4;

// Compared as numbers: a value off the enumeration must never become a QImage::Format.
bool isAnswerFormat(quint32 format)
{
    return std::ranges::any_of(kAnswerFormats,
                               [format](QImage::Format f) { return quint32(f) == format; });
}

enum Status : quint32
{
    CannotLoad = 0,
    Loaded = 1
};

void put32(QByteArray &out, quint32 value)
{
    char bytes[4];
    qToLittleEndian(value, bytes);
    out.append(bytes, sizeof bytes);
}

void putDouble(QByteArray &out, double value)
{
    const auto bits = std::bit_cast<quint64>(value);
    put32(out, quint32(bits));
    put32(out, quint32(bits >> 32));
}

double readDouble(bytes::ByteReader &in)
{
    const quint64 low = in.u32();
    return std::bit_cast<double>(low | quint64(in.u32()) << 32);
}

bool goodRatio(double ratio)
{
    return std::isfinite(ratio) && ratio > 0 && ratio <= kMaxDevicePixelRatio;
}

// Nothing (the whole picture), or a box of 1 to kMaxSide pixels each way.
bool goodVisible(quint32 width, quint32 height)
{
    return (width == 0 && height == 0) ||
           (width > 0 && height > 0 && width <= kMaxSide && height <= kMaxSide);
}

} // namespace

QByteArray encodeRequest(const Request &request)
{
    QByteArray out;
    out.reserve(kRequestHeadBytes + request.path.size());
    put32(out, kRequestMagic);
    put32(out, kVersion);
    put32(out, request.ticket);
    put32(out, quint32(request.path.size()));
    putDouble(out, request.devicePixelRatio);
    const bool whole = request.visible.isEmpty();
    put32(out, whole ? 0 : quint32(request.visible.width()));
    put32(out, whole ? 0 : quint32(request.visible.height()));
    return out + request.path;
}

std::optional<RequestHead> decodeRequestHead(QByteArrayView head)
{
    bytes::ByteReader in(head);
    const quint32 magic = in.u32(), version = in.u32();
    RequestHead request;
    request.ticket = in.u32();
    request.pathBytes = in.u32();
    request.devicePixelRatio = readDouble(in);
    const quint32 visibleWidth = in.u32(), visibleHeight = in.u32();
    if (!in.ok() || head.size() != kRequestHeadBytes || magic != kRequestMagic ||
        version != kVersion || request.pathBytes == 0 || request.pathBytes > kMaxPathBytes ||
        !goodRatio(request.devicePixelRatio) || !goodVisible(visibleWidth, visibleHeight))
        return std::nullopt;
    request.visible = QSize(int(visibleWidth), int(visibleHeight));
    return request;
}

bool writeAnswer(QIODevice &out, quint32 ticket, const std::optional<Picture> &picture)
{
    QImage image = picture ? picture->image : QImage();
    if (!image.isNull() && !isAnswerFormat(quint32(image.format())))
        image = image.convertToFormat(image.hasAlphaChannel() ? QImage::Format_ARGB32_Premultiplied
                                                              : QImage::Format_RGB32);
    QByteArray head;
    put32(head, kAnswerMagic);
    put32(head, kVersion);
    put32(head, ticket);
    put32(head, picture ? Loaded : CannotLoad);
    put32(head, image.width());
    put32(head, image.height());
    put32(head, image.isNull() ? 0 : image.format());
    put32(head, image.isNull() ? 0 : image.width() * kBytesPerPixel);
    put32(head, picture ? picture->sizeTwips.width() : 0);
    put32(head, picture ? picture->sizeTwips.height() : 0);
    putDouble(head, image.isNull() ? 1.0 : image.devicePixelRatio());
    if (out.write(head) != head.size())
        return false;
    // Line by line: the image's own lines may be padded.
    const qint64 line = qint64(image.width()) * kBytesPerPixel;
    for (int y = 0; y < image.height(); ++y)
        if (out.write(reinterpret_cast<const char *>(image.constScanLine(y)), line) != line)
            return false;
    return true;
}

AnswerReader::AnswerReader(const Request &request) : m_ticket(request.ticket)
{
    // A bitmap comes at one pixel a pixel, a metafile at the request's ratio.
    if (!request.visible.isEmpty() && goodRatio(request.devicePixelRatio)) {
        const double scale = std::max(1.0, request.devicePixelRatio);
        const auto most = [scale](int side) {
            return int(std::min(std::ceil(side * scale), double(kMaxSide)));
        };
        m_maxPixels = QSize(most(request.visible.width()), most(request.visible.height()));
    }
}

AnswerReader::State AnswerReader::feed(QByteArrayView bytes)
{
    while (!bytes.isEmpty() && m_state == State::Reading) {
        if (m_head.size() < kAnswerHeadBytes) {
            const qsizetype take = std::min(bytes.size(), kAnswerHeadBytes - m_head.size());
            m_head.append(bytes.first(take));
            bytes = bytes.sliced(take);
            if (m_head.size() == kAnswerHeadBytes)
                m_state = readHead();
            continue;
        }
        const qint64 take = std::min<qint64>(bytes.size(), m_pixelBytes - m_filled);
        std::memcpy(m_picture->image.bits() + m_filled, bytes.data(), size_t(take));
        m_filled += take;
        bytes = bytes.sliced(take);
        if (m_filled == m_pixelBytes)
            m_state = State::Done;
    }
    // Bytes beyond the end: not the answer we asked for.
    if (!bytes.isEmpty())
        m_state = State::Bad;
    if (m_state == State::Bad)
        m_picture.reset();
    return m_state;
}

AnswerReader::State AnswerReader::readHead()
{
    bytes::ByteReader in(m_head);
    const quint32 magic = in.u32(), version = in.u32(), ticket = in.u32(), status = in.u32();
    const quint32 width = in.u32(), height = in.u32(), format = in.u32(), bytesPerLine = in.u32();
    const qint32 twipsWidth = in.i32(), twipsHeight = in.i32();
    const double ratio = readDouble(in);
    if (!in.ok() || magic != kAnswerMagic || version != kVersion || ticket != m_ticket)
        return State::Bad;
    if (status == CannotLoad) {
        const bool allZero = width == 0 && height == 0 && format == 0 && bytesPerLine == 0 &&
                             twipsWidth == 0 && twipsHeight == 0 && ratio == 1.0;
        return allZero ? State::Done : State::Bad;
    }
    if (status != Loaded || twipsWidth < 0 || twipsHeight < 0 || !goodRatio(ratio))
        return State::Bad;
    m_picture = Picture{QImage(), QSize(twipsWidth, twipsHeight)};
    // The empty picture: a picture with nothing to draw.
    if (width == 0 && height == 0)
        return format == 0 && bytesPerLine == 0 && ratio == 1.0 ? State::Done : State::Bad;
    if (width == 0 || height == 0 || width > quint32(m_maxPixels.width()) ||
        height > quint32(m_maxPixels.height()) || !isAnswerFormat(format) ||
        bytesPerLine != width * kBytesPerPixel || qint64(bytesPerLine) * height > kMaxPixelBytes)
        return State::Bad;
    QImage image(int(width), int(height), static_cast<QImage::Format>(format));
    // The lines must lie end to end, as they come.
    if (image.isNull() || image.bytesPerLine() != qsizetype(bytesPerLine))
        return State::Bad;
    image.setDevicePixelRatio(ratio);
    m_picture->image = std::move(image);
    m_pixelBytes = qint64(bytesPerLine) * height;
    return State::Reading;
}

} // namespace pictures::wire
