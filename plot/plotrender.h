// SPDX-License-Identifier: MIT
#pragma once

#include "plot/plotreduce.h"

#include <QColor>
#include <QSize>
#include <QString>

class QIODevice;
class QPainter;

// The colours say what a mark is, in a PNG and in an SVG alike: voltage,
// current and power in this order.
namespace PlotColours {
inline const QColor kReading[3] = {QColor(0x1f, 0x5f, 0xbf), QColor(0xc0, 0x39, 0x2b),
                                   QColor(0x1e, 0x8c, 0x4e)};
inline const QColor kLimit[3] = {QColor(0x3f, 0x78, 0xd8), QColor(0xdc, 0x5f, 0x4b),
                                 QColor(0x35, 0xa8, 0x66)};
inline const QColor kOutputOff(0xe2, 0xe2, 0xe2);
inline const QColor kGap(0xfb, 0xdc, 0xb8);
inline const QColor kGapMark(0xd3, 0x54, 0x00);
inline const QColor kFrame(0x9a, 0x9a, 0x9a); // around each pane
} // namespace PlotColours

// What a picture shows: the columns of a reduced log and its title.
struct PlotPicture
{
    QSize size;
    QString title;
    std::vector<PlotColumn> columns; // one per pixel of plotWidth(size)
    qint64 firstMs = 0;
    qint64 lastMs = 0;
    int offsetSeconds = 0;
    qint64 frames = 0;
};

// The width of the curves' area in a picture of this size, in pixels: the
// number of columns to reduce a log to.
int plotWidth(QSize size);

// Three panes over one time axis: voltage, current and power, each reading
// and its limit as step lines.
void drawPlot(QPainter &painter, const PlotPicture &picture);

// SVG or PNG by the file's extension, written whole or not at all. False,
// with the reason, when it could not be written.
bool writePlot(const QString &path, const PlotPicture &picture, QString &why);
// An SVG into an open device, for checking its structure.
void writeSvg(QIODevice &device, const PlotPicture &picture);
