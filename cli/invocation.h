// SPDX-License-Identifier: MIT
#pragma once

#include "cli/portscommand.h"
#include "logformat/logformat.h"
#include "plot/plotoptions.h"
#include "protocol/commandframe.h"

#include <QString>
#include <QStringList>

#include <optional>
#include <vector>

// Where --metrics, --http or --scpi serves: 127.0.0.1 unless an address is given.
struct HttpAddress
{
    QString host = QStringLiteral("127.0.0.1");
    quint16 port = 0;

    // The host as a URL writes it: an IPv6 address in brackets.
    QString urlHost() const
    {
        return host.contains(u':') ? QStringLiteral("[%1]").arg(host) : host;
    }
};

struct WatchOptions
{
    RecordFormat format = RecordFormat::Csv;
    bool header = true;
    std::optional<qint64> count;
    std::optional<qint64> durationMs;
    bool reconnect = false;
    std::optional<HttpAddress> metrics;
    QString output; // a file the log is appended to; empty for stdout
};

struct ServeOptions
{
    HttpAddress http{QStringLiteral("127.0.0.1"), 8080};
    QString tokenFile;               // its first line is the key token; empty for a random one
    std::optional<HttpAddress> scpi; // SCPI on raw TCP, when asked for
    bool announce = true;            // the SCPI server through Avahi
};

// What one run of the tool is asked to do, checked in full before anything
// is opened or sent.
struct Invocation
{
    enum class Action
    {
        Help,
        Watch,
        Send,
        Plot,
        Ports,
        Serve,
    };
    Action action = Action::Help;
    QString helpTopic; // the command whose help was asked for, or empty
    int port = 0;      // 1 or 2, unless `device` is given
    QString device;
    WatchOptions watch; // format, header and output serve serve's log too
    ServeOptions serve;
    PlotOptions plot;
    std::vector<korvale::CommandFrame> frames; // for Send, in order
    PortsRequest ports;
};

struct ParsedInvocation
{
    std::optional<Invocation> invocation;
    QString error; // a usage error when there is no invocation
};

// The arguments without the program name. Options may stand before or after
// the command; "--name value" and "--name=value" are both understood.
ParsedInvocation parseInvocation(const QStringList &arguments);
