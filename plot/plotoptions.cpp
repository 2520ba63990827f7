// SPDX-License-Identifier: MIT
#include "plot/plotoptions.h"

#include "logformat/logreader.h"

#include <QDateTime>

namespace {

constexpr qint64 kDayMs = 86400000;

} // namespace

qint64 TimeBound::resolve(const LogRecord &first) const
{
    if (!timeOfDay)
        return ms;
    const qint64 offsetMs = first.offsetSeconds * 1000LL;
    const qint64 local = first.timeMs + offsetMs;
    const qint64 midnight = local - ((local % kDayMs) + kDayMs) % kDayMs;
    const qint64 at = midnight + ms - offsetMs;
    return at < first.timeMs ? at + kDayMs : at;
}

std::optional<TimeBound> parseTimeBound(const QString &text)
{
    const QTime time = QTime::fromString(text, Qt::ISODateWithMs);
    if (time.isValid() && !text.contains(u'T'))
        return TimeBound{time.msecsSinceStartOfDay(), true};
    QString iso = text;
    if (iso.size() > 10 && iso[10] == u' ')
        iso[10] = u'T';
    const QDateTime dateTime = QDateTime::fromString(iso, Qt::ISODateWithMs);
    if (!dateTime.isValid())
        return std::nullopt;
    return TimeBound{dateTime.toMSecsSinceEpoch(), false};
}
