// SPDX-License-Identifier: MIT
#pragma once

// The link watchdog: counts ticks since the last serial event and declares
// the link lost after more than 20 of them (2.1 s at 100 ms). Plain data, so
// the window and the command-line tool judge silence by the same rule.
namespace korvale {

struct LinkWatchdog
{
    static constexpr int kTickMs = 100;
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

} // namespace korvale
