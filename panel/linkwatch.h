// SPDX-License-Identifier: MIT
#pragma once

class FrontPanel;

// The link watchdog: counts Timer2 ticks since the last serial event and
// declares the link lost after more than 20 of them (2.1 s at 100 ms).
struct LinkWatchdog
{
    static constexpr int kSilentTicksAllowed = 20;

    int SilenceCount = 0;
    int LinkLost = 0;

    // Every serial event, whatever it carried, is a sign of life.
    void reset()
    {
        SilenceCount = 0;
        LinkLost = 0;
    }

    // Saturates, so that endless silence never wraps back to "alive".
    void tick()
    {
        if (SilenceCount <= kSilentTicksAllowed)
            ++SilenceCount;
        if (SilenceCount > kSilentTicksAllowed)
            LinkLost = 1;
    }
};

// Timer1: inverts the BlinkTarget label, then shows the link state: while it
// is lost the crossed-out picture blinks in place of the steady one.
void blinkTick(FrontPanel &panel, int BlinkTarget, int LinkLost);
