#pragma once

#include <QByteArrayView>
#include <QDeadlineTimer>
#include <QImage>
#include <QSize>
#include <atomic>
#include <optional>

// Windows metafile player: reads WMF (plain and placeable), EMF and EMF+ (the GDI+ records EMF
// comments carry) pictures and plays their records onto a QPainter at the picture's natural size.
namespace metafile {

// Lengths in twips, as the windows keep them: at 96 dpi fifteen twips make one pixel.
inline constexpr int kTwipsPerPixel = 15;
inline constexpr int kTwipsPerInch = 1440;
inline constexpr int kScreenDpi = kTwipsPerInch / kTwipsPerPixel; // 96
inline constexpr qreal kMmPerInch = 25.4;

enum class Format
{
    None,
    Wmf,
    PlaceableWmf,
    Emf
};

// Recognises a metafile by content (placeable key 0x9AC6CDD7; plain WMF header type 1/2 with
// header size 9 words; EMF: record type 1 and " EMF" signature at offset 40).
Format detect(QByteArrayView data);

// A decoded picture and its natural size. A played metafile's image is ARGB32_Premultiplied,
// transparent where nothing was drawn.
struct Picture
{
    QImage image;
    QSize sizeTwips; // natural size in twips

    bool isEmpty() const { return image.isNull(); }
};

// When to give up on a picture: at its deadline, or once whoever asked for it no longer wants it.
struct Stop
{
    QDeadlineTimer deadline{QDeadlineTimer::Forever};
    const std::atomic_bool *abandoned = nullptr;

    bool expired() const
    {
        return deadline.hasExpired() || (abandoned && abandoned->load(std::memory_order_relaxed));
    }
};

// Plays the metafile at its natural size times devicePixelRatio (image.devicePixelRatio() set
// accordingly). Where `seen` is not empty, only the picture's top-left part of at most that many
// image pixels is drawn and kept: the same pixels the whole picture has there, at no more cost.
// Returns std::nullopt for anything malformed or unsupported as a whole, for a picture that costs
// more work than any sign is worth or outlives `stop`, and for one that skipped records and
// shows nothing at all.
std::optional<Picture> render(QByteArrayView data, qreal devicePixelRatio = 1.0,
                              const Stop &stop = {}, QSize seen = {});

// Decodes a BMP file (file header and device-independent bitmap) as the player reads the
// bitmaps inside metafiles: channels of any width scaled to eight bits, the pixels where the
// file header puts them. std::nullopt for anything malformed, unsupported or outlived.
std::optional<QImage> decodeBmp(QByteArrayView data, const Stop &stop = {});

} // namespace metafile
