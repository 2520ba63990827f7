// SPDX-License-Identifier: MIT
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

// What a status byte does to the panel's indicator labels, as data, so that
// the window and the command-line tool show the same states from one rule.
namespace korvale {

// Status byte bits, by value. 0x01 means nothing.
namespace StatusBit {
inline constexpr std::uint8_t Remote = 0x02;       // Label16 "remote"
inline constexpr std::uint8_t OutputOn = 0x04;     // Label14 "On" / Label13 "Off"
inline constexpr std::uint8_t Overtemp = 0x08;     // Label11
inline constexpr std::uint8_t PowerConst = 0x10;   // Label10 "P-const"
inline constexpr std::uint8_t CurrentConst = 0x20; // Label9 "I-const"
inline constexpr std::uint8_t VoltageConst = 0x40; // Label8 "U-const"
inline constexpr std::uint8_t Fine = 0x80;         // Label7
} // namespace StatusBit

// The indicator labels by what they show (LabelN is N).
namespace IndicatorLabel {
inline constexpr int Fine = 7;
inline constexpr int VoltageConst = 8;
inline constexpr int CurrentConst = 9;
inline constexpr int PowerConst = 10;
inline constexpr int Overtemp = 11;
inline constexpr int OutputOff = 13;
inline constexpr int OutputOn = 14;
inline constexpr int Remote = 16;
} // namespace IndicatorLabel

// The constant-mode labels, in the order the tools list them.
inline constexpr std::array<int, 3> kConstModeLabels = {
    IndicatorLabel::VoltageConst, IndicatorLabel::CurrentConst, IndicatorLabel::PowerConst};

struct LabelUpdate
{
    int label = 0; // LabelN
    bool visible = false;
};

// The label updates of one status byte, in the order they are made, and the
// constant-mode label to blink: BlinkTarget 8, 9, 10, or 0 for none. A
// constant-mode label whose bit is clear gets no update: it either blinks or
// keeps whatever it last showed.
struct IndicatorUpdate
{
    std::array<LabelUpdate, 8> updates{};
    std::size_t count = 0;
    int BlinkTarget = 0;
};

IndicatorUpdate indicatorUpdate(std::uint8_t statusByte);

// What the indicators of a status byte say, by name, for the faces that report
// them rather than paint them; every decoded frame carries those of its
// status byte (StatusReadings::indicators). The labels an update always sets
// show their bits as they are; the limiting mode is the constant mode that
// blinks.
struct IndicatorStates
{
    bool remote = false;
    bool outputOn = false;
    bool overtemperature = false;
    bool fine = false;
    int BlinkTarget = 0;
    std::string_view blinking = "none"; // its caption
};
IndicatorStates indicatorStates(std::uint8_t statusByte);

// Caption of the constant-mode label BlinkTarget names, "none" for 0.
std::string_view blinkingCaption(int BlinkTarget);

} // namespace korvale
