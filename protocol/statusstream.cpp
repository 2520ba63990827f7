// SPDX-License-Identifier: MIT
#include "protocol/statusstream.h"

namespace korvale {
namespace {

bool syncAt(const std::vector<std::uint8_t> &bytes, std::size_t p)
{
    return p + 1 < bytes.size() && bytes[p] == kSyncFirst && bytes[p + 1] == kSyncSecond;
}

} // namespace

void StatusStream::feed(std::span<const std::uint8_t> block, std::int64_t stamp)
{
    for (const std::uint8_t byte : block) {
        m_bytes.push_back(byte);
        m_stamps.push_back(stamp);
        // Byte by byte, so the buffer stays small whatever the block size.
        scan();
    }
}

std::size_t StatusStream::wanted() const
{
    if (m_bytes.size() < kStatusFrameSize)
        return kStatusFrameSize - m_bytes.size();
    // Thirty bytes that wait for the next sync pair to vouch for them.
    return kStatusFrameSize + 2 - m_bytes.size();
}

bool StatusStream::wholeByContent() const
{
    // A byte lost from the frame pulls the next frame's start into the
    // thirty: its sync pair, or at the very end its first byte, would show.
    for (std::size_t p = 2; p < kStatusFrameSize; ++p)
        if (m_bytes[p] == kSyncFirst &&
            (p + 1 == kStatusFrameSize || m_bytes[p + 1] == kSyncSecond))
            return false;
    return true;
}

std::optional<StatusStream::Frame> StatusStream::next()
{
    if (m_ready.empty())
        return std::nullopt;
    Frame frame = m_ready.front();
    m_ready.pop_front();
    return frame;
}

void StatusStream::scan()
{
    for (;;) {
        // Up to the first sync pair; a last 0xEB may be the start of one.
        std::size_t start = 0;
        while (start < m_bytes.size() && !syncAt(m_bytes, start))
            ++start;
        if (start == m_bytes.size() && start > 0 && m_bytes.back() == kSyncFirst)
            --start;
        dropFront(start);
        if (m_bytes.size() == kStatusFrameSize && wholeByContent()) {
            accept();
            dropFront(kStatusFrameSize);
            continue;
        }
        if (m_bytes.size() < kStatusFrameSize + 2)
            return;
        if (syncAt(m_bytes, kStatusFrameSize)) {
            accept();
            dropFront(kStatusFrameSize);
        } else {
            // Not a whole frame: a later sync pair, perhaps inside these
            // bytes, starts the next candidate.
            dropFront(1);
        }
    }
}

void StatusStream::accept()
{
    const auto readings = decodeStatusBlock(std::span(m_bytes.data(), kStatusFrameSize));
    if (readings)
        m_ready.push_back({*readings, m_stamps[kStatusFrameSize - 1]});
}

void StatusStream::dropFront(std::size_t count)
{
    m_bytes.erase(m_bytes.begin(), m_bytes.begin() + std::ptrdiff_t(count));
    m_stamps.erase(m_stamps.begin(), m_stamps.begin() + std::ptrdiff_t(count));
}

} // namespace korvale
