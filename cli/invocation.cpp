// SPDX-License-Identifier: MIT
#include "cli/invocation.h"

#include "cli/keynames.h"
#include "protocol/numberentry.h"

#include <QHostAddress>
#include <QRegularExpression>

#include <cmath>
#include <map>

namespace {

const QStringList kCommands = {QStringLiteral("watch"), QStringLiteral("press"),
                               QStringLiteral("up"),    QStringLiteral("down"),
                               QStringLiteral("plot"),  QStringLiteral("ports"),
                               QStringLiteral("serve")};
const QStringList kValued = {
    QStringLiteral("--port"),      QStringLiteral("--device"),   QStringLiteral("--format"),
    QStringLiteral("--count"),     QStringLiteral("--duration"), QStringLiteral("--metrics"),
    QStringLiteral("--output"),    QStringLiteral("--title"),    QStringLiteral("--size"),
    QStringLiteral("--from"),      QStringLiteral("--to"),       QStringLiteral("--http"),
    QStringLiteral("--token-file")};
const QStringList kFlags = {QStringLiteral("--help"), QStringLiteral("--no-header"),
                            QStringLiteral("--reconnect"), QStringLiteral("--read-only")};
// --output is watch's log file and plot's picture.
const QStringList kWatchOnly = {QStringLiteral("--format"),    QStringLiteral("--count"),
                                QStringLiteral("--duration"),  QStringLiteral("--no-header"),
                                QStringLiteral("--reconnect"), QStringLiteral("--metrics")};
// watch's options that serve, which always reconnects and runs until
// stopped, has no use for.
const QStringList kWatchRunOnly = {QStringLiteral("--count"), QStringLiteral("--duration"),
                                   QStringLiteral("--reconnect"), QStringLiteral("--metrics")};
const QStringList kServeOnly = {QStringLiteral("--http"), QStringLiteral("--token-file")};
const QStringList kPlotOnly = {QStringLiteral("--title"), QStringLiteral("--size"),
                               QStringLiteral("--from"), QStringLiteral("--to"),
                               QStringLiteral("--read-only")};

// The words of a command line sorted into options and operands.
struct Words
{
    QString command;
    QStringList operands;
    std::map<QString, QString> options; // flags carry ""
};

ParsedInvocation usageError(const QString &error)
{
    return {std::nullopt, error};
}

std::optional<QString> sortWords(const QStringList &arguments, Words &words)
{
    bool onlyOperands = false;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        QString word = arguments[i];
        if (word == QLatin1String("-h"))
            word = QStringLiteral("--help");
        else if (word == QLatin1String("-o"))
            word = QStringLiteral("--output");
        // Numbers such as "-0" and "-" (standard input) are operands: only
        // "--" starts an option.
        if (onlyOperands || !word.startsWith(QLatin1String("--"))) {
            if (words.command.isEmpty())
                words.command = word;
            else
                words.operands << word;
            continue;
        }
        if (word == QLatin1String("--")) {
            onlyOperands = true;
            continue;
        }
        const qsizetype equals = word.indexOf(u'=');
        const QString name = equals < 0 ? word : word.left(equals);
        QString value;
        if (kValued.contains(name)) {
            if (equals >= 0)
                value = word.mid(equals + 1);
            else if (i + 1 < arguments.size())
                value = arguments[++i];
            else
                return QStringLiteral("%1 needs a value").arg(name);
        } else if (!kFlags.contains(name)) {
            return QStringLiteral("unknown option %1").arg(name);
        } else if (equals >= 0) {
            return QStringLiteral("%1 takes no value").arg(name);
        }
        if (!words.options.emplace(name, value).second)
            return QStringLiteral("%1 is given twice").arg(name);
    }
    return std::nullopt;
}

std::optional<QString> optionOf(const Words &words, const char *name)
{
    const auto it = words.options.find(QLatin1String(name));
    return it == words.options.end() ? std::nullopt : std::optional(it->second);
}

// Options of one command given to another are refused, not ignored.
std::optional<QString> foreignOption(const Words &words, const QStringList &names,
                                     const char *owner)
{
    for (const auto &name : names) {
        if (words.options.count(name))
            return QStringLiteral("%1 belongs to %2, not to %3").arg(name, owner, words.command);
    }
    return std::nullopt;
}

std::optional<HttpAddress> httpAddress(const QString &text)
{
    HttpAddress address;
    const qsizetype colon = text.lastIndexOf(u':');
    if (colon >= 0) {
        address.host = text.left(colon);
        // An IPv6 address stands in brackets, as in a URL.
        if (address.host.startsWith(u'[') && address.host.endsWith(u']'))
            address.host = address.host.mid(1, address.host.size() - 2);
        if (QHostAddress(address.host).isNull())
            return std::nullopt;
    }
    bool ok = false;
    const uint port = text.mid(colon + 1).toUInt(&ok);
    // 0 lets the system choose a free port, which the logger then tells.
    if (!ok || port > 65535)
        return std::nullopt;
    address.port = quint16(port);
    return address;
}

