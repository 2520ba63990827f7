// SPDX-License-Identifier: MIT
#pragma once

#include "logformat/logreader.h"

#include <array>
#include <vector>

// What was known about one slice of time: the extremes of each curve, and
// where the slice starts and ends them, so that a line can join its
// neighbours.
struct PlotColumn
{
    enum Gap : quint8
    {
        NoFrames = 1, // only the timestamps tell
        LinkLost = 2,
        DeviceLost = 4,
    };
    struct Extremes
    {
        float min = 0, max = 0, first = 0, last = 0;
    };
    bool hasData = false;
    bool breakBefore = false; // its first frame follows a gap
    bool breakInside = false; // a gap lies between two of its frames
    bool outputOff = false;
    quint8 gaps = 0;
    std::array<Extremes, 6> series{};

    // Takes in `later`, the slice just after this one.
    void merge(const PlotColumn &later);
};

// Reduces a log, streamed once in time order, to a fixed number of slices of
// equal length, so memory and drawing cost stay the same however long the
// log. The length of the log is not known ahead (standard input cannot be
// read twice), so the slices start at a millisecond and merge pairwise
// whenever a record falls past the last one: after the last doubling at
// least half of the 2 x width slices are in use, at most one per pixel
// column.
class PlotReduction
{
public:
    explicit PlotReduction(int width);

    // False, and nothing taken, for a record earlier than the one before.
    bool add(const LogRecord &record);
    // Closes a gap still open at the end of the log.
    void finish();

    // `width` columns from the first record's time to the last one's.
    std::vector<PlotColumn> columns() const;
    qint64 frames() const { return m_frames; }
    qint64 firstMs() const { return m_firstMs; }
    qint64 lastMs() const { return m_lastMs; }
    int offsetSeconds() const { return m_offsetSeconds; }

private:
    qsizetype slice(qint64 ms) const { return qsizetype((ms - m_firstMs) / m_sliceMs); }
    void reach(qint64 ms);
    template <class Mark> void mark(qint64 from, qint64 to, Mark mark);
    void takeFrame(const LogRecord &record);

    int m_width;
    std::vector<PlotColumn> m_slices;
    qint64 m_sliceMs = 1;
    qint64 m_records = 0, m_frames = 0;
    qint64 m_firstMs = 0, m_lastMs = 0;
    int m_offsetSeconds = 0;
    // The last frame, and a gap that a lost link or device opened after it.
    qint64 m_lastFrameMs = 0;
    bool m_lastFrameOff = false;
    struct
    {
        bool open = false;
        qint64 startMs = 0;
        quint8 kinds = 0;
    } m_gap;
};
