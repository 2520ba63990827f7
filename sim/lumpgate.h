// SPDX-License-Identifier: MIT
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <random>
#include <span>
#include <string_view>
#include <vector>

namespace korvale::sim {

// How a link between the line and the reader hands the bytes on.
enum class LumpKind
{
    None,    // each byte as it comes off the line
    Jitter,  // whatever has come, every 0.5 to 1.5 byte times at random
    Usb,     // a USB adapter's packet: whatever has come, every 16 ms
    Fifo,    // a PC UART: 8 bytes at a time, or after 4 byte times of quiet
    Network, // a network: whatever has come, every 20 to 80 ms at random
};

std::optional<LumpKind> lumpKindNamed(std::string_view name);

// Holds the paced bytes on their way to the reader and lets them out in
// lumps of the chosen kind. The average rate stays that of the line, so a
// back-to-back stream stays back to back.
class LumpGate
{
public:
    using Clock = std::chrono::steady_clock;

    LumpGate(LumpKind kind, std::uint32_t seed, Clock::duration byteTime);

    LumpKind kind() const { return m_kind; }
    void hold(std::span<const std::uint8_t> bytes, Clock::time_point now);
    bool holding() const { return !m_held.empty(); }
    Clock::time_point nextRelease() const;
    // The lump due at `now`, else nothing.
    std::vector<std::uint8_t> release(Clock::time_point now);
    void clear() { m_held.clear(); }

private:
    static constexpr std::size_t kFifoTrigger = 8;
    static constexpr int kFifoQuietBytes = 4;

    void movePast(Clock::time_point now);

    LumpKind m_kind;
    Clock::duration m_byteTime;
    std::mt19937 m_random;
    std::uniform_int_distribution<Clock::rep> m_pause;
    Clock::time_point m_nextRelease{};
    Clock::time_point m_lastHeld{};
    std::vector<std::uint8_t> m_held;
};

} // namespace korvale::sim
