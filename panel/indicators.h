// SPDX-License-Identifier: MIT
#pragma once

#include <cstdint>

class FrontPanel;

// Sets the indicator labels from a frame's status byte and picks the one
// constant-mode label to blink: BlinkTarget becomes 8, 9, 10 or 0 (none).
// A constant-mode label whose bit is clear keeps its visibility: it either
// blinks (as BlinkTarget) or holds whatever it last showed.
void ApplyStatusByte(FrontPanel &panel, std::uint8_t statusByte, int &BlinkTarget);
