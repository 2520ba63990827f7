// SPDX-License-Identifier: MIT
// korvale-cli: the supply from scripts and logs. Runs without a display:
// only plot starts Qt Gui (in plot/), for fonts, offscreen by default.
#include "cli/helptext.h"
#include "cli/invocation.h"
#include "cli/metrics.h"
#include "cli/portopening.h"
#include "cli/portscommand.h"
#include "cli/sendframes.h"
#include "cli/stopsignals.h"
#include "cli/watcher.h"
#include "logformat/recordwriter.h"
#include "plot/plotcommand.h"
#include "serial/serialchannel.h"

#include <QCoreApplication>
#include <QFile>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

namespace {

// The log's file, appended to, or stdout. A file that already holds lines
// gets no second header.
std::FILE *openLog(Invocation &invocation)
{
    if (invocation.watch.output.isEmpty())
        return stdout;
    std::FILE *out = std::fopen(QFile::encodeName(invocation.watch.output).constData(), "a");
    if (!out) {
        tell(QStringLiteral("cannot open the log %1: %2")
                 .arg(invocation.watch.output, QString::fromLocal8Bit(std::strerror(errno))));
        return nullptr;
    }
    if (std::fseek(out, 0, SEEK_END) == 0 && std::ftell(out) > 0)
        invocation.watch.header = false;
    return out;
}

int watch(Invocation invocation)
{
    SerialChannel channel;
    if (invocation.watch.reconnect)
        choosePort(channel, invocation); // the watcher opens it, and again
    else if (!openChosenPort(channel, invocation))
        return 1;
    std::unique_ptr<Metrics> metrics;
    if (invocation.watch.metrics) {
        metrics = std::make_unique<Metrics>(invocation, chosenDevice(invocation));
        QString why;
        const MetricsAddress &address = *invocation.watch.metrics;
        const quint16 port = metrics->listen(address, &why);
        if (port == 0) {
            tell(why);
            return 1;
        }
        // A chosen port is known only now, and Prometheus needs it.
        if (address.port == 0)
            tell(QStringLiteral("metrics on http://%1:%2/metrics")
                     .arg(address.host.contains(u':') ? QStringLiteral("[%1]").arg(address.host)
                                                      : address.host)
                     .arg(port));
    }
    std::FILE *out = openLog(invocation);
    if (!out)
        return 1;
    const std::unique_ptr<std::FILE, int (*)(std::FILE *)> closing(out == stdout ? nullptr : out,
                                                                   &std::fclose);
    RecordWriter writer(invocation.watch.format, out);
    Watcher watcher(channel, invocation, writer, metrics.get());
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
    }
    return 2;
}
