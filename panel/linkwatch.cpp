// SPDX-License-Identifier: MIT
#include "panel/linkwatch.h"

#include "panel/frontpanel.h"
#include "panel/picturebox.h"

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
    if (BlinkTarget == 8 || BlinkTarget == 9 || BlinkTarget == 10)
        invertVisibility(panel.label(BlinkTarget));

    if (LinkLost == 1) {
        panel.image(2)->hide();
        invertVisibility(panel.image(3));
    } else {
        panel.image(2)->show();
        panel.image(3)->hide();
    }
}
