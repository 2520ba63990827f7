// SPDX-License-Identifier: MIT
#pragma once

#include <QString>

// A device named `socket://HOST:PORT`: a raw TCP connection to a serial line
// that a program such as ser2net hands to the network. HOST is a name, an
// IPv4 address or an IPv6 address in brackets.
struct NetworkDevice
{
    QString host;
    quint16 port = 0;
    // Why the name is not a usable address; empty when it is.
    QString error;
};

bool isNetworkDevice(const QString &device);
// Only meaningful for a device that isNetworkDevice() accepts.
NetworkDevice parseNetworkDevice(const QString &device);
