// SPDX-License-Identifier: MIT
#pragma once

#include <QStringView>

#include <array>
#include <cstddef>
#include <optional>
#include <utility>

enum class RecordFormat
{
    Csv,
    JsonLines,
};

// The fields of a frame's record, in the order watch writes them: the CSV
// header's columns and the JSON record's keys. Logs already written carry
// these names, so they never change.
enum class LogField
{
    Time,
    V,
    A,
    W,
    LimitV,
    LimitA,
    LimitW,
    Remote,
    Output,
    Overtemp,
    Blinking,
    Fine,
};
inline constexpr std::array<const char *, 12> kLogFields = {
    "time",    "V",      "A",      "W",        "limit_V",  "limit_A",
    "limit_W", "remote", "output", "overtemp", "blinking", "fine"};
static_assert(kLogFields.size() == std::size_t(LogField::Fine) + 1, "a name for every field");
constexpr const char *logFieldName(LogField field)
{
    return kLogFields[std::size_t(field)];
}

// What a JSON lines log records between frames, under this key; a CSV log
// has no events.
inline constexpr const char *kLogEventKey = "event";
enum class LogEvent
{
    LinkLost,
    LinkBack,
    DeviceLost,
    DeviceBack,
};
inline constexpr std::array<std::pair<LogEvent, const char *>, 4> kLogEvents = {{
    {LogEvent::LinkLost, "link-lost"},
    {LogEvent::LinkBack, "link-back"},
    {LogEvent::DeviceLost, "device-lost"},
    {LogEvent::DeviceBack, "device-back"},
}};
const char *logEventName(LogEvent event);
std::optional<LogEvent> logEventNamed(QStringView name);
