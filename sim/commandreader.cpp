// SPDX-License-Identifier: MIT
#include "sim/commandreader.h"

namespace korvale::sim {

namespace {

std::optional<FrameKind> knownKind(std::uint8_t byte)
{
    switch (byte) {
    case static_cast<std::uint8_t>(FrameKind::Key):
    case static_cast<std::uint8_t>(FrameKind::NumberUp):
    case static_cast<std::uint8_t>(FrameKind::NumberDown):
        return static_cast<FrameKind>(byte);
    default:
        return std::nullopt;
    }
}

} // namespace

std::optional<ReceivedCommand> CommandReader::push(std::uint8_t byte)
{
    switch (m_state) {
    case State::Hunting:
        if (byte == kSyncFirst)
            m_state = State::AfterFirstSync;
        return std::nullopt;
    case State::AfterFirstSync:
        // 0xEB 0xEB 0x90: the second 0xEB may be the real start.
        if (byte == kSyncSecond)
            m_state = State::AfterSync;
        else if (byte != kSyncFirst)
            m_state = State::Hunting;
        return std::nullopt;
    case State::AfterSync:
        if (const auto kind = knownKind(byte)) {
            m_kind = *kind;
            m_state = State::AfterKind;
        } else {
            // A cut-off frame followed by a new one: look at this byte again.
            m_state = byte == kSyncFirst ? State::AfterFirstSync : State::Hunting;
        }
        return std::nullopt;
    case State::AfterKind:
        // The data byte can take any value, 0xEB included, so a frame cut
        // short before it swallows the start of the frame that follows.
        m_state = State::Hunting;
        return ReceivedCommand{m_kind, byte};
    }
    return std::nullopt;
}

std::vector<ReceivedCommand> CommandReader::feed(std::span<const std::uint8_t> bytes)
{
    std::vector<ReceivedCommand> commands;
    for (const std::uint8_t byte : bytes) {
        if (auto command = push(byte))
            commands.push_back(*command);
    }
    return commands;
}

} // namespace korvale::sim
