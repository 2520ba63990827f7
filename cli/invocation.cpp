// SPDX-License-Identifier: MIT
#include "cli/invocation.h"

#include "cli/helptext.h"
#include "protocol/keypad.h"

#include <CLI/CLI.hpp>
#include <QHostAddress>
#include <QRegularExpression>

#include <cmath>
#include <map>

namespace {

const char kKeys[] = "U u N I ENT F P CE I/O";

ParsedInvocation usageError(const QString &error)
{
    return {std::nullopt, error};
}

// The words given to one command: its operands, and its options whether
// they stood before or after it.
struct Given
{
    const CLI::App &tool;
    const CLI::App &command;
    QString name;
    QStringList operands;

    std::optional<QString> option(const char *option) const
    {
        for (const CLI::App *app : {&command, &tool}) {
            const CLI::Option *given = app->get_option_no_throw(option);
            if (given && given->count() > 0)
                return QString::fromStdString(given->results().back());
        }
        return std::nullopt;
    }
};

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
std::optional<QString> readLogOptions(const Given &given, WatchOptions &watch)
{
    if (!given.operands.isEmpty())
        return QStringLiteral("%1 takes no operand ('%2')").arg(given.name, given.operands.first());
    if (const auto format = given.option("--format")) {
        if (*format == QLatin1String("csv"))
            watch.format = RecordFormat::Csv;
        else if (*format == QLatin1String("jsonl"))
            watch.format = RecordFormat::JsonLines;
        else
            return QStringLiteral("--format is csv or jsonl, not '%1'").arg(*format);
    }
    watch.header = !given.option("--no-header");
    if (const auto output = given.option("--output")) {
        if (output->isEmpty())
            return QStringLiteral("--output needs a file");
        watch.output = *output;
    }
    return std::nullopt;
}

std::optional<QString> readWatchOptions(const Given &given, WatchOptions &watch)
{
    if (const auto error = readLogOptions(given, watch))
        return error;
    if (const auto count = given.option("--count")) {
        bool ok = false;
        const qint64 n = count->toLongLong(&ok);
        if (!ok || n < 1)
            return QStringLiteral("--count needs a whole number of frames from 1 up");
        watch.count = n;
    }
    if (const auto duration = given.option("--duration")) {
        bool ok = false;
        const double seconds = duration->toDouble(&ok);
        // A QTimer takes up to 24 days; a year is more than any log needs.
        if (!ok || !std::isfinite(seconds) || seconds < 0.001 || seconds > 366.0 * 86400)
            return QStringLiteral("--duration needs seconds from 0.001 to 31622400");
        watch.durationMs = qRound64(seconds * 1000);
    }
    watch.reconnect = given.option("--reconnect").has_value();
    if (const auto metrics = given.option("--metrics")) {
        watch.metrics = httpAddress(*metrics);
        if (!watch.metrics)
            return QStringLiteral("--metrics needs [ADDRESS:]PORT, such as 9100 or "
                                  "0.0.0.0:9100, not '%1'")
                .arg(*metrics);
    }
    return std::nullopt;
}

std::optional<QString> readServeOptions(const Given &given, Invocation &invocation)
{
    // Only a file log: the panel's address goes to standard output.
    if (given.option("--no-header") && !given.option("--output"))
        return QStringLiteral("--no-header needs --output");
    if (const auto error = readLogOptions(given, invocation.watch))
        return error;
    if (const auto http = given.option("--http")) {
        const auto address = httpAddress(*http);
        if (!address)
            return QStringLiteral("--http needs [ADDRESS:]PORT, such as 8080 or "
                                  "0.0.0.0:8080, not '%1'")
                .arg(*http);
        invocation.serve.http = *address;
    }
    if (const auto tokenFile = given.option("--token-file")) {
        if (tokenFile->isEmpty())
            return QStringLiteral("--token-file needs a file");
        invocation.serve.tokenFile = *tokenFile;
    }
    if (const auto scpi = given.option("--scpi")) {
        invocation.serve.scpi = httpAddress(*scpi);
        if (!invocation.serve.scpi)
            return QStringLiteral("--scpi needs [ADDRESS:]PORT, such as 5025 or "
                                  "0.0.0.0:5025, not '%1'")
                .arg(*scpi);
    }
    invocation.serve.announce = !given.option("--no-announce");
    if (!invocation.serve.announce && !invocation.serve.scpi)
        return QStringLiteral("--no-announce needs --scpi");
    return std::nullopt;
}

// Each operand is a press on the panel's keypad, by the keypad's own rules.
std::optional<QString> readFrames(const Given &given, std::vector<korvale::CommandFrame> &frames)
{
    const auto take = [&frames](const korvale::KeyPress &press) -> std::optional<QString> {
        if (!press.frame)
            return QString::fromStdString(press.why);
        frames.push_back(*press.frame);
        return std::nullopt;
    };
    if (given.name != QLatin1String("press")) {
        if (given.operands.size() != 1)
            return QStringLiteral("%1 needs exactly one number from 0 to 255").arg(given.name);
        const bool up = given.name == QLatin1String("up");
        return take(korvale::pressControl(up ? korvale::kArrowRight : korvale::kArrowLeft,
                                          given.operands.first().toStdString()));
    }
    if (given.operands.isEmpty())
        return QStringLiteral("press needs at least one key (%1)").arg(kKeys);
    for (const QString &name : given.operands) {
        const auto command = korvale::commandOfCaption(name.toStdString());
        if (!command)
            return QStringLiteral("no key is named '%1' (keys: %2)").arg(name, kKeys);
        if (const auto why = take(korvale::pressControl(*command)))
            return why;
    }
    return std::nullopt;
}

std::optional<QString> readPlotOptions(const Given &given, PlotOptions &plot)
{
    if (given.operands.size() > 1)
        return QStringLiteral("plot reads one log, not %1").arg(given.operands.size());
    plot.log = given.operands.value(0);
    if (plot.log == QLatin1String("-"))
        plot.log.clear();
    plot.output = given.option("--output").value_or(QString());
    const QString type = plot.output.section(u'.', -1).toLower();
    if (plot.output.isEmpty() || !plot.output.contains(u'.') ||
        (type != QLatin1String("svg") && type != QLatin1String("png")))
        return QStringLiteral("plot needs -o FILE ending in .svg or .png");
    plot.title = given.option("--title").value_or(QString());
    if (const auto size = given.option("--size")) {
        const QRegularExpressionMatch match =
            QRegularExpression(QStringLiteral("^(\\d{3,5})x(\\d{3,5})$")).match(*size);
        plot.width = match.captured(1).toInt();
        plot.height = match.captured(2).toInt();
        if (!match.hasMatch() || plot.width < 400 || plot.height < 300 || plot.width > 10000 ||
            plot.height > 10000)
            return QStringLiteral("--size is WIDTHxHEIGHT in pixels, from 400x300 to 10000x10000");
    }
    for (auto [name, bound] : {std::pair{"--from", &plot.from}, std::pair{"--to", &plot.to}}) {
        const std::optional<QString> text = given.option(name);
        if (!text)
            continue;
        *bound = parseTimeBound(*text);
        if (!*bound)
            return QStringLiteral("%1 needs a time such as 14:05, 14:05:30 or "
                                  "2026-03-01T14:05:30, not '%2'")
                .arg(QLatin1String(name), *text);
    }
    plot.readOnly = given.option("--read-only").has_value();
    return std::nullopt;
}

std::optional<QString> readPort(const Given &given, Invocation &invocation)
{
    const auto port = given.option("--port");
    const auto device = given.option("--device");
    if (port.has_value() == device.has_value())
        return QStringLiteral("name the port with either --port 1|2 or --device PATH");
    if (device) {
        if (device->isEmpty())
            return QStringLiteral("--device needs a path");
        invocation.device = *device;
        invocation.port = 1;
        return std::nullopt;
    }
    if (*port != QLatin1String("1") && *port != QLatin1String("2"))
        return QStringLiteral("--port is 1 or 2, not '%1'").arg(*port);
    invocation.port = port->toInt();
    return std::nullopt;
}

// Who an option given to the wrong command belongs to: serve's log options
// are named as watch's.
QString owners(const CLI::App &tool, const std::string &option)
{
    QStringList owners;
    for (const char *command : {"watch", "plot", "serve"}) {
        if (tool.get_subcommand(command)->get_option_no_throw(option) &&
            (owners.isEmpty() || command != std::string_view("serve")))
            owners << QLatin1String(command);
    }
    return owners.join(QLatin1String(" and "));
}

// What CLI11 leaves over and second uses of an option, in the words of the
// rest of the tool's messages.
std::optional<QString> misused(const CLI::App &tool, const CLI::App *command, QStringList &operands)
{
    for (const std::string &extra : tool.remaining(true)) {
        const QString word = QString::fromStdString(extra);
        if (word == QLatin1String("--")) // kept by CLI11 where operands follow
            continue;
        if (word.startsWith(QLatin1String("--")))
            return QStringLiteral("unknown option %1").arg(word.section(u'=', 0, 0));
        // "-x" after the command is one of its operands: only "--" starts an option.
        if (!command || !word.startsWith(u'-'))
            return QStringLiteral("unknown command '%1'").arg(word);
        operands << word;
    }
    // Each option of a command is on the tool too: counted there, by name.
    for (const CLI::Option *option : tool.get_options()) {
        const CLI::Option *own =
            command ? command->get_option_no_throw(option->get_name()) : nullptr;
        if (option->count() + (own ? own->count() : 0) > 1)
            return QStringLiteral("%1 is given twice")
                .arg(QString::fromStdString(option->get_name()));
    }
    return std::nullopt;
}

} // namespace

