// SPDX-License-Identifier: MIT
#pragma once

#include "knob/planner.h"
#include "link/supplylink.h"
#include "scpi/instrument.h"

#include <QDateTime>
#include <QObject>
#include <QTimer>

#include <array>
#include <deque>
#include <optional>

// The supply on a line as the SCPI language sees it: the last frame while
// the line is alive, and jobs from every connection done one after the
// other, each confirmed by the frames the supply sends afterwards. Frames go
// through the link's one budget, beside the pages'.
class SupplyInstrument : public QObject, public korvale::scpi::Instrument
{
    Q_OBJECT
public:
    // Before two frames have come, their period is taken to be this.
    static constexpr int kDefaultFramePeriodMs = 500;

    explicit SupplyInstrument(SupplyLink &link, QObject *parent = nullptr);
    ~SupplyInstrument() override;

    const korvale::StatusReadings *latest() const override;
    JobId start(const korvale::scpi::Job &job, Done done) override;
    void cancel(JobId job) override;

    // The time from one frame to the next, as measured.
    int framePeriodMs() const;
    // What the knob's notches were found to move.
    const korvale::knob::KnobMemory &knobMemory() const { return m_memory; }

private:
    struct Pending
    {
        JobId id = 0;
        korvale::scpi::Job job;
        Done done;
    };
    void startNext();
    void begin();
    void finish(int code, const std::string &detail = {});
    void sendMove(std::vector<korvale::CommandFrame> frames);
    void pushFrames();
    void onFrameSent();
    void lastFrameLeft();
    void onFrame(const QDateTime &time, const korvale::StatusReadings &readings);
    void judge(const korvale::StatusReadings &readings);
    // Waits for a frame that began after the last frame left, for so many
    // frame periods at most.
    void awaitFrames(double periods);

    SupplyLink &m_link;
    korvale::knob::KnobMemory m_memory;
    std::deque<Pending> m_queue;
    std::optional<Pending> m_current;
    std::optional<korvale::knob::Planner> m_planner;
    JobId m_lastId = 0;
    bool m_nextScheduled = false;

    std::deque<korvale::CommandFrame> m_outbox;
    // Frames in the link's queue up to and including this job's last one.
    int m_lastFrameAt = 0;
    // When the job's last frame left; frames that began before it may not
    // show it.
    qint64 m_lastLeftMs = 0;
    bool m_awaiting = false;
    bool m_pushing = false;
    int m_looks = 0;
    QTimer m_deadline;

    qint64 m_lastFrameMs = 0;
    std::array<qint64, 5> m_intervals{};
    int m_intervalCount = 0;
};
