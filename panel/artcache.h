// SPDX-License-Identifier: MIT
#pragma once

#include <QPixmap>
#include <QSize>
#include <QString>

// Renders a vector picture from the program's resources at a logical size and
// device pixel ratio, once: later calls with the same key get the cached
// pixmap, so repainting never re-renders the artwork.
QPixmap renderedArt(const QString &resource, QSize logicalSize, qreal devicePixelRatio);
