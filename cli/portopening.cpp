// SPDX-License-Identifier: MIT
#include "cli/portopening.h"

#include "cli/invocation.h"
#include "serial/serialchannel.h"

#include <cstdio>

QString portName(const Invocation &invocation, const QString &device)
{
    if (!invocation.device.isEmpty())
        return device;
    return QStringLiteral("comm%1 (%2)").arg(invocation.port).arg(device);
}

void tell(const QString &message)
{
    std::fprintf(stderr, "korvale-cli: %s\n", qPrintable(message));
    std::fflush(stderr);
}

QString chosenDevice(const Invocation &invocation)
{
    return invocation.device.isEmpty() ? SerialChannel::devicePath(invocation.port)
                                       : invocation.device;
}

void choosePort(SerialChannel &channel, const Invocation &invocation)
{
    channel.setDTREnable(true);
    channel.setCommPort(invocation.port);
    channel.setDevicePath(invocation.device);
}

bool openChosenPort(SerialChannel &channel, const Invocation &invocation)
{
    QObject::connect(&channel, &SerialChannel::openFailed, &channel,
                     [&invocation](int, const QString &device, const QString &reason) {
                         tell(QStringLiteral("%1 could not be opened: %2.")
                                  .arg(portName(invocation, device), reason));
                     });
    choosePort(channel, invocation);
    channel.setPortOpen(true);
    return channel.PortOpen();
}
