// SPDX-License-Identifier: MIT
#include "plot/plotreduce.h"

#include "protocol/linkwatchdog.h"

#include <algorithm>

namespace {

// Frames further apart than the watchdog allows mean the link was lost,
// whether or not the log says so.
constexpr qint64 kGapMs =
    qint64(korvale::LinkWatchdog::kSilentTicksAllowed) * korvale::LinkWatchdog::kTickMs;

} // namespace

void PlotColumn::merge(const PlotColumn &later)
{
    if (hasData && later.hasData) {
        breakInside = breakInside || later.breakInside || later.breakBefore;
        for (std::size_t i = 0; i < series.size(); ++i) {
            series[i].min = std::min(series[i].min, later.series[i].min);
            series[i].max = std::max(series[i].max, later.series[i].max);
            series[i].last = later.series[i].last;
        }
    } else if (later.hasData) {
        breakBefore = later.breakBefore;
        breakInside = later.breakInside;
        series = later.series;
    }
    hasData = hasData || later.hasData;
    outputOff = outputOff || later.outputOff;
    gaps |= later.gaps;
}

PlotReduction::PlotReduction(int width) : m_width(width), m_slices(2 * std::size_t(width)) {}

void PlotReduction::reach(qint64 ms)
{
    while (slice(ms) >= qsizetype(m_slices.size())) {
        const std::size_t half = m_slices.size() / 2;
        for (std::size_t i = 0; i < half; ++i) {
            PlotColumn pair = m_slices[2 * i];
            pair.merge(m_slices[2 * i + 1]);
            m_slices[i] = pair;
        }
        std::fill(m_slices.begin() + qsizetype(half), m_slices.end(), PlotColumn());
        m_sliceMs *= 2;
    }
}

template <class Mark> void PlotReduction::mark(qint64 from, qint64 to, Mark mark)
{
    for (qsizetype i = slice(from); i <= slice(to); ++i)
        mark(m_slices[std::size_t(i)]);
}

bool PlotReduction::add(const LogRecord &record)
{
    if (m_records > 0 && record.timeMs < m_lastMs)
        return false;
    if (m_records++ == 0) {
        m_firstMs = record.timeMs;
        m_offsetSeconds = record.offsetSeconds;
    }
    reach(record.timeMs);
    m_lastMs = record.timeMs;
    if (!record.event) {
        takeFrame(record);
        return true;
    }
    switch (*record.event) {
    case LogEvent::LinkLost:
    case LogEvent::DeviceLost:
        m_gap.kinds |=
            record.event == LogEvent::LinkLost ? PlotColumn::LinkLost : PlotColumn::DeviceLost;
        if (!m_gap.open)
            m_gap.startMs = m_frames > 0 ? m_lastFrameMs : record.timeMs;
        m_gap.open = true;
        break;
    case LogEvent::LinkBack:
    case LogEvent::DeviceBack:
        break; // the next frame closes the gap
    }
    return true;
}

void PlotReduction::takeFrame(const LogRecord &record)
{
    const qint64 t = record.timeMs;
    bool broken = false;
    if (m_gap.open || (m_frames > 0 && t - m_lastFrameMs > kGapMs)) {
        const quint8 kinds = m_gap.open ? m_gap.kinds : quint8(PlotColumn::NoFrames);
        mark(m_gap.open ? m_gap.startMs : m_lastFrameMs, t,
             [kinds](PlotColumn &c) { c.gaps |= kinds; });
        broken = m_frames > 0;
        m_gap.open = false;
        m_gap.kinds = 0;
    } else if (m_frames > 0 && m_lastFrameOff) {
        // Off until this frame said otherwise.
        mark(m_lastFrameMs, t, [](PlotColumn &c) { c.outputOff = true; });
    }
    PlotColumn &c = m_slices[std::size_t(slice(t))];
    if (!c.hasData) {
        c.hasData = true;
        c.breakBefore = broken;
        for (std::size_t i = 0; i < c.series.size(); ++i)
            c.series[i] = {record.values[i], record.values[i], record.values[i], record.values[i]};
    } else {
        c.breakInside = c.breakInside || broken;
        for (std::size_t i = 0; i < c.series.size(); ++i) {
            auto &e = c.series[i];
            e.min = std::min(e.min, record.values[i]);
            e.max = std::max(e.max, record.values[i]);
            e.last = record.values[i];
        }
    }
    c.outputOff = c.outputOff || !record.outputOn;
    m_lastFrameOff = !record.outputOn;
    m_lastFrameMs = t;
    ++m_frames;
}

void PlotReduction::finish()
{
    if (!m_gap.open)
        return;
    const quint8 kinds = m_gap.kinds;
    mark(m_gap.startMs, m_lastMs, [kinds](PlotColumn &c) { c.gaps |= kinds; });
    m_gap.open = false;
}

std::vector<PlotColumn> PlotReduction::columns() const
{
    std::vector<PlotColumn> columns(static_cast<std::size_t>(m_width));
    if (m_records == 0)
        return columns;
    const qint64 span = std::max<qint64>(m_lastMs - m_firstMs, 1);
    const qsizetype used = slice(m_lastMs) + 1;
    for (qsizetype i = 0; i < used; ++i) {
        const qint64 middle = i * m_sliceMs + m_sliceMs / 2;
        const qint64 column = std::min<qint64>(middle * m_width / span, m_width - 1);
        columns[std::size_t(column)].merge(m_slices[std::size_t(i)]);
    }
    return columns;
}
