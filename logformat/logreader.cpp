// SPDX-License-Identifier: MIT
#include "logformat/logreader.h"

#include <QDateTime>
#include <QIODevice>
#include <QJsonDocument>
#include <QJsonObject>

#include <charconv>
#include <cmath>
#include <cstring>

namespace {

constexpr qsizetype kBlockSize = 1 << 16;
// The fields plot reads, in the order of LogParser's columns.
constexpr std::array<LogField, 8> kNeeded = {LogField::Time,   LogField::V,      LogField::A,
                                             LogField::W,      LogField::LimitV, LogField::LimitA,
                                             LogField::LimitW, LogField::Output};

// Days since 1970-01-01 of a proleptic Gregorian date (H. Hinnant's formula).
qint64 daysFromCivil(int y, int m, int d)
{
    y -= m <= 2;
    const int era = (y >= 0 ? y : y - 399) / 400;
    const int yoe = y - era * 400;
    const int doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const int doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return qint64(era) * 146097 + doe - 719468;
}

bool digits(QByteArrayView text, qsizetype at, qsizetype count, int &value)
{
    if (at + count > text.size())
        return false;
    value = 0;
    for (qsizetype i = at; i < at + count; ++i) {
        const char c = text[i];
        if (c < '0' || c > '9')
            return false;
        value = value * 10 + (c - '0');
    }
    return true;
}

// Only the form watch writes; anything else goes the slow, general way.
bool parseWatchTime(QByteArrayView t, LogRecord &record)
{
    int year, month, day, hour, minute, second;
    if (t.size() < 20 || !digits(t, 0, 4, year) || t[4] != '-' || !digits(t, 5, 2, month) ||
        t[7] != '-' || !digits(t, 8, 2, day) || t[10] != 'T' || !digits(t, 11, 2, hour) ||
        t[13] != ':' || !digits(t, 14, 2, minute) || t[16] != ':' || !digits(t, 17, 2, second))
        return false;
    qsizetype at = 19;
    int ms = 0;
    if (t[at] == '.') {
        if (!digits(t, at + 1, 3, ms))
            return false;
        at += 4;
    }
    int offset = 0;
    if (at + 1 == t.size() && t[at] == 'Z') {
        offset = 0;
    } else {
        int oh, om;
        if (at + 6 != t.size() || (t[at] != '+' && t[at] != '-') || !digits(t, at + 1, 2, oh) ||
            t[at + 3] != ':' || !digits(t, at + 4, 2, om) || oh > 14 || om > 59)
            return false;
        offset = (t[at] == '-' ? -1 : 1) * (oh * 3600 + om * 60);
    }
    static constexpr int kMonthDays[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (month < 1 || month > 12 || day < 1 || day > kMonthDays[month - 1] || hour > 23 ||
        minute > 59 || second > 59)
        return false;
    // A 29 February of a common year rolls over, so check it the long way.
    if (month == 2 && day == 29 && daysFromCivil(year, 3, 1) - daysFromCivil(year, 2, 1) != 29)
        return false;
    const qint64 local = ((daysFromCivil(year, month, day) * 24 + hour) * 60 + minute) * 60000LL +
                         second * 1000 + ms;
    record.timeMs = local - offset * 1000LL;
    record.offsetSeconds = offset;
    return true;
}

bool parseReading(QByteArrayView text, float &value)
{
    double v = 0;
    const auto [end, ec] =
        std::from_chars(text.data(), text.data() + text.size(), v, std::chars_format::fixed);
    if (text.isEmpty() || ec != std::errc() || end != text.data() + text.size() ||
        !std::isfinite(v))
        return false;
    value = float(v);
    return true;
}

QByteArrayView trimmed(QByteArrayView text)
{
    while (!text.isEmpty() && (text.back() == '\r' || text.back() == ' ' || text.back() == '\t'))
        text.chop(1);
    while (!text.isEmpty() && (text.front() == ' ' || text.front() == '\t'))
        text = text.sliced(1);
    return text;
}

} // namespace

bool LineReader::next(QByteArrayView &line)
{
    for (;;) {
        const qsizetype end = m_buffer.indexOf('\n', m_start);
        if (m_skipping) {
            // The rest of a line too long to be one of watch's.
            m_start = end >= 0 ? end + 1 : m_buffer.size();
            m_skipping = end < 0;
            if (!m_skipping)
                continue;
        } else if (end >= 0) {
            line = QByteArrayView(m_buffer).sliced(m_start, end - m_start);
            m_start = end + 1;
            ++m_lineNumber;
            return true;
        } else if (m_buffer.size() - m_start >= kBlockSize) {
            // Its start is enough to refuse it; holding the rest would let
            // a file without line ends fill the memory.
            line = QByteArrayView(m_buffer).sliced(m_start);
            m_start = m_buffer.size();
            m_skipping = true;
            ++m_lineNumber;
            return true;
        }
        if (m_atEnd) {
            if (m_start >= m_buffer.size())
                return false;
            // A last line without its end, as a log cut short leaves it.
            line = QByteArrayView(m_buffer).sliced(m_start);
            m_start = m_buffer.size();
            ++m_lineNumber;
            return true;
        }
        m_buffer.remove(0, m_start);
        m_start = 0;
        const qsizetype kept = m_buffer.size();
        m_buffer.resize(kept + kBlockSize);
        const qint64 got = m_device.read(m_buffer.data() + kept, kBlockSize);
        m_buffer.resize(kept + qMax<qint64>(got, 0));
        m_atEnd = got <= 0;
    }
}

LogParser::LogParser() : m_columnCount(int(kLogFields.size()))
{
    for (std::size_t i = 0; i < kNeeded.size(); ++i)
        m_columns[i] = int(kNeeded[i]);
}

LogParser::Result LogParser::refuse(const QString &why)
{
    m_why = why;
    return Result::Refused;
}

LogParser::Result LogParser::parse(QByteArrayView line, LogRecord &record)
{
    line = trimmed(line);
    if (line.isEmpty())
        return Result::Skipped;
    const bool json = line.front() == '{';
    if (m_format == RecordFormat::Csv && json)
        return refuse(QStringLiteral("a JSON line in a CSV log"));
    if (m_format == RecordFormat::JsonLines && !json)
        return refuse(QStringLiteral("not a JSON line, in a JSON lines log"));
    const Result result = json ? parseJson(line, record) : parseCsv(line, record);
    if (result == Result::Record)
        m_format = json ? RecordFormat::JsonLines : RecordFormat::Csv;
    return result;
}

bool LogParser::readHeader(QByteArrayView line)
{
    const QList<QByteArray> names = line.toByteArray().split(',');
    for (std::size_t i = 0; i < kNeeded.size(); ++i) {
        m_columns[i] = int(names.indexOf(logFieldName(kNeeded[i])));
        if (m_columns[i] < 0)
            return false;
    }
    m_columnCount = int(names.size());
    return true;
}

LogParser::Result LogParser::parseCsv(QByteArrayView line, LogRecord &record)
{
    static const QByteArray kHeaderStart = QByteArray(logFieldName(LogField::Time)) + ',';
    if (line.startsWith(kHeaderStart)) {
        if (!readHeader(line))
            return refuse(QStringLiteral("a CSV header without the columns of watch"));
        m_format = RecordFormat::Csv;
        return Result::Skipped;
    }
    std::array<QByteArrayView, 32> fields;
    int count = 0;
    for (qsizetype start = 0;; ++count) {
        const qsizetype comma = line.indexOf(',', start);
        if (count >= int(fields.size()))
            return refuse(QStringLiteral("too many fields"));
        fields[count] = line.sliced(start, (comma < 0 ? line.size() : comma) - start);
        if (comma < 0)
            break;
        start = comma + 1;
    }
    if (++count != m_columnCount)
        return refuse(QStringLiteral("%1 fields, not %2").arg(count).arg(m_columnCount));
    if (!parseLogTime(fields[m_columns[0]], record))
        return refuse(QStringLiteral("no time"));
    for (int i = 0; i < 6; ++i) {
        if (!parseReading(fields[m_columns[i + 1]], record.values[i]))
            return refuse(QStringLiteral("%1 is not a number")
                              .arg(QLatin1String(logFieldName(kNeeded[i + 1]))));
    }
    const QByteArrayView output = fields[m_columns[7]];
    if (output != "on" && output != "off")
        return refuse(QStringLiteral("output is neither on nor off"));
    record.outputOn = output == "on";
    record.event.reset();
    return Result::Record;
}

LogParser::Result LogParser::parseJson(QByteArrayView line, LogRecord &record)
{
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(line.toByteArray(), &error);
    if (!document.isObject())
        return refuse(QStringLiteral("not a JSON object"));
    const QJsonObject object = document.object();
    const auto value = [&object](LogField field) {
        return object.value(QLatin1String(logFieldName(field)));
    };
    if (!parseLogTime(value(LogField::Time).toString().toLatin1(), record))
        return refuse(QStringLiteral("no time"));
    if (const QJsonValue event = object.value(QLatin1String(kLogEventKey)); !event.isUndefined()) {
        record.event = logEventNamed(event.toString());
        if (!record.event)
            return refuse(QStringLiteral("unknown event"));
        return Result::Record;
    }
    for (int i = 0; i < 6; ++i) {
        const QByteArray text = value(kNeeded[i + 1]).toString().toLatin1();
        if (!parseReading(text, record.values[i]))
            return refuse(QStringLiteral("%1 is not a number")
                              .arg(QLatin1String(logFieldName(kNeeded[i + 1]))));
    }
    const QString output = value(LogField::Output).toString();
    if (output != QLatin1String("on") && output != QLatin1String("off"))
        return refuse(QStringLiteral("output is neither on nor off"));
    record.outputOn = output == QLatin1String("on");
    record.event.reset();
    return Result::Record;
}

bool parseLogTime(QByteArrayView text, LogRecord &record)
{
    if (parseWatchTime(text, record))
        return true;
    const QDateTime time =
        QDateTime::fromString(QString::fromLatin1(text.data(), text.size()), Qt::ISODateWithMs);
    if (!time.isValid())
        return false;
    record.timeMs = time.toMSecsSinceEpoch();
    record.offsetSeconds = time.offsetFromUtc();
    return true;
}
