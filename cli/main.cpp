// SPDX-License-Identifier: MIT
// korvale-cli: the supply from scripts and logs. Runs without a display:
// only plot starts Qt Gui, for fonts, on the offscreen platform by default.
#include "cli/helptext.h"
#include "cli/invocation.h"
#include "cli/plotcommand.h"
#include "cli/portopening.h"
#include "cli/portscommand.h"
#include "cli/sendframes.h"
#include "cli/watchcommand.h"

#include <QCoreApplication>
#include <QGuiApplication>

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
    if (invocation.action == Invocation::Action::Plot) {
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
            qputenv("QT_QPA_PLATFORM", "offscreen");
        QGuiApplication app(argc, argv);
        return plotLog(invocation.plot);
    }
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
    }
    return 2;
}
