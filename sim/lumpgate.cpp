// SPDX-License-Identifier: MIT
#include "sim/lumpgate.h"

#include <algorithm>
#include <utility>

namespace korvale::sim {

namespace {

using std::chrono::milliseconds;
using Clock = LumpGate::Clock;

// The shortest and longest pause between two releases, for the kinds that
// release on a beat of their own.
std::pair<Clock::duration, Clock::duration> pauses(LumpKind kind, Clock::duration byteTime)
{
    switch (kind) {
    case LumpKind::Usb:
        return {milliseconds(16), milliseconds(16)}; // the common latency timer
    case LumpKind::Network:
        return {milliseconds(20), milliseconds(80)};
    default:
        return {byteTime / 2, byteTime * 3 / 2};
    }
}

} // namespace

std::optional<LumpKind> lumpKindNamed(std::string_view name)
{
    const std::pair<std::string_view, LumpKind> names[] = {{"none", LumpKind::None},
                                                           {"jitter", LumpKind::Jitter},
                                                           {"usb", LumpKind::Usb},
                                                           {"fifo", LumpKind::Fifo},
                                                           {"network", LumpKind::Network}};
    for (const auto &[text, kind] : names)
        if (text == name)
            return kind;
    return std::nullopt;
}

LumpGate::LumpGate(LumpKind kind, std::uint32_t seed, Clock::duration byteTime)
    : m_kind(kind), m_byteTime(byteTime), m_random(seed),
      m_pause(pauses(kind, byteTime).first.count(), pauses(kind, byteTime).second.count())
{
}

void LumpGate::hold(std::span<const std::uint8_t> bytes, Clock::time_point now)
{
    // Releases that fell due while nothing was held carried nothing: the
    // first byte waits for the next one, as it would behind a real link.
    if (m_held.empty())
        movePast(now);
    m_held.insert(m_held.end(), bytes.begin(), bytes.end());
    m_lastHeld = now;
}

Clock::time_point LumpGate::nextRelease() const
{
    if (m_kind != LumpKind::Fifo)
        return m_nextRelease;
    return m_held.size() >= kFifoTrigger ? m_lastHeld : m_lastHeld + kFifoQuietBytes * m_byteTime;
}

std::vector<std::uint8_t> LumpGate::release(Clock::time_point now)
{
    if (m_held.empty() || now < nextRelease())
        return {};
    if (m_kind == LumpKind::Fifo) {
        const auto end = m_held.begin() + long(std::min(m_held.size(), kFifoTrigger));
        std::vector<std::uint8_t> lump(m_held.begin(), end);
        m_held.erase(m_held.begin(), end);
        return lump;
    }
    movePast(now);
    return std::exchange(m_held, {});
}

void LumpGate::movePast(Clock::time_point now)
{
    // After an idle stretch start again from now instead of counting up
    // through every release that was missed.
    if (now - m_nextRelease > std::chrono::seconds(1))
        m_nextRelease = now;
    while (m_nextRelease <= now)
        m_nextRelease += Clock::duration(m_pause(m_random));
}

} // namespace korvale::sim
