// SPDX-License-Identifier: MIT
#include "protocol/keypad.h"

#include "protocol/numberentry.h"

namespace korvale {

KeyPress pressControl(int command, std::string_view text)
{
    KeyPress press;
    if (command == kArrowRight || command == kArrowLeft) {
        const bool right = command == kArrowRight;
        press.markShown = right ? 4 : 5;
        const auto n = parseFrameNumber(text);
        if (!n) {
            press.why = notAFrameNumber(text);
            return press;
        }
        CommandFrame frame{};
        fillNumberedFrame(frame, right ? FrameKind::NumberUp : FrameKind::NumberDown, *n);
        press.frame = frame;
        return press;
    }
    const auto code = keyCodeOfCommand(command);
    if (!code) {
        const std::string_view caption = keyCaptionOfCommand(command);
        press.why = caption.empty() ? "Command" + std::to_string(command) + " is no key"
                                    : std::string(caption) + " has no key code";
        return press;
    }
    CommandFrame frame{};
    fillKeyFrame(frame, *code);
    press.frame = frame;
    return press;
}

std::optional<int> commandOfCaption(std::string_view caption)
{
    for (int command = 1; command <= 11; ++command) {
        if (keyCaptionOfCommand(command) == caption)
            return command;
    }
    return std::nullopt;
}

std::string notAFrameNumber(std::string_view text)
{
    // Appended rather than joined with +, of which GCC 12 at -O3 warns falsely.
    std::string why = "'";
    why += text;
    why += "' is not a number from 0 to 255";
    return why;
}

} // namespace korvale
