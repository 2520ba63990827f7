// SPDX-License-Identifier: MIT
#include "scpiserve/supplyinstrument.h"

#include "protocol/keypad.h"

#include <algorithm>
#include <cmath>
#include <vector>

using korvale::CommandFrame;
using korvale::scpi::Job;

namespace {

// A status frame takes 250 ms on the 1200-baud line and a command frame
// 33 ms: a frame that ends sooner than this after a command left may have
// been gathered before the supply saw it. The rest is room for links that
// hand bytes on late.
constexpr qint64 kFrameBytesMs = 250;
constexpr qint64 kLinkSlackMs = 100;
constexpr qint64 kFreshAfterMs = SupplyLink::kSendSpacingMs + kFrameBytesMs + kLinkSlackMs;
// How long to wait for a frame that shows a job's work, in frame periods
// after the first that could.
constexpr double kPatience = 3;
constexpr int kOutputKey = 10; // I/O

qint64 nowMs()
{
    return QDateTime::currentMSecsSinceEpoch();
}

} // namespace

SupplyInstrument::SupplyInstrument(SupplyLink &link, QObject *parent)
    : QObject(parent), m_link(link)
{
    m_deadline.setSingleShot(true);
    connect(&m_deadline, &QTimer::timeout, this, [this] {
        if (!m_outbox.empty() || m_lastFrameAt > 0)
            finish(-240, "the line took no frames in time");
        else
            finish(-240, "no frame came from the supply in time");
    });
    connect(&m_link, &SupplyLink::frame, this, &SupplyInstrument::onFrame);
    connect(&m_link, &SupplyLink::frameSent, this, &SupplyInstrument::onFrameSent);
    connect(&m_link, &SupplyLink::linkLost, this, [this] {
        if (m_current)
            finish(-240, "the supply fell silent");
    });
    connect(&m_link, &SupplyLink::deviceLost, this, [this](const QString &, const QString &why) {
        if (m_current)
            finish(-240, why.toStdString());
    });
}

SupplyInstrument::~SupplyInstrument() = default;

const korvale::StatusReadings *SupplyInstrument::latest() const
{
    const SupplyState &state = m_link.state();
    if (!state.devicePresent || !state.linkAlive || !state.readings)
        return nullptr;
    return &*state.readings;
}

int SupplyInstrument::framePeriodMs() const
{
    if (m_intervalCount == 0)
        return kDefaultFramePeriodMs;
    const auto n = std::min(std::ptrdiff_t(m_intervalCount), std::ptrdiff_t(m_intervals.size()));
    std::vector<qint64> seen(m_intervals.begin(), m_intervals.begin() + n);
    std::nth_element(seen.begin(), seen.begin() + n / 2, seen.end());
    return int(seen[std::size_t(n / 2)]);
}

SupplyInstrument::JobId SupplyInstrument::start(const Job &job, Done done)
{
    m_queue.push_back({++m_lastId, job, std::move(done)});
    startNext();
    return m_lastId;
}

void SupplyInstrument::cancel(JobId job)
{
    std::erase_if(m_queue, [job](const Pending &p) { return p.id == job; });
    if (m_current && m_current->id == job) {
        m_current->done = nullptr;
        finish(0);
    }
}

void SupplyInstrument::startNext()
{
    // Never from inside start() or a `done`: the caller's state may be half
    // made.
    if (m_nextScheduled || m_current || m_queue.empty())
        return;
    m_nextScheduled = true;
    QMetaObject::invokeMethod(
        this,
        [this] {
            m_nextScheduled = false;
            if (!m_current && !m_queue.empty())
                begin();
        },
        Qt::QueuedConnection);
}

void SupplyInstrument::begin()
{
    m_current = std::move(m_queue.front());
    m_queue.pop_front();
    m_looks = 0;
    m_awaiting = false;
    const Job &job = m_current->job;
    const korvale::StatusReadings *readings = latest();
    if (!readings)
        return finish(-240, "the supply is silent");
    switch (job.kind) {
    case Job::Kind::Key: {
        const korvale::KeyPress press = korvale::pressControl(job.command);
        if (!press.frame)
            return finish(-200, press.why);
        return sendMove({*press.frame});
    }
    case Job::Kind::Output:
        if (readings->indicators.outputOn == job.on)
            return finish(0);
        return sendMove({*korvale::pressControl(kOutputKey).frame});
    case Job::Kind::Set: {
        const auto setting = korvale::knob::Setting(int(job.setting));
        static constexpr std::array<double, 3> kUnitsPerOne = {100, 1000, 10};
        const double units = std::round(job.value * kUnitsPerOne[std::size_t(setting)]);
        if (!(units >= 0 && units <= korvale::knob::kTop[std::size_t(setting)]))
            return finish(-222);
        m_planner.emplace(m_memory, setting, int(units));
        return judge(*readings);
    }
    }
}

