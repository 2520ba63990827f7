// SPDX-License-Identifier: MIT
#pragma once

#include "logformat/logformat.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <array>
#include <optional>

class QIODevice;

// One line of a log written by `watch`: a frame's readings or an event.
struct LogRecord
{
    std::optional<LogEvent> event; // none for a frame
    qint64 timeMs = 0;             // since the epoch
    int offsetSeconds = 0;         // from UTC, as the line wrote it
    std::array<float, 6> values{}; // V A W limit_V limit_A limit_W, in V, A, W
    bool outputOn = false;
};

// Lines of a QIODevice, read in large blocks, so that a long log costs
// little more than the bytes themselves.
class LineReader
{
public:
    explicit LineReader(QIODevice &device) : m_device(device) {}

    // The next line without its end, valid until the next call; false at
    // the end of the input.
    bool next(QByteArrayView &line);
    qint64 lineNumber() const { return m_lineNumber; }

private:
    QIODevice &m_device;
    QByteArray m_buffer;
    qsizetype m_start = 0;
    qint64 m_lineNumber = 0;
    bool m_atEnd = false;
    bool m_skipping = false;
};

// Reads `watch`'s lines: CSV with or without its header, or JSON lines, the
// settings at full resolution ("12.50") or, from older logs, as the window
// shows them ("12"). The first record decides the format; a line of the other kind is then refused,
// since two logs mixed in one file would draw one run over another.
class LogParser
{
public:
    enum class Result
    {
        Record,
        Skipped, // a blank line or a CSV header
        Refused,
    };
    LogParser();
    Result parse(QByteArrayView line, LogRecord &record);
    // Why the last line was refused.
    QString why() const { return m_why; }

private:
    Result refuse(const QString &why);
    Result parseCsv(QByteArrayView line, LogRecord &record);
    Result parseJson(QByteArrayView line, LogRecord &record);
    bool readHeader(QByteArrayView line);

    std::optional<RecordFormat> m_format; // unknown until the first record
    // Column of time, the six readings and output; watch's order until a
    // header says otherwise.
    std::array<int, 8> m_columns{};
    int m_columnCount = 0;
    QString m_why;
};

// "2026-03-01T14:05:09.250+01:00" as written by watch; other ISO 8601 forms
// are read too, more slowly. Fills the time and the offset of `record`.
bool parseLogTime(QByteArrayView text, LogRecord &record);
