// SPDX-License-Identifier: MIT
#pragma once

#include <QString>

class SerialChannel;
struct Invocation;

// The device the invocation names, by path or through the port map.
QString chosenDevice(const Invocation &invocation);

// Sets the channel up for the port the invocation names, without opening it.
void choosePort(SerialChannel &channel, const Invocation &invocation);

// Opens the port the invocation names, with DTR raised as the panel does,
// and for a network device waits until it is connected. On failure it says
// why on standard error and returns false.
bool openChosenPort(SerialChannel &channel, const Invocation &invocation);

// "comm1 (/dev/ttyS0)", or just the device when one was named.
QString portName(const Invocation &invocation, const QString &device);

// One line on standard error, after the tool's name.
void tell(const QString &message);
// The settings file had nothing usable for the port, which opens its default.
void tellSettingsIgnored(int port, const QString &problem, const QString &device);
