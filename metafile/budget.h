#pragma once

#include "metafile.h"

#include <QtGlobal>

namespace metafile::detail {

// What kinds of work cost, in the budget's units beyond the pixels they write.
inline constexpr qreal kCostPerCall = 256;       // one painter call
inline constexpr qreal kCostPerCharacter = 2048; // shaping and the glyph cache
inline constexpr qreal kCostPerBitmapPixel = 16; // a decoded pixel, written into fresh memory
inline constexpr qreal kCostPerRect = 128;       // a region's rectangle, through one operation

// Everything one picture makes us do, counted in units of about one pixel written: painting,
// path edges and crossings, widened lines, bitmap decoding and scaling, saved states and text.
// The canvas and the bitmap decoders charge it before they work; a picture that spends more
// than it is given, or outlives its deadline, fails as a malformed one does.
class Budget
{
public:
    static constexpr qreal kWork = qreal(1) * (1u << 30);
    // Decoded bitmaps the object table keeps for later drawing (pattern brushes).
    static constexpr qint64 kHeldBytes = qint64(128) * 1024 * 1024;

    explicit Budget(const Stop &stop = {}) : m_stop(stop) {}

    // Takes `units` of work; false once the picture is out of budget, time or wanted.
    bool charge(qreal units)
    {
        if (m_spent)
            return false;
        m_left -= units;
        if (!(m_left >= 0) || m_stop.expired())
            m_spent = true;
        return !m_spent;
    }
    // Looks at the deadline and the caller without charging: loops over records or rectangles
    // that cost little each ask it now and then. True once the picture is to be given up.
    bool expired()
    {
        if (!m_spent && m_stop.expired())
            m_spent = true;
        return m_spent;
    }
    bool hold(qint64 bytes)
    {
        m_heldLeft -= bytes;
        if (m_heldLeft < 0)
            m_spent = true;
        return !m_spent;
    }
    // Whether `bytes` more could be kept, asked before decoding them; the picture is spent if not.
    bool canHold(qint64 bytes)
    {
        if (bytes > m_heldLeft)
            m_spent = true;
        return !m_spent;
    }
    void release(qint64 bytes) { m_heldLeft += bytes; }
    bool spent() const { return m_spent; }

private:
    Stop m_stop;
    qreal m_left = kWork;
    qint64 m_heldLeft = kHeldBytes;
    bool m_spent = false;
};

// A metafile drawn inside another spends its host's budget, and lies so many levels deep.
struct Nesting
{
    Budget *host = nullptr;
    int depth = 0;
};
// How deep metafiles inside metafiles are still played.
inline constexpr int kMaxNesting = 3;

} // namespace metafile::detail
