// SPDX-License-Identifier: MIT
#pragma once

#include <QString>

// One line on standard error, after the tool's name.
void tell(const QString &message);
// The settings file had nothing usable for the port, which opens its default.
void tellSettingsIgnored(int port, const QString &problem, const QString &device);