ParsedInvocation parseInvocation(const QStringList &arguments)
{
    const auto tool = commandLine();
    std::vector<std::string> words; // last first, as CLI11 takes them
    for (auto word = arguments.crbegin(); word != arguments.crend(); ++word) {
        words.push_back(word->toStdString());
        // CLI11 reads "--flag=true" as "--flag", and takes the next word for
        // "--name=" where the empty value is meant.
        const QString name = word->section(u'=', 0, 0);
        const CLI::Option *option = tool->get_option_no_throw(name.toStdString());
        if (!option || !word->startsWith(QLatin1String("--")) || name == *word)
            continue;
        if (option->get_expected_max() == 0)
            return usageError(QStringLiteral("%1 takes no value").arg(name));
        if (word->size() == name.size() + 1) {
            words.back() = std::string();
            words.push_back(name.toStdString());
        }
    }
    bool help = false;
    try {
        tool->parse(words);
    } catch (const CLI::CallForHelp &) {
        help = true;
    } catch (const CLI::ParseError &error) {
        // Any word after an option is its value: only the last can lack one.
        const CLI::Option *option = tool->get_option_no_throw(arguments.last().toStdString());
        return usageError(
            option
                ? QStringLiteral("%1 needs a value").arg(QString::fromStdString(option->get_name()))
                : QString::fromUtf8(error.what()));
    }

    const auto chosen = tool->get_subcommands();
    const CLI::App *command = chosen.empty() ? nullptr : chosen.front();
    QStringList operands;
    if (command) {
        for (const std::string &operand : command->get_option("operands")->results())
            operands << QString::fromStdString(operand);
    }
    if (const auto error = misused(*tool, command, operands))
        return usageError(*error);
    if (command && command->get_name() == "help") {
        const std::string topic = operands.value(0).toStdString();
        const auto named = tool->get_subcommands(
            [&topic](const CLI::App *app) { return app->get_name() == topic && topic != "help"; });
        if (!topic.empty() && named.empty())
            return usageError(QStringLiteral("unknown command '%1'").arg(operands.first()));
        help = true;
        command = topic.empty() ? nullptr : named.front();
    }
    Invocation invocation;
    if (help) {
        invocation.helpTopic = command ? QString::fromStdString(command->get_name()) : QString();
        return {invocation, {}};
    }
    if (!command)
        return usageError(
            QStringLiteral("no command given (watch, serve, press, up, down, plot or ports)"));

    const Given given{*tool, *command, QString::fromStdString(command->get_name()), operands};
    if (given.name == QLatin1String("ports")) {
        invocation.action = Invocation::Action::Ports;
        std::map<QString, QString> options;
        for (const CLI::Option *option : tool->get_options()) {
            if (option->count() > 0)
                options.emplace(QString::fromStdString(option->get_name()),
                                QString::fromStdString(option->results().back()));
        }
        if (const auto error = readPortsRequest(operands, options, invocation.ports))
            return usageError(*error);
        return {invocation, {}};
    }
    // Options of one command given to another are refused, not ignored.
    for (const CLI::Option *option : tool->get_options()) {
        if (option->count() == 0 || command->get_option_no_throw(option->get_name()))
            continue;
        if (option->get_name() == "--port" || option->get_name() == "--device") {
            if (given.name == QLatin1String("plot"))
                return usageError(QStringLiteral("plot reads a log, not a port"));
            continue;
        }
        return usageError(QStringLiteral("%1 belongs to %2, not to %3")
                              .arg(QString::fromStdString(option->get_name()),
                                   owners(*tool, option->get_name()), given.name));
    }

    std::optional<QString> error;
    if (given.name == QLatin1String("plot")) {
        invocation.action = Invocation::Action::Plot;
        if (const auto plotError = readPlotOptions(given, invocation.plot))
            return usageError(*plotError);
        return {invocation, {}};
    }
    if (given.name == QLatin1String("watch")) {
        invocation.action = Invocation::Action::Watch;
        error = readWatchOptions(given, invocation.watch);
    } else if (given.name == QLatin1String("serve")) {
        invocation.action = Invocation::Action::Serve;
        error = readServeOptions(given, invocation);
    } else {
        invocation.action = Invocation::Action::Send;
        error = readFrames(given, invocation.frames);
    }
    if (!error)
        error = readPort(given, invocation);
    if (error)
        return usageError(*error);
    return {invocation, {}};
}
