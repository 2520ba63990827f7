// SPDX-License-Identifier: MIT
#pragma once

struct Invocation;

// watch: the supply's frames into the log until the count is reached, the
// time is up, or a signal stops it; the exit status. With --reconnect a
// device that went away, or could not be opened at the start, is tried
// again every second for as long as the run lasts.
int watch(Invocation invocation);
