// SPDX-License-Identifier: MIT
#pragma once

struct PlotOptions;

// plot: reads a log of watch once, from a file or standard input, and writes
// its picture. Unreadable lines are told on standard error and left out.
// Returns the exit status: 1 when there is nothing to draw or the picture
// cannot be written (then no file is left).
int plotLog(const PlotOptions &options);