// The log's options, watch's and serve's alike.
std::optional<QString> readLogOptions(const Words &words, WatchOptions &watch)
{
    if (!words.operands.isEmpty())
        return QStringLiteral("%1 takes no operand ('%2')")
            .arg(words.command, words.operands.first());
    if (const auto foreign = foreignOption(words, kPlotOnly, "plot"))
        return foreign;
    const auto option = [&words](const char *name) { return optionOf(words, name); };
    if (const auto format = option("--format")) {
        if (*format == QLatin1String("csv"))
            watch.format = RecordFormat::Csv;
        else if (*format == QLatin1String("jsonl"))
            watch.format = RecordFormat::JsonLines;
        else
            return QStringLiteral("--format is csv or jsonl, not '%1'").arg(*format);
    }
    watch.header = !option("--no-header");
    if (const auto output = option("--output")) {
        if (output->isEmpty())
            return QStringLiteral("--output needs a file");
        watch.output = *output;
    }
    return std::nullopt;
}

std::optional<QString> readWatchOptions(const Words &words, WatchOptions &watch)
{
    if (const auto foreign = foreignOption(words, kServeOnly, "serve"))
        return foreign;
    if (const auto error = readLogOptions(words, watch))
        return error;
    const auto option = [&words](const char *name) { return optionOf(words, name); };
    if (const auto count = option("--count")) {
        bool ok = false;
        const qint64 n = count->toLongLong(&ok);
        if (!ok || n < 1)
            return QStringLiteral("--count needs a whole number of frames from 1 up");
        watch.count = n;
    }
    if (const auto duration = option("--duration")) {
        bool ok = false;
        const double seconds = duration->toDouble(&ok);
        // A QTimer takes up to 24 days; a year is more than any log needs.
        if (!ok || !std::isfinite(seconds) || seconds < 0.001 || seconds > 366.0 * 86400)
            return QStringLiteral("--duration needs seconds from 0.001 to 31622400");
        watch.durationMs = qRound64(seconds * 1000);
    }
    watch.reconnect = option("--reconnect").has_value();
    if (const auto metrics = option("--metrics")) {
        watch.metrics = httpAddress(*metrics);
        if (!watch.metrics)
            return QStringLiteral("--metrics needs [ADDRESS:]PORT, such as 9100 or "
                                  "0.0.0.0:9100, not '%1'")
                .arg(*metrics);
    }
    return std::nullopt;
}

std::optional<QString> readServeOptions(const Words &words, Invocation &invocation)
{
    if (const auto foreign = foreignOption(words, kWatchRunOnly, "watch"))
        return foreign;
    // Only a file log: the panel's address goes to standard output.
    if (words.options.count(QStringLiteral("--no-header")) && !optionOf(words, "--output"))
        return QStringLiteral("--no-header needs --output");
    if (const auto error = readLogOptions(words, invocation.watch))
        return error;
    if (const auto http = optionOf(words, "--http")) {
        const auto address = httpAddress(*http);
        if (!address)
            return QStringLiteral("--http needs [ADDRESS:]PORT, such as 8080 or "
                                  "0.0.0.0:8080, not '%1'")
                .arg(*http);
        invocation.serve.http = *address;
    }
    if (const auto tokenFile = optionOf(words, "--token-file")) {
        if (tokenFile->isEmpty())
            return QStringLiteral("--token-file needs a file");
        invocation.serve.tokenFile = *tokenFile;
    }
    return std::nullopt;
}

std::optional<QString> readFrames(const Words &words, std::vector<korvale::CommandFrame> &frames)
{
    if (const auto foreign = foreignOption(words, kWatchOnly, "watch"))
        return foreign;
    if (const auto foreign = foreignOption(words, kServeOnly, "serve"))
        return foreign;
    if (const auto foreign = foreignOption(words, kPlotOnly, "plot"))
        return foreign;
    if (words.options.count(QStringLiteral("--output")))
        return QStringLiteral("--output belongs to watch and plot, not to %1").arg(words.command);
    korvale::CommandFrame frame{};
    if (words.command == QLatin1String("press")) {
        if (words.operands.isEmpty())
            return QStringLiteral("press needs at least one key (U u N I ENT F P CE I/O)");
        for (const QString &name : words.operands) {
            QString why;
            const auto code = keyCodeOfName(name, &why);
            if (!code)
                return why;
            korvale::fillKeyFrame(frame, *code);
            frames.push_back(frame);
        }
        return std::nullopt;
    }
    if (words.operands.size() != 1)
        return QStringLiteral("%1 needs exactly one number from 0 to 255").arg(words.command);
    const QByteArray typed = words.operands.first().toUtf8();
    const auto n = korvale::parseFrameNumber(std::string_view(typed.constData(), typed.size()));
    if (!n)
        return QStringLiteral("'%1' is not a number from 0 to 255").arg(words.operands.first());
    const bool up = words.command == QLatin1String("up");
    korvale::fillNumberedFrame(
        frame, up ? korvale::FrameKind::NumberUp : korvale::FrameKind::NumberDown, *n);
    frames.push_back(frame);
    return std::nullopt;
}