void SupplyInstrument::finish(int code, const std::string &detail)
{
    m_deadline.stop();
    m_outbox.clear();
    m_awaiting = false;
    m_planner.reset();
    if (!m_current)
        return;
    Done done = std::move(m_current->done);
    m_current.reset();
    startNext();
    if (done)
        done({code, detail});
}

void SupplyInstrument::sendMove(std::vector<CommandFrame> frames)
{
    m_outbox.assign(frames.begin(), frames.end());
    m_awaiting = false;
    // The line takes a frame every 33 ms, and may be busy with the pages'.
    m_deadline.start(int((m_outbox.size() + SupplyLink::kSendQueue) * SupplyLink::kSendSpacingMs +
                         kFreshAfterMs + kPatience * framePeriodMs()));
    pushFrames();
}

void SupplyInstrument::pushFrames()
{
    if (m_pushing)
        return;
    m_pushing = true;
    while (!m_outbox.empty()) {
        const CommandFrame frame = m_outbox.front();
        m_outbox.pop_front();
        const int before = m_lastFrameAt;
        m_lastFrameAt = m_link.sendsWaiting() + 1;
        // send() may hand it on at once, and tell so before it returns.
        QString why;
        if (!m_link.send(frame, &why)) {
            m_lastFrameAt = before;
            m_outbox.push_front(frame);
            // A full queue frees a place with every frame sent; a line that
            // is not open frees none.
            if (!m_link.state().devicePresent)
                finish(-240, why.toStdString());
            break;
        }
    }
    m_pushing = false;
    if (m_outbox.empty() && m_lastFrameAt == 0 && m_current && !m_awaiting)
        lastFrameLeft();
}

void SupplyInstrument::lastFrameLeft()
{
    m_lastLeftMs = nowMs();
    awaitFrames(kPatience);
}

void SupplyInstrument::onFrameSent()
{
    if (m_lastFrameAt > 0 && --m_lastFrameAt == 0 && m_outbox.empty() && m_current && !m_pushing)
        lastFrameLeft();
    if (!m_outbox.empty())
        pushFrames();
}

void SupplyInstrument::awaitFrames(double periods)
{
    m_awaiting = true;
    const qint64 waited = nowMs() - m_lastLeftMs;
    m_deadline.start(
        int(std::max<qint64>(0, kFreshAfterMs - waited) + std::lround(periods * framePeriodMs())));
}

void SupplyInstrument::onFrame(const QDateTime &time, const korvale::StatusReadings &readings)
{
    const qint64 ms = time.toMSecsSinceEpoch();
    if (m_lastFrameMs != 0 && ms > m_lastFrameMs)
        m_intervals[std::size_t(m_intervalCount++ % int(m_intervals.size()))] = ms - m_lastFrameMs;
    m_lastFrameMs = ms;
    if (m_current && m_awaiting && ms >= m_lastLeftMs + kFreshAfterMs)
        judge(readings);
}

void SupplyInstrument::judge(const korvale::StatusReadings &readings)
{
    const Job &job = m_current->job;
    switch (job.kind) {
    case Job::Kind::Key:
        return finish(0);
    case Job::Kind::Output:
        if (readings.indicators.outputOn == job.on)
            return finish(0);
        // The frame may have been gathered as the key arrived: one more
        // decides.
        if (++m_looks < 2)
            return awaitFrames(1.5);
        return finish(-200, job.on ? "the output stayed off" : "the output stayed on");
    case Job::Kind::Set:
        break;
    }
    const auto shown = korvale::knob::shownBy(readings);
    if (!shown)
        return awaitFrames(1.5);
    korvale::knob::Move move = m_planner->next(*shown);
    if (move.ended) {
        // Frames that come with an ending need no confirmation.
        for (const CommandFrame &frame : move.frames)
            m_link.send(frame);
        return finish(move.error, move.detail);
    }
    if (move.frames.empty())
        return awaitFrames(1.5);
    sendMove(std::move(move.frames));
}
