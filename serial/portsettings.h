// SPDX-License-Identifier: MIT
#pragma once

#include <QString>

// Which device each of comm1 and comm2 opens. The environment comes first
// (KORVALE_COMM1, KORVALE_COMM2), then the user's settings file, then
// /dev/ttyS0 and /dev/ttyS1. The file is read afresh at every call, so an
// assignment applies at the next opening without a restart.
//
// The file: $XDG_CONFIG_HOME/korvale/korvale.conf (~/.config/... when the
// variable is unset), INI, section [ports], keys comm1 and comm2.
namespace PortSettings {

enum class Origin
{
    Environment,
    SettingsFile,
    Default,
};

struct Resolved
{
    QString device;
    Origin origin = Origin::Default;
    // Why the settings file gave nothing for this port: it is missing,
    // broken, or its entry is. Empty when the entry was used, when the
    // file simply has none, or when the environment decided.
    QString problem;
};

QString filePath();
// "environment", "settings file" or "default".
QString originName(Origin origin);

Resolved resolve(int port);

// Why `device` cannot be a device: empty when it can. A device is an
// absolute path, or socket://HOST:PORT with PORT from 1 to 65535.
QString deviceProblem(const QString &device);

// Remembers `device` for the port in the settings file, keeping everything
// else in it. The file is replaced whole or not at all. Empty on success,
// else why nothing was written.
QString assign(int port, const QString &device);
QString clear(int port);

// Why `device` is no serial port although the kernel has its name (a
// ttyS name with no UART behind it); empty when it is one, when it does
// not exist, or when the kernel does not say. `sysClassTty` is where the
// kernel describes its terminals.
QString missingUart(const QString &device,
                    const QString &sysClassTty = QStringLiteral("/sys/class/tty"));

} // namespace PortSettings
