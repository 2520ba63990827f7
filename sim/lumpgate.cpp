// SPDX-License-Identifier: MIT
#include "sim/burstgate.h"

#include <utility>

namespace korvale::sim {

BurstGate::BurstGate(std::uint32_t seed, Clock::duration byteTime)
    : m_random(seed), m_pause(byteTime.count() / 2, byteTime.count() * 3 / 2)
{
}

void BurstGate::hold(std::span<const std::uint8_t> bytes, Clock::time_point now)
{
    // Releases that fell due while nothing was held carried nothing: the
    // first byte waits for the next one, as it would behind a network link.
    if (m_held.empty())
        movePast(now);
    m_held.insert(m_held.end(), bytes.begin(), bytes.end());
}

std::vector<std::uint8_t> BurstGate::release(Clock::time_point now)
{
    if (now < m_nextRelease || m_held.empty())
        return {};
    movePast(now);
    return std::exchange(m_held, {});
}

void BurstGate::movePast(Clock::time_point now)
{
    // After an idle stretch start again from now instead of counting up
    // through every release that was missed.
    if (now - m_nextRelease > std::chrono::seconds(1))
        m_nextRelease = now;
    while (m_nextRelease <= now)
        m_nextRelease += Clock::duration(m_pause(m_random));
}

} // namespace korvale::sim
