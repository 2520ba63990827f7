// SPDX-License-Identifier: MIT
#pragma once

#include "panel/controlinventory.h"

#include <QRect>

// A control's rectangle in logical pixels, each edge rounded on its own.
constexpr QRect twipsRect(int left, int top, int width, int height)
{
    return QRect(twipsToPixels(left), twipsToPixels(top), twipsToPixels(width),
                 twipsToPixels(height));
}
