// SPDX-License-Identifier: MIT
#pragma once

// The panel is a fixed drawing with black captions on a light ground: one
// style and its light palette, whatever the desktop's theme. Called once,
// after the application object exists and before the window is built.
void usePanelStyle();
