// SPDX-License-Identifier: MIT
#include "cli/portscommand.h"

#include "cli/portopening.h"
#include "serial/devicelist.h"
#include "serial/portsettings.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <cstdio>

std::optional<QString> readPortsRequest(const QStringList &operands,
                                        const std::map<QString, QString> &options,
                                        PortsRequest &request)
{
    for (const auto &[name, value] : options) {
        if (name != QLatin1String("--format"))
            return QStringLiteral("ports takes no %1").arg(name);
        if (value != QLatin1String("text") && value != QLatin1String("json"))
            return QStringLiteral("--format of ports is text or json, not '%1'").arg(value);
        request.json = value == QLatin1String("json");
    }
    const QString verb = operands.value(0);
    if (operands.isEmpty())
        return std::nullopt;
    if (verb != QLatin1String("set") && verb != QLatin1String("clear"))
        return QStringLiteral("ports is followed by set, clear or nothing, not '%1'").arg(verb);
    const bool set = verb == QLatin1String("set");
    request.kind = set ? PortsRequest::Kind::Set : PortsRequest::Kind::Clear;
    if (operands.size() != (set ? 3 : 2))
        return set ? QStringLiteral("ports set needs a port (1 or 2) and a device")
                   : QStringLiteral("ports clear needs a port (1 or 2)");
    if (operands[1] != QLatin1String("1") && operands[1] != QLatin1String("2"))
        return QStringLiteral("the port is 1 or 2, not '%1'").arg(operands[1]);
    request.port = operands[1].toInt();
    if (set) {
        request.device = operands[2];
        if (const QString bad = PortSettings::deviceProblem(request.device); !bad.isEmpty())
            return QStringLiteral("'%1': %2").arg(request.device, bad);
    }
    return std::nullopt;
}

namespace {

void print(const QString &text)
{
    std::fputs(qPrintable(text), stdout);
    std::fflush(stdout);
}

QJsonObject listing()
{
    QJsonArray devices;
    const auto assignments = portDevices();
    for (const SerialDevice &device : SystemDevices().devices()) {
        devices.append(QJsonObject{{QStringLiteral("device"), device.path},
                                   {QStringLiteral("kernel"), device.kernelPath},
                                   {QStringLiteral("maker"), device.maker},
                                   {QStringLiteral("product"), device.product},
                                   {QStringLiteral("serial"), device.serialNumber},
                                   {QStringLiteral("assigned"), assignedPorts(device, assignments)},
                                   {QStringLiteral("note"), device.note}});
    }
    QJsonObject ports;
    for (int port = 1; port <= 2; ++port) {
        const PortSettings::Resolved resolved = PortSettings::resolve(port);
        ports.insert(
            QStringLiteral("comm%1").arg(port),
            QJsonObject{{QStringLiteral("device"), resolved.device},
                        {QStringLiteral("origin"), PortSettings::originName(resolved.origin)},
                        {QStringLiteral("problem"), resolved.problem}});
    }
    return {{QStringLiteral("devices"), devices},
            {QStringLiteral("ports"), ports},
            {QStringLiteral("settings_file"), PortSettings::filePath()}};
}

// The same listing for people: one block per device, then the ports.
QString asText(const QJsonObject &all)
{
    QString text;
    const QJsonArray devices = all.value(QLatin1String("devices")).toArray();
    if (devices.isEmpty())
        text += noDeviceCauses() + u'\n';
    for (const QJsonValue &value : devices) {
        const QJsonObject device = value.toObject();
        const auto field = [&device](const char *name) {
            const QString text = device.value(QLatin1String(name)).toString();
            return text.isEmpty() ? QStringLiteral("-") : text;
        };
        text +=
            QStringLiteral("%1\n    kernel %2, maker %3, product %4, serial %5, assigned to %6\n")
                .arg(field("device"), field("kernel"), field("maker"), field("product"),
                     field("serial"), field("assigned"));
        if (!device.value(QLatin1String("note")).toString().isEmpty())
            text += QStringLiteral("    note: %1\n").arg(field("note"));
    }
    text += u'\n';
    const QJsonObject ports = all.value(QLatin1String("ports")).toObject();
    for (const QString &name : ports.keys()) {
        const QJsonObject port = ports.value(name).toObject();
        text += QStringLiteral("%1  %2  (%3)\n")
                    .arg(name, port.value(QLatin1String("device")).toString(),
                         port.value(QLatin1String("origin")).toString());
        if (const QString problem = port.value(QLatin1String("problem")).toString();
            !problem.isEmpty())
            text += QStringLiteral("       not from the settings file: %1\n").arg(problem);
    }
    text += QStringLiteral("settings file: %1\n")
                .arg(all.value(QLatin1String("settings_file")).toString());
    return text;
}

} // namespace

int runPorts(const PortsRequest &request)
{
    if (request.kind == PortsRequest::Kind::List) {
        const QJsonObject all = listing();
        print(request.json ? QString::fromUtf8(QJsonDocument(all).toJson(QJsonDocument::Indented))
                           : asText(all));
        return 0;
    }
    const bool set = request.kind == PortsRequest::Kind::Set;
    const QString problem = set ? PortSettings::assign(request.port, request.device)
                                : PortSettings::clear(request.port);
    if (!problem.isEmpty()) {
        tell(problem);
        return 1;
    }
    const PortSettings::Resolved now = PortSettings::resolve(request.port);
    print(QStringLiteral("comm%1  %2  (%3)\n")
              .arg(request.port)
              .arg(now.device, PortSettings::originName(now.origin)));
    if (now.origin == PortSettings::Origin::Environment)
        tell(QStringLiteral("KORVALE_COMM%1 is set here and comes before the settings file")
                 .arg(request.port));
    return 0;
}
