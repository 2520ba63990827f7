// SPDX-License-Identifier: MIT
#include "panel/indicators.h"

#include "panel/frontpanel.h"

#include <QLabel>

void ApplyStatusByte(FrontPanel &panel, std::uint8_t statusByte, int &BlinkTarget)
{
    auto isSet = [statusByte](std::uint8_t bit) { return (statusByte & bit) != 0; };

    BlinkTarget = 0;
    panel.label(16)->setVisible(isSet(StatusBit::Remote));
    if (isSet(StatusBit::OutputOn)) {
        panel.label(14)->show();
        panel.label(13)->hide();
    } else {
        panel.label(14)->hide();
        panel.label(13)->show();
    }
    panel.label(11)->setVisible(isSet(StatusBit::Overtemp));

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
            panel.label(mode.label)->show();
        else
            BlinkTarget = mode.label;
    }
    panel.label(7)->setVisible(isSet(StatusBit::Fine));
}
