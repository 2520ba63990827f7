// SPDX-License-Identifier: MIT
#pragma once

#include <QString>

#include <optional>

struct LogRecord;

// A bound of --from or --to: a date and time (ISO 8601, local time unless
// it has an offset), or a time of day, taken on the day of the log's first
// record and in its offset.
struct TimeBound
{
    qint64 ms = 0; // since the epoch, or since midnight for a time of day
    bool timeOfDay = false;

    // On the first record's day, or the day after when that is earlier.
    qint64 resolve(const LogRecord &first) const;
};
std::optional<TimeBound> parseTimeBound(const QString &text);

struct PlotOptions
{
    QString log; // empty for standard input
    QString output;
    QString title;
    int width = 1200;
    int height = 800;
    std::optional<TimeBound> from; // resolved against the log
    std::optional<TimeBound> to;
    bool readOnly = false; // read and parse only, for measuring the floor
};
