// SPDX-License-Identifier: MIT
#include "cli/sendframes.h"

#include "cli/invocation.h"
#include "cli/portopening.h"
#include "link/supplylink.h"

#include <QEventLoop>

namespace {

// A full transmit queue (512 bytes) takes 4.3 s at 1200 baud.
constexpr int kDrainMs = 6000;

// Opens the line, and for a network device waits until it is connected. On
// failure it says why on standard error and returns false.
bool openLine(SupplyLink &link)
{
    bool failed = false;
    QEventLoop waiting;
    QObject::connect(&link, &SupplyLink::openFailed, &waiting,
                     [&](const QString &device, const QString &reason) {
                         failed = true;
                         tell(link.couldNotOpen(device, reason));
                         waiting.quit();
                     });
    QObject::connect(&link, &SupplyLink::settingsIgnored, &tellSettingsIgnored);
    QObject::connect(&link, &SupplyLink::opened, &waiting, &QEventLoop::quit);
    link.open();
    // A network device connects in the background and ends either way
    // within the channel's own time limit.
    if (!link.state().devicePresent && !failed)
        waiting.exec();
    return link.state().devicePresent;
}

} // namespace

int sendFrames(const Invocation &invocation)
{
    SupplyLink link;
    link.setTarget(invocation.port, invocation.device);
    if (!openLine(link))
        return 1;
    for (const korvale::CommandFrame &frame : invocation.frames) {
        // A long list is refused for its length: wait for its turn, then go on.
        while (!link.send(frame)) {
            if (link.sendsWaiting() == 0) {
                tell(QStringLiteral("the port did not take the frames; some were not sent"));
                return 1;
            }
            link.awaitSend(kDrainMs);
        }
    }
    // A device gone meanwhile may have taken frames with it.
    if (!link.state().devicePresent || !link.drainAndClose(kDrainMs)) {
        tell(QStringLiteral("the frames may not all have reached the supply: the port did not "
                            "send them in time, or the connection ended first"));
        return 1;
    }
    return 0;
}
