// SPDX-License-Identifier: MIT
#include "cli/portopening.h"

#include <cstdio>

void tell(const QString &message)
{
    std::fprintf(stderr, "korvale-cli: %s\n", qPrintable(message));
    std::fflush(stderr);
}

void tellSettingsIgnored(int port, const QString &problem, const QString &device)
{
    tell(QStringLiteral("%1; comm%2 opens the default %3").arg(problem).arg(port).arg(device));
}
