// SPDX-License-Identifier: MIT
#include "protocol/commandframe.h"

namespace korvale {

std::optional<std::uint8_t> keyCodeOfCommand(int commandNumber)
{
    // The code is 4 * row + column of the key on the panel's keypad grid;
    // "L" (Command9) and "REM" (Command11) have none.
    switch (commandNumber) {
    case 1:
        return 0x00; // U
    case 4:
        return 0x01; // u
    case 7:
        return 0x02; // N
    case 2:
        return 0x04; // I
    case 5:
        return 0x05; // ENT
    case 8:
        return 0x06; // F
    case 3:
        return 0x08; // P
    case 6:
        return 0x09; // CE
    case 10:
        return 0x0C; // I/O
    default:
        return std::nullopt;
    }
}

std::string_view keyCaptionOfCommand(int commandNumber)
{
    static constexpr std::string_view kCaptions[] = {"U", "I", "P", "u",   "ENT", "CE",
                                                     "N", "F", "L", "I/O", "REM"};
    if (commandNumber < 1 || commandNumber > 11)
        return {};
    return kCaptions[commandNumber - 1];
}

static void fillFrame(CommandFrame &txBuffer, FrameKind kind, std::uint8_t data)
{
    txBuffer = {kSyncFirst, kSyncSecond, static_cast<std::uint8_t>(kind), data};
}

void fillKeyFrame(CommandFrame &txBuffer, std::uint8_t keyCode)
{
    fillFrame(txBuffer, FrameKind::Key, keyCode);
}

void fillNumberedFrame(CommandFrame &txBuffer, FrameKind kind, std::uint8_t number)
{
    fillFrame(txBuffer, kind, number);
}

} // namespace korvale
