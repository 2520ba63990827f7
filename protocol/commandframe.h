// SPDX-License-Identifier: MIT
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

#include "protocol/syncpair.h"

// Host-to-supply command frame, always four bytes, no length or checksum:
//
//   offset 0  0xEB   first byte of the sync pair
//   offset 1  0x90   second byte of the sync pair
//   offset 2  kind   0xAA key frame, 0x55 / 0xCC numbered frame
//   offset 3  data   key code, or the number of a numbered frame
namespace korvale {

inline constexpr std::size_t kCommandFrameSize = 4;
using CommandFrame = std::array<std::uint8_t, kCommandFrameSize>;

enum class FrameKind : std::uint8_t
{
    Key = 0xAA,
    NumberUp = 0x55,   // right arrow
    NumberDown = 0xCC, // left arrow
};

// Key code of key button CommandN, or nothing for the buttons that have none
// ("L", "REM") and for numbers that are not key buttons.
std::optional<std::uint8_t> keyCodeOfCommand(int commandNumber);
// The caption printed on key button CommandN (1 to 11), or "" for any other.
std::string_view keyCaptionOfCommand(int commandNumber);

// Each fill overwrites all four bytes, so nothing of an earlier frame survives.
void fillKeyFrame(CommandFrame &txBuffer, std::uint8_t keyCode);
void fillNumberedFrame(CommandFrame &txBuffer, FrameKind kind, std::uint8_t number);

} // namespace korvale
