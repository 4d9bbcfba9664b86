#pragma once

#include "pictures/picture.h"

#include <QByteArray>
#include <QByteArrayView>
#include <optional>

class QIODevice;

// What the program and its picture worker say to each other over the worker's standard input
// and output, all little-endian. The program asks with a request: a fixed head, then the path's
// bytes as the file system holds them. The worker answers each request with a fixed head and,
// for a picture, its pixels line by line. The worker's answer is untrusted: the program checks
// every field against what it asked for and what arrived before it uses a byte of it.
namespace pictures {

// How long a picture may take, from when it was asked for, before it counts as one that cannot
// be loaded: the program then ends the worker that is loading it.
inline constexpr int kPictureDeadlineMs = 4000;
// The worker gives up on a picture a little sooner by itself, so that most costly pictures are
// answered "cannot load" by a worker that stays for the next one.
inline constexpr int kWorkerGivesUpMs = 3500;

namespace wire {

inline constexpr quint32 kRequestMagic = 0x51505252; // "RRPQ"
inline constexpr quint32 kAnswerMagic = 0x41505252;  // "RRPA"
inline constexpr quint32 kVersion = 2;
inline constexpr qsizetype kRequestHeadBytes = 32;
inline constexpr qsizetype kAnswerHeadBytes = 48;
inline constexpr qsizetype kMaxPathBytes = 64 * 1024;
// No picture larger than what Qt's image readers allocate at most (256 MiB), nor wider or
// taller than a QImage may be drawn.
inline constexpr qint64 kMaxPixelBytes = qint64(256) * 1024 * 1024;
inline constexpr quint32 kMaxSide = 32768;
inline constexpr double kMaxDevicePixelRatio = 64;

struct Request
{
    quint32 ticket = 0;
    QByteArray path; // the file name's bytes (platform::encodeFileName)
    double devicePixelRatio = 1;
    // What can be seen of the picture: its top-left `visible` pixels (device-independent), or
    // all of it when empty (pictures::loadPicture).
    QSize visible;
};

QByteArray encodeRequest(const Request &request);

// The head of a request: the ticket, the ratio, what can be seen and the path's length;
// std::nullopt when it is not a well-formed head.
struct RequestHead
{
    quint32 ticket = 0;
    qsizetype pathBytes = 0;
    double devicePixelRatio = 1;
    QSize visible;
};
std::optional<RequestHead> decodeRequestHead(QByteArrayView head);

// Writes the answer to request `ticket`: the picture, or "cannot load" for std::nullopt.
bool writeAnswer(QIODevice &out, quint32 ticket, const std::optional<Picture> &picture);

// Reads the answer to one request as its bytes come in, in any pieces. Anything that is not
// exactly one well-formed answer to this request (a field out of range, a size that does not
// match, more pixels than the request can see, bytes beyond the end) makes it Bad.
class AnswerReader
{
public:
    enum class State
    {
        Reading,
        Done,
        Bad
    };

    explicit AnswerReader(quint32 ticket) : m_ticket(ticket) {}
    // The answer to `request`, which brings at most the pixels the request can see.
    explicit AnswerReader(const Request &request);

    State feed(QByteArrayView bytes);
    State state() const { return m_state; }
    // Once Done: the picture, or std::nullopt for a worker that could not load it.
    std::optional<Picture> take() { return std::move(m_picture); }

private:
    State readHead();

    quint32 m_ticket;
    QSize m_maxPixels{int(kMaxSide), int(kMaxSide)};
    State m_state = State::Reading;
    QByteArray m_head;
    std::optional<Picture> m_picture;
    qint64 m_pixelBytes = 0;
    qint64 m_filled = 0;
};

} // namespace wire
} // namespace pictures