std::optional<QString> readPlotOptions(const Words &words, PlotOptions &plot)
{
    if (words.options.count(QStringLiteral("--port")) ||
        words.options.count(QStringLiteral("--device")))
        return QStringLiteral("plot reads a log, not a port");
    if (const auto foreign = foreignOption(words, kWatchOnly, "watch"))
        return foreign;
    if (const auto foreign = foreignOption(words, kServeOnly, "serve"))
        return foreign;
    if (words.operands.size() > 1)
        return QStringLiteral("plot reads one log, not %1").arg(words.operands.size());
    plot.log = words.operands.value(0);
    if (plot.log == QLatin1String("-"))
        plot.log.clear();
    plot.output = optionOf(words, "--output").value_or(QString());
    const QString type = plot.output.section(u'.', -1).toLower();
    if (plot.output.isEmpty() || !plot.output.contains(u'.') ||
        (type != QLatin1String("svg") && type != QLatin1String("png")))
        return QStringLiteral("plot needs -o FILE ending in .svg or .png");
    plot.title = optionOf(words, "--title").value_or(QString());
    if (const auto size = optionOf(words, "--size")) {
        const QRegularExpressionMatch match =
            QRegularExpression(QStringLiteral("^(\\d{3,5})x(\\d{3,5})$")).match(*size);
        plot.width = match.captured(1).toInt();
        plot.height = match.captured(2).toInt();
        if (!match.hasMatch() || plot.width < 400 || plot.height < 300 || plot.width > 10000 ||
            plot.height > 10000)
            return QStringLiteral("--size is WIDTHxHEIGHT in pixels, from 400x300 to 10000x10000");
    }
    for (auto [name, bound] : {std::pair{"--from", &plot.from}, std::pair{"--to", &plot.to}}) {
        const std::optional<QString> text = optionOf(words, name);
        if (!text)
            continue;
        *bound = parseTimeBound(*text);
        if (!*bound)
            return QStringLiteral("%1 needs a time such as 14:05, 14:05:30 or "
                                  "2026-03-01T14:05:30, not '%2'")
                .arg(QLatin1String(name), *text);
    }
    plot.readOnly = words.options.count(QStringLiteral("--read-only")) > 0;
    return std::nullopt;
}

std::optional<QString> readPort(const Words &words, Invocation &invocation)
{
    const auto port = words.options.find(QStringLiteral("--port"));
    const auto device = words.options.find(QStringLiteral("--device"));
    const bool hasPort = port != words.options.end();
    const bool hasDevice = device != words.options.end();
    if (hasPort == hasDevice)
        return QStringLiteral("name the port with either --port 1|2 or --device PATH");
    if (hasDevice) {
        if (device->second.isEmpty())
            return QStringLiteral("--device needs a path");
        invocation.device = device->second;
        invocation.port = 1;
        return std::nullopt;
    }
    if (port->second != QLatin1String("1") && port->second != QLatin1String("2"))
        return QStringLiteral("--port is 1 or 2, not '%1'").arg(port->second);
    invocation.port = port->second.toInt();
    return std::nullopt;
}

} // namespace

ParsedInvocation parseInvocation(const QStringList &arguments)
{
    Words words;
    if (const auto error = sortWords(arguments, words))
        return usageError(*error);

    Invocation invocation;
    if (words.command == QLatin1String("help")) {
        words.command = words.operands.value(0);
        words.options.emplace(QStringLiteral("--help"), QString());
    }
    if (!words.command.isEmpty() && !kCommands.contains(words.command))
        return usageError(QStringLiteral("unknown command '%1'").arg(words.command));
    if (words.options.count(QStringLiteral("--help"))) {
        invocation.helpTopic = words.command;
        return {invocation, {}};
    }
    if (words.command.isEmpty())
        return usageError(
            QStringLiteral("no command given (watch, serve, press, up, down, plot or ports)"));

    std::optional<QString> error;
    if (words.command == QLatin1String("plot")) {
        invocation.action = Invocation::Action::Plot;
        error = readPlotOptions(words, invocation.plot);
        if (error)
            return usageError(*error);
        return {invocation, {}};
    }
    if (words.command == QLatin1String("ports")) {
        invocation.action = Invocation::Action::Ports;
        if (const auto portsError =
                readPortsRequest(words.operands, words.options, invocation.ports))
            return usageError(*portsError);
        return {invocation, {}};
    }
    if (words.command == QLatin1String("watch")) {
        invocation.action = Invocation::Action::Watch;
        error = readWatchOptions(words, invocation.watch);
    } else if (words.command == QLatin1String("serve")) {
        invocation.action = Invocation::Action::Serve;
        error = readServeOptions(words, invocation);
    } else {
        invocation.action = Invocation::Action::Send;
        error = readFrames(words, invocation.frames);
    }
    if (!error)
        error = readPort(words, invocation);
    if (error)
        return usageError(*error);
    return {invocation, {}};
}
