// SPDX-License-Identifier: MIT
#include "protocol/blinkstep.h"

namespace korvale {

BlinkStep blinkStep(int BlinkTarget, int LinkLost)
{
    BlinkStep step;
    if (BlinkTarget == 8 || BlinkTarget == 9 || BlinkTarget == 10)
        step.invertLabel = BlinkTarget;
    // While the link is lost the crossed-out picture blinks in place of the
    // steady one.
    step.showAlive = LinkLost != 1;
    step.blinkLost = LinkLost == 1;
    return step;
}

} // namespace korvale
