// SPDX-License-Identifier: MIT
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "protocol/commandframe.h"

// The panel's keypad, once for every face: a press on a control, with the
// number box's text where it matters, becomes the frame to send, or the one
// sentence saying why nothing is sent. The window, the web page, `press` and
// any later face call this and add no rule of their own.
namespace korvale {

// CommandN of the two arrows; Command1 to Command11 are the keys.
inline constexpr int kArrowRight = 12; // numbered frame 0x55, shows Image4
inline constexpr int kArrowLeft = 13;  // numbered frame 0xCC, shows Image5

struct KeyPress
{
    std::optional<CommandFrame> frame;
    // Set when there is no frame: what the operator is told.
    std::string why;
    // The direction mark the press leaves shown, 4 or 5 (ImageN), the other
    // one hidden; 0 when the press leaves the marks alone. An arrow switches
    // the mark whether or not its number could be read.
    int markShown = 0;
};

// A press on CommandN (1 to 13); `text` is read for the arrows only.
KeyPress pressControl(int command, std::string_view text = {});

// CommandN of a key named as printed on the panel ("U", "ENT", "I/O", "L"),
// case as printed; nothing for a name that is no key.
std::optional<int> commandOfCaption(std::string_view caption);

// The sentence for a number box's text that gives no data byte.
std::string notAFrameNumber(std::string_view text);

} // namespace korvale
