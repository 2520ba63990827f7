// SPDX-License-Identifier: MIT
#include "cli/sendframes.h"

#include "cli/invocation.h"
#include "cli/portopening.h"
#include "serial/serialchannel.h"

namespace {

// A full transmit queue (512 bytes) takes 4.3 s at 1200 baud.
constexpr int kDrainMs = 6000;

QByteArrayView bytesOf(const korvale::CommandFrame &frame)
{
    return QByteArrayView(reinterpret_cast<const char *>(frame.data()), qsizetype(frame.size()));
}

} // namespace

int sendFrames(const Invocation &invocation)
{
    SerialChannel channel;
    if (!openChosenPort(channel, invocation))
        return 1;
    for (const korvale::CommandFrame &frame : invocation.frames) {
        // A long list may fill the transmit queue: let it empty, then go on.
        if (!channel.Output(bytesOf(frame)) &&
            !(channel.drain(kDrainMs) && channel.Output(bytesOf(frame)))) {
            tell(QStringLiteral("the port did not take the frames; some were not sent"));
            return 1;
        }
    }
    if (!channel.drainAndClose(kDrainMs)) {
        tell(QStringLiteral("the frames may not all have reached the supply: the port did not "
                            "send them in time, or the connection ended first"));
        return 1;
    }
    return 0;
}
