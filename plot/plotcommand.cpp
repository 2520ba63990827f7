// SPDX-License-Identifier: MIT
#include "plot/plotcommand.h"

#include "logformat/logreader.h"
#include "plot/plotoptions.h"
#include "plot/plotrender.h"

#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>

#include <cstdio>

namespace {

// Enough to see what is wrong with a log without burying the rest.
constexpr qint64 kToldLines = 5;

} // namespace

int plotLog(const PlotOptions &options, const std::function<void(const QString &)> &tell)
{
    QFile input;
    const bool standardInput = options.log.isEmpty();
    if (!standardInput)
        input.setFileName(options.log);
    const bool opened =
        standardInput ? input.open(stdin, QIODevice::ReadOnly) : input.open(QIODevice::ReadOnly);
    const QString name = standardInput ? QStringLiteral("standard input") : options.log;
    if (!opened) {
        tell(QStringLiteral("cannot read %1: %2").arg(name, input.errorString()));
        return 1;
    }

    const QSize size(options.width, options.height);
    PlotReduction reduction(plotWidth(size));
    LineReader lines(input);
    LogParser parser;
    LogRecord record;
    qint64 refused = 0;
    qint64 taken = 0;
    std::optional<qint64> from, to;
    const auto refuse = [&](const QString &why) {
        if (++refused <= kToldLines)
            tell(QStringLiteral("%1:%2: %3").arg(name).arg(lines.lineNumber()).arg(why));
    };
    QByteArrayView line;
    while (lines.next(line)) {
        const LogParser::Result result = parser.parse(line, record);
        if (result == LogParser::Result::Refused)
            refuse(parser.why());
        if (result != LogParser::Result::Record || options.readOnly)
            continue;
        if (taken++ == 0) {
            // A time of day is taken on the day of the log's first record.
            if (options.from)
                from = options.from->resolve(record);
            if (options.to)
                to = options.to->resolve(record);
        }
        if ((from && record.timeMs < *from) || (to && record.timeMs > *to))
            continue;
        if (!reduction.add(record))
            refuse(QStringLiteral("earlier than the line before"));
    }
    reduction.finish();
    if (refused > kToldLines)
        tell(QStringLiteral("%1 more unreadable lines not shown").arg(refused - kToldLines));
    if (options.readOnly) {
        std::printf("%lld lines, %lld unreadable\n", lines.lineNumber(), refused);
        return 0;
    }
    if (reduction.frames() == 0) {
        const bool cut = taken > 0 && (options.from || options.to);
        tell(!cut ? QStringLiteral("%1: no readable frame, nothing to plot").arg(name)
                  : QStringLiteral("%1: no frame in the time range").arg(name));
        return 1;
    }
    if (refused > 0)
        tell(QStringLiteral("%1: %2 unreadable %3 left out")
                 .arg(name)
                 .arg(refused)
                 .arg(refused == 1 ? "line" : "lines"));

    PlotPicture picture;
    picture.size = size;
    picture.title = !options.title.isEmpty() ? options.title
                    : standardInput          ? name
                                             : QFileInfo(options.log).fileName();
    picture.columns = reduction.columns();
    picture.firstMs = reduction.firstMs();
    picture.lastMs = reduction.lastMs();
    picture.offsetSeconds = reduction.offsetSeconds();
    picture.frames = reduction.frames();
    QString why;
    if (!writePlot(options.output, picture, why)) {
        tell(QStringLiteral("cannot write %1: %2").arg(options.output, why));
        return 1;
    }
    return 0;
}

int runPlot(int &argc, char **argv, const PlotOptions &options,
            const std::function<void(const QString &)> &tell)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    return plotLog(options, tell);
}
