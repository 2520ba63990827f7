// SPDX-License-Identifier: MIT
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "protocol/commandframe.h"

namespace korvale::sim {

struct ReceivedCommand
{
    FrameKind kind = FrameKind::Key;
    std::uint8_t data = 0;

    friend bool operator==(const ReceivedCommand &, const ReceivedCommand &) = default;
};

// Picks command frames out of the byte stream from the serial end. The line
// has no framing beyond the sync pair, so the reader hunts for 0xEB 0x90,
// takes the kind and data bytes after it, and drops anything that is not a
// known kind. A frame may arrive split over any number of reads.
class CommandReader
{
public:
    std::optional<ReceivedCommand> push(std::uint8_t byte);
    std::vector<ReceivedCommand> feed(std::span<const std::uint8_t> bytes);

    // Forgets a half-received frame, e.g. when the line goes away.
    void reset() { m_state = State::Hunting; }

private:
    enum class State
    {
        Hunting,
        AfterFirstSync,
        AfterSync,
        AfterKind
    };

    State m_state = State::Hunting;
    FrameKind m_kind = FrameKind::Key;
};

} // namespace korvale::sim
