// SPDX-License-Identifier: MIT
#pragma once

#include <cstdint>

class FrontPanel;

// Status byte bits, by value. 0x01 means nothing to the panel.
namespace StatusBit {
constexpr std::uint8_t Remote = 0x02;       // Label16 "remote"
constexpr std::uint8_t OutputOn = 0x04;     // Label14 "On" / Label13 "Off"
constexpr std::uint8_t Overtemp = 0x08;     // Label11
constexpr std::uint8_t PowerConst = 0x10;   // Label10 "P-const"
constexpr std::uint8_t CurrentConst = 0x20; // Label9 "I-const"
constexpr std::uint8_t VoltageConst = 0x40; // Label8 "U-const"
constexpr std::uint8_t Fine = 0x80;         // Label7
} // namespace StatusBit

// Sets the indicator labels from a frame's status byte and picks the one
// constant-mode label to blink: BlinkTarget becomes 8, 9, 10 or 0 (none).
// A constant-mode label whose bit is clear keeps its visibility: it either
// blinks (as BlinkTarget) or holds whatever it last showed.
void ApplyStatusByte(FrontPanel &panel, std::uint8_t statusByte, int &BlinkTarget);
