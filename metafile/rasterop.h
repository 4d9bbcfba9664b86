#pragma once

#include <QImage>
#include <QRect>

// GDI's raster operations evaluated per pixel: a ternary operation combines pattern (the brush
// or pen), source (a bitmap) and destination bit by bit through its truth table.
namespace metafile::detail {

inline constexpr quint8 kRopSrcCopy = 0xCC;
inline constexpr quint8 kRopPatCopy = 0xF0;
inline constexpr quint8 kRopNoOp = 0xAA; // the destination unchanged
inline constexpr quint8 kRopBlackness = 0x00;
inline constexpr quint8 kRopWhiteness = 0xFF;
inline constexpr int kR2Black = 1;
inline constexpr int kR2Nop = 11;
inline constexpr int kR2CopyPen = 13;
inline constexpr int kR2White = 16;

// The truth table index of a ternary raster operation code (its third byte).
constexpr quint8 rop3Index(quint32 rop)
{
    return quint8(rop >> 16);
}
constexpr bool rop3UsesSource(quint8 index)
{
    return ((index >> 2) & 0x33) != (index & 0x33);
}
constexpr bool rop3UsesPattern(quint8 index)
{
    return (index >> 4) != (index & 0x0F);
}
// A binary raster operation of pens and fills (R2_BLACK 1 .. R2_WHITE 16) as the ternary
// operation that ignores the source.
constexpr quint8 rop2AsRop3(int rop2)
{
    const int table = (rop2 - 1) & 0xF; // bit (pen << 1 | destination)
    quint8 index = 0;
    for (int bit = 0; bit < 8; ++bit)
        if (table & (1 << (((bit >> 1) & 2) | (bit & 1))))
            index |= quint8(1 << bit);
    return index;
}

// Applies `index` at each pixel of `area` (image pixels) where `mask` is at least half opaque.
// `mask` (8-bit alpha), `pattern` and `source` have the size of `area`; a null pattern or source
// reads as black. A transparent destination counts as white paper, as the picture is meant to
// be seen on, and stays transparent where the outcome is white paper again.
void applyRop3(QImage &image, const QRect &area, const QImage &mask, const QImage &pattern,
               const QImage &source, quint8 index);

} // namespace metafile::detail
