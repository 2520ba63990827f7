// SPDX-License-Identifier: MIT
#pragma once

#include <QRect>

// The panel is laid out in twips (1/1440 inch); at 96 dpi 15 twips make one
// logical pixel. Every position and size goes through this one conversion,
// rounded to the nearest pixel, so that neighbouring controls stay aligned.
constexpr int kTwipsPerPixel = 15;

constexpr int twipsToPixels(int twips)
{
    return (2 * twips + kTwipsPerPixel) / (2 * kTwipsPerPixel);
}

constexpr QRect twipsRect(int left, int top, int width, int height)
{
    return QRect(twipsToPixels(left), twipsToPixels(top), twipsToPixels(width),
                 twipsToPixels(height));
}

// The client area below the menu bar: 10515 x 4965 twips.
constexpr int kClientWidth = 701;
constexpr int kClientHeight = 331;
