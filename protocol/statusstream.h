// SPDX-License-Identifier: MIT
#pragma once

#include <cstdint>
#include <deque>
#include <optional>
#include <span>
#include <vector>

#include "protocol/statusframe.h"

namespace korvale {

// Status frames out of a byte stream that arrives in blocks of any size, with
// gaps, bursts and lost bytes. A frame has no length or checksum, so thirty
// bytes from a sync pair are taken as a frame only once something proves
// they end where a frame ends: the next sync pair right after them, or the
// line falling quiet right after the thirtieth byte when nothing in them
// looks like the start of the next frame. A quiet line cuts nothing: a frame
// held up on its way is completed by the bytes that follow. A frame that lost
// a byte is thus dropped, never shown shifted.
class StatusStream
{
public:
    struct Frame
    {
        StatusReadings readings;
        // The stamp of the block that brought the frame's last byte.
        std::int64_t stamp = 0;
    };

    // `stamp` is the caller's, typically the time the block was taken.
    void feed(std::span<const std::uint8_t> block, std::int64_t stamp);
    // Nothing arrived for a while after the last block fed: a frame that
    // ended with it is taken now rather than at the next sync pair.
    void lineQuiet();
    // Confirmed frames in arrival order.
    std::optional<Frame> next();

private:
    void scan();
    void accept();
    void dropFront(std::size_t count);

    std::vector<std::uint8_t> m_bytes; // never more than a frame and a sync pair
    std::vector<std::int64_t> m_stamps;
    std::deque<Frame> m_ready;
};

} // namespace korvale
