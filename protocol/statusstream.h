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
// gaps, bursts and lost bytes, found by their content alone, so that no gap
// on the way (a lumpy adapter, a network that holds bytes) cuts a frame. A
// frame has no length or checksum: thirty bytes from a sync pair are taken
// at their thirtieth byte when nothing in them looks like the start of the
// next frame, which a lost byte would have pulled in; otherwise only when
// the next sync pair follows right after them. A frame that lost a byte is
// thus dropped, never shown shifted, and costs no other frame.
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
    // Bytes still to come before the frame being gathered can be decided,
    // so that a reader can be woken exactly then.
    std::size_t wanted() const;
    // Confirmed frames in arrival order.
    std::optional<Frame> next();

private:
    void scan();
    bool wholeByContent() const;
    void accept();
    void dropFront(std::size_t count);

    std::vector<std::uint8_t> m_bytes; // never more than a frame and a sync pair
    std::vector<std::int64_t> m_stamps;
    std::deque<Frame> m_ready;
};

} // namespace korvale
