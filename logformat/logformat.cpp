// SPDX-License-Identifier: MIT
#include "logformat/logformat.h"

#include <QString>

const char *logEventName(LogEvent event)
{
    for (const auto &[known, name] : kLogEvents) {
        if (known == event)
            return name;
    }
    return "";
}

std::optional<LogEvent> logEventNamed(QStringView name)
{
    for (const auto &[event, known] : kLogEvents) {
        if (name == QLatin1String(known))
            return event;
    }
    return std::nullopt;
}
