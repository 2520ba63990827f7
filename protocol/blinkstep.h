// SPDX-License-Identifier: MIT
#pragma once

// What one tick of the panel's blink timer (500 ms) does, as data, so that
// the window and the web panel blink from one rule.
namespace korvale {

struct BlinkStep
{
    // The constant-mode label to invert (8, 9 or 10), or 0 for none.
    int invertLabel = 0;
    // The steady "link alive" picture (Image2) is shown, else hidden.
    bool showAlive = true;
    // The crossed-out picture (Image3) inverts, else it is hidden.
    bool blinkLost = false;
};

BlinkStep blinkStep(int BlinkTarget, int LinkLost);

} // namespace korvale
