// SPDX-License-Identifier: MIT
#pragma once

#include <functional>

class QString;
struct PlotOptions;

// plot: reads a log of watch once, from a file or standard input, and writes
// its picture. Unreadable lines are told, through `tell`, and left out.
// Returns the exit status: 1 when there is nothing to draw or the picture
// cannot be written (then no file is left).
int plotLog(const PlotOptions &options, const std::function<void(const QString &)> &tell);

// The whole of the plot command, in the application it paints with: on the
// offscreen platform unless the environment names one, so that no display
// is needed. Call it before any other application exists.
int runPlot(int &argc, char **argv, const PlotOptions &options,
            const std::function<void(const QString &)> &tell);
