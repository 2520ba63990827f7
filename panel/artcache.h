// SPDX-License-Identifier: MIT
#pragma once

#include <QImage>
#include <QPixmap>
#include <QSize>
#include <QString>

// Renders a vector picture from the program's resources at a logical size and
// device pixel ratio, once: later calls with the same key get the cached
// pixmap, so repainting never re-renders the artwork. Sizes baked at build
// time (see artbake.cpp) are loaded instead of rendered, which keeps the
// first frame quick.
QPixmap renderedArt(const QString &resource, QSize logicalSize, qreal devicePixelRatio);

// The picture stretched to exactly `pixels`, on a transparent ground.
QImage renderArtImage(const QString &source, QSize pixels);

// Where a picture baked at `pixels` lives among the resources.
QString bakedArtPath(const QString &resource, QSize pixels);
