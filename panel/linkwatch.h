// SPDX-License-Identifier: MIT
#pragma once

#include "protocol/linkwatchdog.h"

class FrontPanel;

using korvale::LinkWatchdog;

// Timer1: inverts the BlinkTarget label, then shows the link state: while it
// is lost the crossed-out picture blinks in place of the steady one.
void blinkTick(FrontPanel &panel, int BlinkTarget, int LinkLost);
