// SPDX-License-Identifier: MIT
// korvale-cli: the supply from scripts and logs. Runs without a display:
// only plot starts Qt Gui (in plot/), for fonts, offscreen by default.
#include "cli/helptext.h"
#include "cli/invocation.h"
#include "cli/portopening.h"
#include "cli/portscommand.h"
#include "cli/sendframes.h"
#include "cli/servecommand.h"
#include "cli/watchcommand.h"
#include "plot/plotcommand.h"

#include <QCoreApplication>

#include <cstdio>

int main(int argc, char *argv[])
{
    // Read before any application exists, since the command decides which.
    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    const ParsedInvocation parsed = parseInvocation(arguments);
    if (!parsed.invocation) {
        tell(parsed.error);
        std::fprintf(stderr, "Try 'korvale-cli --help'.\n");
        return 2;
    }
    const Invocation &invocation = *parsed.invocation;
    if (invocation.action == Invocation::Action::Plot)
        return runPlot(argc, argv, invocation.plot, tell);
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("korvale-cli"));
    switch (invocation.action) {
    case Invocation::Action::Help:
        std::fputs(qPrintable(helpText(invocation.helpTopic)), stdout);
        return 0;
    case Invocation::Action::Watch:
        return watch(invocation);
    case Invocation::Action::Send:
        return sendFrames(invocation);
    case Invocation::Action::Plot:
        break;
    case Invocation::Action::Ports:
        return runPorts(invocation.ports);
    case Invocation::Action::Serve:
        return serve(invocation);
    }
    return 2;
}
