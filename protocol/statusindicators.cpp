// SPDX-License-Identifier: MIT
#include "protocol/statusindicators.h"

namespace korvale {

std::optional<bool> IndicatorUpdate::visibilityOf(int label) const
{
    std::optional<bool> visible;
    for (std::size_t i = 0; i < count; ++i) {
        if (updates[i].label == label)
            visible = updates[i].visible;
    }
    return visible;
}

IndicatorUpdate indicatorUpdate(std::uint8_t statusByte)
{
    IndicatorUpdate result;
    auto isSet = [statusByte](std::uint8_t bit) { return (statusByte & bit) != 0; };
    auto set = [&result](int label, bool visible) {
        result.updates[result.count++] = {label, visible};
    };

    set(16, isSet(StatusBit::Remote));
    const bool on = isSet(StatusBit::OutputOn);
    set(14, on);
    set(13, !on);
    set(11, isSet(StatusBit::Overtemp));

    // Checked from the lowest rank up, so the highest-ranked clear bit is the
    // one left in BlinkTarget: U-const before I-const before P-const.
    struct ConstMode
    {
        std::uint8_t bit;
        int label;
    };
    for (const ConstMode mode :
         {ConstMode{StatusBit::PowerConst, 10}, ConstMode{StatusBit::CurrentConst, 9},
          ConstMode{StatusBit::VoltageConst, 8}}) {
        if (isSet(mode.bit))
            set(mode.label, true);
        else
            result.BlinkTarget = mode.label;
    }
    set(7, isSet(StatusBit::Fine));
    return result;
}

std::string_view blinkingCaption(int BlinkTarget)
{
    switch (BlinkTarget) {
    case 8:
        return "U-const";
    case 9:
        return "I-const";
    case 10:
        return "P-const";
    default:
        return "none";
    }
}

} // namespace korvale
