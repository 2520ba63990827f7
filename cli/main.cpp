// SPDX-License-Identifier: MIT
// korvale-cli: the supply from scripts and logs. Qt Core and Serial Port
// only, so it runs without a display.
#include "cli/helptext.h"
#include "cli/invocation.h"
#include "cli/metrics.h"
#include "cli/portopening.h"
#include "cli/recordwriter.h"
#include "cli/sendframes.h"
#include "cli/stopsignals.h"
#include "cli/watcher.h"
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
        if (!metrics->listen(*invocation.watch.metrics, &why)) {
            tell(why);
            return 1;
        }
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
    }
    return 2;
}
