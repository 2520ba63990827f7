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

    set(IndicatorLabel::Remote, isSet(StatusBit::Remote));
    const bool on = isSet(StatusBit::OutputOn);
    set(IndicatorLabel::OutputOn, on);
    set(IndicatorLabel::OutputOff, !on);
    set(IndicatorLabel::Overtemp, isSet(StatusBit::Overtemp));

    // Checked from the lowest rank up, so the highest-ranked clear bit is the
    // one left in BlinkTarget: U-const before I-const before P-const.
    struct ConstMode
    {
        std::uint8_t bit;
        int label;
    };
    for (const ConstMode mode :
         {ConstMode{StatusBit::PowerConst, IndicatorLabel::PowerConst},
          ConstMode{StatusBit::CurrentConst, IndicatorLabel::CurrentConst},
          ConstMode{StatusBit::VoltageConst, IndicatorLabel::VoltageConst}}) {
        if (isSet(mode.bit))
            set(mode.label, true);
        else
            result.BlinkTarget = mode.label;
    }
    set(IndicatorLabel::Fine, isSet(StatusBit::Fine));
    return result;
}

std::string_view blinkingCaption(int BlinkTarget)
{
    switch (BlinkTarget) {
    case IndicatorLabel::VoltageConst:
        return "U-const";
    case IndicatorLabel::CurrentConst:
        return "I-const";
    case IndicatorLabel::PowerConst:
        return "P-const";
    default:
        return "none";
    }
}

IndicatorStates indicatorStates(const IndicatorUpdate &update)
{
    const auto shown = [&update](int label) { return update.visibilityOf(label).value_or(false); };
    return {shown(IndicatorLabel::Remote),
            shown(IndicatorLabel::OutputOn),
            shown(IndicatorLabel::Overtemp),
            shown(IndicatorLabel::Fine),
            update.BlinkTarget,
            blinkingCaption(update.BlinkTarget)};
}

} // namespace korvale
