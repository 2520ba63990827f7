// SPDX-License-Identifier: MIT
#include "cli/invocation.h"

#include "cli/keynames.h"
#include "protocol/numberentry.h"

#include <QHostAddress>

#include <cmath>
#include <map>

namespace {

const QStringList kCommands = {QStringLiteral("watch"), QStringLiteral("press"),
                               QStringLiteral("up"), QStringLiteral("down")};
const QStringList kValued = {QStringLiteral("--port"),     QStringLiteral("--device"),
                             QStringLiteral("--format"),   QStringLiteral("--count"),
                             QStringLiteral("--duration"), QStringLiteral("--metrics"),
                             QStringLiteral("--output")};
const QStringList kFlags = {QStringLiteral("--help"), QStringLiteral("--no-header"),
                            QStringLiteral("--reconnect")};
const QStringList kWatchOnly = {QStringLiteral("--format"),    QStringLiteral("--count"),
                                QStringLiteral("--duration"),  QStringLiteral("--no-header"),
                                QStringLiteral("--reconnect"), QStringLiteral("--metrics"),
                                QStringLiteral("--output")};

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
        // Numbers such as "-0" are operands: only "--" starts an option.
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

std::optional<MetricsAddress> metricsAddress(const QString &text)
{
    MetricsAddress address;
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
    if (!ok || port < 1 || port > 65535)
        return std::nullopt;
    address.port = quint16(port);
    return address;
}

std::optional<QString> readWatchOptions(const Words &words, WatchOptions &watch)
{
    if (!words.operands.isEmpty())
        return QStringLiteral("watch takes no operand ('%1')").arg(words.operands.first());
    const auto option = [&words](const char *name) -> std::optional<QString> {
        const auto it = words.options.find(QLatin1String(name));
        return it == words.options.end() ? std::nullopt : std::optional(it->second);
    };
    if (const auto format = option("--format")) {
        if (*format == QLatin1String("csv"))
            watch.format = RecordFormat::Csv;
        else if (*format == QLatin1String("jsonl"))
            watch.format = RecordFormat::JsonLines;
        else
            return QStringLiteral("--format is csv or jsonl, not '%1'").arg(*format);
    }
    watch.header = !option("--no-header");
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
        watch.metrics = metricsAddress(*metrics);
        if (!watch.metrics)
            return QStringLiteral("--metrics needs [ADDRESS:]PORT, such as 9100 or "
                                  "0.0.0.0:9100, not '%1'")
                .arg(*metrics);
    }
    if (const auto output = option("--output")) {
        if (output->isEmpty())
            return QStringLiteral("--output needs a file");
        watch.output = *output;
    }
    return std::nullopt;
}

std::optional<QString> readFrames(const Words &words, std::vector<korvale::CommandFrame> &frames)
{
    for (const auto &name : kWatchOnly) {
        if (words.options.count(name))
            return QStringLiteral("%1 belongs to watch, not to %2").arg(name, words.command);
    }
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
        return usageError(QStringLiteral("no command given (watch, press, up or down)"));

    std::optional<QString> error;
    if (words.command == QLatin1String("watch")) {
        invocation.action = Invocation::Action::Watch;
        error = readWatchOptions(words, invocation.watch);
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
