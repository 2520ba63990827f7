// SPDX-License-Identifier: MIT
#pragma once

#include <QIcon>
#include <QImage>
#include <QSize>
#include <QString>

// A vector picture from the program's resources at a logical size and device
// pixel ratio, made once: later calls with the same key get the cached image,
// so repainting never re-renders the artwork. The sizes the window shows at
// 100 % and 200 % are baked at build time (see artbake.cpp) and read in place,
// so that starting decodes and renders nothing; other sizes are rendered.
QImage renderedArt(const QString &resource, QSize logicalSize, qreal devicePixelRatio);

// An icon of a square picture, `pixels` wide, at 100 % and 200 %.
QIcon artIcon(const QString &resource, int pixels);

// The picture stretched to exactly `pixels`, on a transparent ground.
QImage renderArtImage(const QString &source, QSize pixels);

// Where a picture baked at `pixels` lives among the resources: its raw
// premultiplied ARGB pixels, in this machine's byte order, row after row.
QString bakedArtPath(const QString &resource, QSize pixels);
