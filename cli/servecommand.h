// SPDX-License-Identifier: MIT
#pragma once

struct Invocation;

// serve: the front panel in a browser, over HTTP, with /metrics beside it
// and the log with --output, until a signal stops it; the exit status. The
// device is tried again every second for as long as the run lasts.
int serve(Invocation invocation);
