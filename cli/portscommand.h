// SPDX-License-Identifier: MIT
#pragma once

#include <QString>
#include <QStringList>

#include <map>
#include <optional>

// `ports`: the serial devices present and where comm1 and comm2 lead;
// `ports set N DEVICE` and `ports clear N` change the settings file.
struct PortsRequest
{
    enum class Kind
    {
        List,
        Set,
        Clear,
    };
    Kind kind = Kind::List;
    int port = 0;
    QString device;
    bool json = false;
};

// The operands after "ports" and the options given; a usage error, if any.
std::optional<QString> readPortsRequest(const QStringList &operands,
                                        const std::map<QString, QString> &options,
                                        PortsRequest &request);

// Exit status: 0 done, 1 the settings file could not be written.
int runPorts(const PortsRequest &request);
