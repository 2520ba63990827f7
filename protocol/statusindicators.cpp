// SPDX-License-Identifier: MIT
#include "protocol/statusindicators.h"

namespace korvale {
namespace {

struct ConstMode
{
    std::uint8_t bit;
    int label;
};
// From the lowest rank up, so that the highest-ranked clear bit is the one
// left in BlinkTarget: U-const before I-const before P-const.
constexpr ConstMode kConstModes[] = {{StatusBit::PowerConst, IndicatorLabel::PowerConst},
                                     {StatusBit::CurrentConst, IndicatorLabel::CurrentConst},
                                     {StatusBit::VoltageConst, IndicatorLabel::VoltageConst}};

int blinkTargetOf(std::uint8_t statusByte)
{
    int target = 0;
    for (const ConstMode mode : kConstModes) {
        if ((statusByte & mode.bit) == 0)
            target = mode.label;
    }
    return target;
}

} // namespace

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

    // A clear constant-mode bit leaves its label as it was, or blinking.
    for (const ConstMode mode : kConstModes) {
        if (isSet(mode.bit))
            set(mode.label, true);
    }
    result.BlinkTarget = blinkTargetOf(statusByte);
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

IndicatorStates indicatorStates(std::uint8_t statusByte)
{
    // The labels it always sets show their bits as they are.
    const auto isSet = [statusByte](std::uint8_t bit) { return (statusByte & bit) != 0; };
    const int target = blinkTargetOf(statusByte);
    return {isSet(StatusBit::Remote),
            isSet(StatusBit::OutputOn),
            isSet(StatusBit::Overtemp),
            isSet(StatusBit::Fine),
            target,
            blinkingCaption(target)};
}

} // namespace korvale
