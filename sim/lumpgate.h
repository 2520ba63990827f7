// SPDX-License-Identifier: MIT
#pragma once

#include <chrono>
#include <cstdint>
#include <random>
#include <span>
#include <vector>

namespace korvale::sim {

// Holds the bytes on their way to the line and lets them out at irregular
// moments, the way a network link hands on a serial stream: each release
// carries whatever has come since the last one. Releases are half to one and
// a half byte times apart, so on average one byte goes out per byte time and
// a paced stream keeps its rate.
class BurstGate
{
public:
    using Clock = std::chrono::steady_clock;

    BurstGate(std::uint32_t seed, Clock::duration byteTime);

    void hold(std::span<const std::uint8_t> bytes, Clock::time_point now);
    bool holding() const { return !m_held.empty(); }
    Clock::time_point nextRelease() const { return m_nextRelease; }
    // Everything held once a release is due, else nothing.
    std::vector<std::uint8_t> release(Clock::time_point now);
    void clear() { m_held.clear(); }

private:
    void movePast(Clock::time_point now);

    std::mt19937 m_random;
    std::uniform_int_distribution<Clock::rep> m_pause;
    Clock::time_point m_nextRelease{};
    std::vector<std::uint8_t> m_held;
};

} // namespace korvale::sim
