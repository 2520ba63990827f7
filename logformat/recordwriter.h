// SPDX-License-Identifier: MIT
#pragma once

#include "logformat/logformat.h"
#include "protocol/statusframe.h"

#include <QDateTime>

#include <cstdio>

// Writes watch's lines, each flushed at once. Every call returns false when
// the line could not be written (a full disk, a closed pipe).
class RecordWriter
{
public:
    RecordWriter(RecordFormat format, std::FILE *out) : m_format(format), m_out(out) {}

    bool header();
    bool frame(const QDateTime &time, const korvale::StatusReadings &readings);
    // Only JSON lines carry events; CSV rows stay all of one kind. A reason,
    // when given, says what the operator may want to know.
    bool event(const QDateTime &time, LogEvent event, const QString &reason = {});

private:
    bool write(const QByteArray &line);

    RecordFormat m_format;
    std::FILE *m_out;
};

// ISO 8601 local time with milliseconds and the offset from UTC, so that a
// log across a change of daylight saving time stays in order.
QString isoLocalTime(const QDateTime &time);
