// SPDX-License-Identifier: MIT
#include "protocol/cutframe.h"

#include "protocol/statusframe.h"

namespace korvale {

std::size_t cutFrameRest(std::span<const std::uint8_t> block)
{
    if (block.size() != kStatusFrameSize)
        return 0;
    if (const auto start = findSyncPair(block))
        return *start > kLastFrameStart ? *start : 0;
    return block.back() == kSyncFirst ? kStatusFrameSize - 1 : 0;
}

} // namespace korvale
