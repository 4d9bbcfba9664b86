#pragma once

#include "metafile.h"

#include <QtGlobal>

namespace metafile::detail {

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
    bool hold(qint64 bytes)
    {
        m_heldLeft -= bytes;
        if (m_heldLeft < 0)
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

} // namespace metafile::detail
