// SPDX-License-Identifier: MIT
#include "panel/linkwatch.h"

#include "panel/frontpanel.h"
#include "panel/picturebox.h"
#include "protocol/blinkstep.h"

#include <QLabel>

namespace {

// Visibility is the widget's own shown/hidden flag, which holds while the
// window is minimised or not yet shown, unlike whether it is on screen.
void invertVisibility(QWidget *widget)
{
    widget->setVisible(widget->isHidden());
}

} // namespace

void blinkTick(FrontPanel &panel, int BlinkTarget, int LinkLost)
{
    const korvale::BlinkStep step = korvale::blinkStep(BlinkTarget, LinkLost);
    if (step.invertLabel != 0)
        invertVisibility(panel.label(step.invertLabel));
    panel.image(2)->setVisible(step.showAlive);
    if (step.blinkLost)
        invertVisibility(panel.image(3));
    else
        panel.image(3)->hide();
}
