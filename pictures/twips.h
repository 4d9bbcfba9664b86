#pragma once

#include "metafile/metafile.h"

#include <QRect>
#include <QRectF>
#include <climits>
#include <cmath>

// The windows keep every length in twips, as they were designed; the screen works in logical
// pixels.
using metafile::kTwipsPerPixel;

struct TwipRect
{
    int left = 0;
    int top = 0;
    int width = 0;
    int height = 0;

    friend bool operator==(const TwipRect &, const TwipRect &) = default;

    // The exact rectangle in logical pixels, fractions included.
    QRectF toPixels() const
    {
        return {left / double(kTwipsPerPixel), top / double(kTwipsPerPixel),
                width / double(kTwipsPerPixel), height / double(kTwipsPerPixel)};
    }

    // The smallest whole-pixel rectangle that covers the twip rectangle.
    QRect coveringPixels() const
    {
        const int x0 = int(std::floor(left / double(kTwipsPerPixel)));
        const int y0 = int(std::floor(top / double(kTwipsPerPixel)));
        const int x1 = int(std::ceil((double(left) + width) / kTwipsPerPixel));
        const int y1 = int(std::ceil((double(top) + height) / kTwipsPerPixel));
        return {x0, y0, x1 - x0, y1 - y0};
    }
};

// A sum of two lengths, held within the 32-bit range: places read from the settings file may lie
// anywhere in it.
inline constexpr int twipSum(int a, int b)
{
    const long long sum = static_cast<long long>(a) + b;
    return sum > INT_MAX ? INT_MAX : sum < INT_MIN ? INT_MIN : static_cast<int>(sum);
}

inline constexpr int pixelsToTwips(int pixels)
{
    return pixels * kTwipsPerPixel;
}
