// SPDX-License-Identifier: MIT
#include "sim/faults.h"

#include <algorithm>

namespace korvale::sim {

namespace {

bool due(long frameNumber, int every)
{
    return every > 0 && frameNumber % every == 0;
}

std::vector<std::uint8_t> frameAt(std::size_t start, const StatusFrame &frame)
{
    std::vector<std::uint8_t> block(kStatusFrameSize, 0x00);
    std::copy_n(frame.begin(), kStatusFrameSize - start, block.begin() + long(start));
    return block;
}

} // namespace

BlockKind FaultInjector::kindOf(long frameNumber)
{
    if (due(frameNumber, m_options.silenceEvery))
        return BlockKind::Silence;
    if (due(frameNumber, m_options.garbageEvery))
        return BlockKind::Garbage;
    if (due(frameNumber, m_options.shortEvery))
        return BlockKind::Short;
    if (due(frameNumber, m_options.longEvery))
        return BlockKind::Long;
    if (due(frameNumber, m_options.midblockEvery)) {
        return m_midblocks++ % 2 == 0 ? BlockKind::MidblockInside : BlockKind::MidblockPastEnd;
    }
    if (due(frameNumber, m_options.outOfRangeEvery))
        return BlockKind::OutOfRange;
    if (due(frameNumber, m_options.dropEvery))
        return BlockKind::Dropped;
    return BlockKind::Frame;
}

Block FaultInjector::next(const StatusFrame &frame)
{
    Block block;
    block.kind = kindOf(++m_frameNumber);
    switch (block.kind) {
    case BlockKind::Frame:
        block.bytes.assign(frame.begin(), frame.end());
        break;
    case BlockKind::Silence:
        break;
    case BlockKind::Short:
        block.bytes.assign(frame.begin(), frame.end() - 1);
        break;
    case BlockKind::Long:
        block.bytes.assign(frame.begin(), frame.end());
        if (m_longs++ % 2 == 0)
            block.bytes.push_back(0x00);
        else
            block.bytes.insert(block.bytes.end(), frame.begin(), frame.end());
        break;
    case BlockKind::MidblockInside:
        block.bytes = frameAt(5, frame);
        break;
    case BlockKind::MidblockPastEnd:
        block.bytes = frameAt(kLastFrameStart + 1, frame);
        break;
    case BlockKind::Garbage:
        block.bytes.resize(kStatusFrameSize);
        for (auto &byte : block.bytes) {
            // No 0xEB at all, so no sync pair can make the garbage decodable.
            do
                byte = static_cast<std::uint8_t>(m_random() & 0xFF);
            while (byte == kSyncFirst);
        }
        break;
    case BlockKind::OutOfRange:
        block.bytes.assign(frame.begin(), frame.end());
        // Top bits on the four binary readings; the settings never exceed
        // 0x13 in a high byte, so none of these can become 0xEB.
        for (const std::size_t high : {2u, 4u, 8u, 10u})
            block.bytes[high] |= 0x80;
        // A nibble above 9 in every digit of both packed readings.
        block.bytes[6] = 0xAB;
        block.bytes[7] = 0xCD;
        block.bytes[12] = 0xEF;
        block.bytes[13] = 0xFA;
        break;
    case BlockKind::Dropped:
        // Any byte may be the one lost, the sync pair included.
        block.bytes.assign(frame.begin(), frame.end());
        block.bytes.erase(block.bytes.begin() + long(m_dropRandom() % kStatusFrameSize));
        break;
    }
    return block;
}

} // namespace korvale::sim
