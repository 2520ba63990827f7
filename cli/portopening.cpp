// SPDX-License-Identifier: MIT
#include "cli/portopening.h"

#include "cli/invocation.h"
#include "serial/serialchannel.h"

#include <QEventLoop>

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

void tellSettingsIgnored(int port, const QString &problem, const QString &device)
{
    tell(QStringLiteral("%1; comm%2 opens the default %3").arg(problem).arg(port).arg(device));
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
    bool failed = false;
    bool ready = false;
    QEventLoop waiting;
    QObject::connect(&channel, &SerialChannel::openFailed, &waiting,
                     [&](int, const QString &device, const QString &reason) {
                         failed = true;
                         tell(QStringLiteral("%1 could not be opened: %2.")
                                  .arg(portName(invocation, device), reason));
                         waiting.quit();
                     });
    QObject::connect(&channel, &SerialChannel::settingsIgnored, &tellSettingsIgnored);
    QObject::connect(&channel, &SerialChannel::opened, &waiting, [&] {
        ready = true;
        waiting.quit();
    });
    choosePort(channel, invocation);
    channel.setPortOpen(true);
    // A network device connects in the background and ends either way
    // within the channel's own time limit.
    if (!ready && !failed && channel.PortOpen())
        waiting.exec();
    return ready;
}
