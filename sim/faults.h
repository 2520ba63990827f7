// SPDX-License-Identifier: MIT
#pragma once

#include <cstdint>
#include <random>
#include <vector>

#include "protocol/statusframe.h"

namespace korvale::sim {

// Every count is "each Nth frame", 0 for never. Frames are counted from 1.
struct FaultOptions
{
    int silenceEvery = 0;
    int silenceMs = 3000; // longer than the panel's two seconds of patience
    int shortEvery = 0;
    int longEvery = 0;
    int midblockEvery = 0;
    int garbageEvery = 0;
    int outOfRangeEvery = 0;
    int dropEvery = 0;
    std::uint32_t seed = 1;
};

enum class BlockKind
{
    Frame,           // the frame as it is
    Silence,         // nothing; the line stays quiet for silenceMs
    Short,           // the first 29 bytes of the frame
    Long,            // 31 bytes, then two frames back to back, by turns
    MidblockInside,  // 30 bytes, sync pair at position 5: still decodable...
    MidblockPastEnd, // ...then at position 16: not decodable, by turns
    Garbage,         // 30 random bytes without a sync pair
    OutOfRange,      // high bytes of 0x80 and more, packed nibbles above 9
    Dropped,         // the frame less one byte, as if lost on the line
};

struct Block
{
    BlockKind kind = BlockKind::Frame;
    std::vector<std::uint8_t> bytes;
};

// Turns each due frame into what goes on the wire instead. When several
// faults fall on the same frame the first of silence, garbage, short, long,
// midblock, out-of-range, dropped wins.
class FaultInjector
{
public:
    explicit FaultInjector(const FaultOptions &options)
        : m_options(options), m_random(options.seed), m_dropRandom(options.seed)
    {
    }

    Block next(const StatusFrame &frame);

private:
    BlockKind kindOf(long frameNumber);

    FaultOptions m_options;
    std::mt19937 m_random;
    // Its own generator, so that adding lost bytes leaves the garbage as it was.
    std::mt19937 m_dropRandom;
    long m_frameNumber = 0;
    long m_longs = 0;
    long m_midblocks = 0;
};

} // namespace korvale::sim
