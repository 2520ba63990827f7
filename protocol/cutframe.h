// SPDX-License-Identifier: MIT
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace korvale {

// A thirty-byte block that cannot be read because its first sync pair starts
// at s > 15 holds only the first 30 - s bytes of the frame that starts there;
// the other s bytes are still coming. A lone 0xEB as the last byte may be
// the first half of a sync pair and counts as a frame starting at 29.
// Returns s, or 0 for a block that can be read, is of another length, or
// shows no frame start at all.
std::size_t cutFrameRest(std::span<const std::uint8_t> block);

} // namespace korvale
