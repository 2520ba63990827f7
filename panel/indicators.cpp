// SPDX-License-Identifier: MIT
#include "panel/indicators.h"

#include "panel/frontpanel.h"
#include "protocol/statusindicators.h"

#include <QLabel>

void ApplyStatusByte(FrontPanel &panel, std::uint8_t statusByte, int &BlinkTarget)
{
    const korvale::IndicatorUpdate update = korvale::indicatorUpdate(statusByte);
    BlinkTarget = 0;
    for (std::size_t i = 0; i < update.count; ++i)
        panel.label(update.updates[i].label)->setVisible(update.updates[i].visible);
    BlinkTarget = update.BlinkTarget;
}
