// SPDX-License-Identifier: MIT
#pragma once

#include <QByteArray>

// The page at "/": every control of the window's inventory but QUIT, placed
// in fractions of the panel's width so that it scales with the browser.
QByteArray panelHtml();
