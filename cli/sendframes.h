// SPDX-License-Identifier: MIT
#pragma once

struct Invocation;

// press, up and down: sends the invocation's frames in order and returns
// the exit status once they have left the port.
int sendFrames(const Invocation &invocation);
