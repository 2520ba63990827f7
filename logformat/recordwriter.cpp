// SPDX-License-Identifier: MIT
#include "logformat/recordwriter.h"

#include <QJsonArray>
#include <QJsonDocument>

#include <cmath>

namespace {

QByteArray flag(bool on, RecordFormat format)
{
    if (format == RecordFormat::Csv)
        return on ? "1" : "0";
    return on ? "true" : "false";
}

QByteArray quoted(const QByteArray &text)
{
    // Every text here is digits, letters, '.', ':', '+' or '-': none needs
    // escaping in JSON.
    return '"' + text + '"';
}

// A reading's number at the frame's full resolution, padded with zeros to the
// display's five characters, so that a line reads as the panel does
// ("01.23"). One that is no number keeps its display text, which no reader
// takes for one.
QByteArray reading(const korvale::StatusReadings &readings, int i)
{
    const double value = readings.numbers[std::size_t(i - 1)];
    if (std::isnan(value)) {
        const std::string_view text = readings.text(i);
        return QByteArray(text.data(), qsizetype(text.size()));
    }
    return QByteArray::number(value, 'f', korvale::kReadingDecimals[std::size_t(i - 1)])
        .rightJustified(5, '0');
}

} // namespace

QString isoLocalTime(const QDateTime &time)
{
    const QDateTime local = time.toLocalTime();
    return local.toOffsetFromUtc(local.offsetFromUtc()).toString(Qt::ISODateWithMs);
}

bool RecordWriter::header()
{
    if (m_format != RecordFormat::Csv)
        return true;
    QByteArrayList names;
    for (const char *name : kLogFields)
        names << name;
    return write(names.join(','));
}

bool RecordWriter::frame(const QDateTime &time, const korvale::StatusReadings &readings)
{
    const korvale::IndicatorStates &shown = readings.indicators;
    const bool json = m_format == RecordFormat::JsonLines;
    auto text = [json](const QByteArray &value) { return json ? quoted(value) : value; };

    QByteArrayList values{text(isoLocalTime(time).toLatin1())};
    for (int i = 1; i <= korvale::kReadingCount; ++i)
        values << text(reading(readings, i));
    values << flag(shown.remote, m_format) << text(shown.outputOn ? "on" : "off")
           << flag(shown.overtemperature, m_format)
           << text(QByteArray(shown.blinking.data(), qsizetype(shown.blinking.size())))
           << flag(shown.fine, m_format);
    if (!json)
        return write(values.join(','));

    QByteArray line = "{";
    for (std::size_t i = 0; i < kLogFields.size(); ++i) {
        if (i > 0)
            line += ',';
        line += quoted(kLogFields[i]) + ':' + values[qsizetype(i)];
    }
    return write(line + '}');
}

bool RecordWriter::event(const QDateTime &time, LogEvent event, const QString &reason)
{
    if (m_format != RecordFormat::JsonLines)
        return true;
    QByteArray line = '{' + quoted(logFieldName(LogField::Time)) + ':' +
                      quoted(isoLocalTime(time).toLatin1()) + ',' + quoted(kLogEventKey) + ':' +
                      quoted(logEventName(event));
    // A reason may come from the system and hold any character.
    if (!reason.isEmpty())
        line += ",\"reason\":" +
                QJsonDocument(QJsonArray{reason}).toJson(QJsonDocument::Compact).chopped(1).mid(1);
    return write(line + '}');
}

bool RecordWriter::write(const QByteArray &line)
{
    const QByteArray withEnd = line + '\n';
    return std::fwrite(withEnd.constData(), 1, std::size_t(withEnd.size()), m_out) ==
               std::size_t(withEnd.size()) &&
           std::fflush(m_out) == 0;
}
