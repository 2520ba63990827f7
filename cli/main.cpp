// SPDX-License-Identifier: MIT
// korvale-cli: the supply from scripts and logs. Qt Core and Serial Port
// only, so it runs without a display.
#include "cli/helptext.h"
#include "cli/invocation.h"
#include "cli/portopening.h"
#include "cli/portscommand.h"
#include "cli/recordwriter.h"
#include "cli/sendframes.h"
#include "cli/stopsignals.h"
#include "cli/watcher.h"
#include "serial/serialchannel.h"

#include <QCoreApplication>

#include <cstdio>

namespace {

int watch(const Invocation &invocation)
{
    SerialChannel channel;
    if (!openChosenPort(channel, invocation))
        return 1;
    RecordWriter writer(invocation.watch.format, stdout);
    Watcher watcher(channel, invocation, writer);
    StopSignals stop;
    QObject::connect(&stop, &StopSignals::stopRequested, [] { QCoreApplication::exit(0); });
    if (!watcher.start()) {
        tell(QStringLiteral("cannot write the log"));
        return 1;
    }
    return QCoreApplication::exec();
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("korvale-cli"));

    const ParsedInvocation parsed = parseInvocation(QCoreApplication::arguments().mid(1));
    if (!parsed.invocation) {
        tell(parsed.error);
        std::fprintf(stderr, "Try 'korvale-cli --help'.\n");
        return 2;
    }
    const Invocation &invocation = *parsed.invocation;
    switch (invocation.action) {
    case Invocation::Action::Help:
        std::fputs(qPrintable(helpText(invocation.helpTopic)), stdout);
        return 0;
    case Invocation::Action::Watch:
        return watch(invocation);
    case Invocation::Action::Send:
        return sendFrames(invocation);
    case Invocation::Action::Ports:
        return runPorts(invocation.ports);
    }
    return 2;
}
