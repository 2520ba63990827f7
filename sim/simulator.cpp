// SPDX-License-Identifier: MIT
#include "sim/simulator.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <poll.h>

#include "protocol/statusframe.h"

namespace korvale::sim {

namespace {

using std::chrono::microseconds;
using std::chrono::milliseconds;

// 1200 baud, ten bits a byte with start and stop bit.
constexpr microseconds kByteTime{8333};

} // namespace

Simulator::Simulator(const Options &options, Now now)
    : m_options(options), m_now(std::move(now)), m_model(options.loadOhms, options.knobSteps),
      m_faults(options.faults), m_gate(options.lumps, options.faults.seed, kByteTime)
{
    m_model.setOvertemp(options.overtemp);
    if (!options.linkPath.empty())
        m_link.emplace(options.linkPath);
}

Simulator::~Simulator()
{
    if (m_commandLog)
        std::fclose(m_commandLog);
}

bool Simulator::openCommandLog()
{
    if (m_options.commandLog.empty())
        return true;
    m_commandLog = std::fopen(m_options.commandLog.c_str(), "ae");
    if (!m_commandLog)
        std::fprintf(stderr, "korvale-sim: cannot open %s: %s\n", m_options.commandLog.c_str(),
                     std::strerror(errno));
    return m_commandLog != nullptr;
}

void Simulator::logCommand(const ReceivedCommand &command)
{
    ++m_counts.commandsReceived;
    if (!m_commandLog)
        return;
    // Written out at once: a reader counts lines while the simulator runs.
    std::fprintf(m_commandLog, "eb 90 %02x %02x\n", unsigned(command.kind), unsigned(command.data));
    std::fflush(m_commandLog);
}

bool Simulator::openLine()
{
    std::string error;
    if (!m_pty.open(&error)) {
        std::fprintf(stderr, "korvale-sim: cannot open a pseudo-terminal: %s\n", error.c_str());
        return false;
    }
    // Link first: the printed line tells a waiting client that both are ready.
    if (m_link && !m_link->pointTo(m_pty.serialPath(), &error)) {
        std::fprintf(stderr, "korvale-sim: cannot make the link: %s\n", error.c_str());
        return false;
    }
    std::printf("%s\n", m_pty.serialPath().c_str());
    std::fflush(stdout);
    return true;
}

void Simulator::hangUp(TimePoint now)
{
    std::fprintf(stderr, "korvale-sim: hanging up %s for %d ms\n", m_pty.serialPath().c_str(),
                 m_options.hangupForMs);
    m_pty.close();
    m_reader.reset();
    m_pending.clear();
    m_gate.clear();
    m_masterQuietUntil.reset();
    m_nextReceiveAt.reset();
    m_reopenAt = now + milliseconds(m_options.hangupForMs);
}

void Simulator::sendDueFrame(TimePoint now)
{
    if (now < m_nextFrameAt)
        return;
    // After a stall, go on from now rather than catching up with a burst.
    m_nextFrameAt += milliseconds(m_options.periodMs);
    if (m_nextFrameAt <= now)
        m_nextFrameAt = now + milliseconds(m_options.periodMs);

    if (m_silentUntil && now < *m_silentUntil)
        return;
    m_silentUntil.reset();
    // A period shorter than a paced frame: the line is still busy, skip one.
    if (!m_pty.isOpen() || m_sent < m_pending.size())
        return;

    StatusValues values = m_model.statusValues();
    ++m_frameNumber;
    if (m_options.numbered)
        values.reading1 = std::uint16_t(m_frameNumber % 10000);
    Block block = m_faults.next(encodeStatusFrame(values));
    if (block.kind == BlockKind::Silence) {
        m_silentUntil = now + milliseconds(m_options.faults.silenceMs);
        return;
    }
    // Bytes from earlier frames still unread mean nobody is listening, or a
    // reader too slow for this period: they are stale, and keeping them would
    // hand the next client a heap of old frames.
    if (const std::size_t unread = m_pty.unreadAtSerialEnd(); unread >= kStatusFrameSize) {
        m_pty.discardUnread();
        m_counts.bytesDiscarded += static_cast<long long>(unread);
    }
    m_pending = std::move(block.bytes);
    m_sent = 0;
    m_nextByteAt = now;
}

void Simulator::transmit(TimePoint now)
{
    if (!m_pty.isOpen())
        return;
    while (m_sent < m_pending.size() && (!m_options.pace || now >= m_nextByteAt)) {
        const std::size_t count = m_options.pace ? 1 : m_pending.size() - m_sent;
        const long taken = send(std::span(m_pending).subspan(m_sent, count), now);
        if (taken <= 0) {
            // The line is full (or broken): drop the rest of this block.
            m_sent = m_pending.size();
            break;
        }
        m_sent += std::size_t(taken);
        if (m_sent == m_pending.size())
            ++m_counts.blocksSent;
        if (!m_options.pace) {
            m_sent = m_pending.size(); // whatever did not fit is dropped
            break;
        }
        m_nextByteAt += kByteTime;
    }
}

long Simulator::send(std::span<const std::uint8_t> bytes, TimePoint now)
{
    if (m_gate.kind() == LumpKind::None)
        return write(bytes);
    m_gate.hold(bytes, now);
    return long(bytes.size());
}

void Simulator::releaseLump(TimePoint now)
{
    // A FIFO may have more than one lump due after a late wake-up.
    for (std::vector<std::uint8_t> lump; !(lump = m_gate.release(now)).empty();)
        write(lump); // what does not fit on a full line is lost, as in transmit()
}

long Simulator::write(std::span<const std::uint8_t> bytes)
{
    const long written = m_pty.write(bytes);
    m_counts.bytesWritten += std::max(written, 0L);
    return written;
}

void Simulator::receive(TimePoint now)
{
    while (take(256, now) > 0) {
    }
}

void Simulator::receivePaced(TimePoint now)
{
    // After a late wake-up, every byte whose time has come at once.
    while (m_nextReceiveAt && now >= *m_nextReceiveAt) {
        if (take(1, now) > 0)
            *m_nextReceiveAt += kByteTime;
        else
            m_nextReceiveAt.reset();
    }
}

long Simulator::take(std::size_t most, TimePoint now)
{
    std::array<std::uint8_t, 256> buffer{};
    const long n = m_pty.read(std::span(buffer).first(std::min(most, buffer.size())));
    if (n < 0)
        m_masterQuietUntil = now + milliseconds(m_options.periodMs);
    if (n <= 0)
        return n;
    for (const ReceivedCommand &command : m_reader.feed(std::span(buffer).first(std::size_t(n)))) {
        logCommand(command);
        m_model.apply(command);
    }
    return n;
}

int Simulator::pollTimeoutMs() const
{
    const TimePoint now = m_now();
    std::optional<TimePoint> next;
    auto consider = [&](std::optional<TimePoint> t) {
        if (t && (!next || *t < *next))
            next = t;
    };
    if (m_pty.isOpen()) {
        consider(m_nextFrameAt);
        if (m_options.pace && m_sent < m_pending.size())
            consider(m_nextByteAt);
        if (m_gate.holding())
            consider(m_gate.nextRelease());
    }
    consider(m_hangupAt);
    consider(m_reopenAt);
    consider(m_masterQuietUntil);
    consider(m_nextReceiveAt);
    if (!next)
        return -1;
    // Round up: a timeout rounded down to 0 before a deadline would spin.
    const auto wait = std::chrono::ceil<milliseconds>(*next - now).count();
    return int(std::clamp<long long>(wait, 0, 60 * 60 * 1000));
}

bool Simulator::start()
{
    if (!openCommandLog() || !openLine())
        return false;
    const TimePoint start = m_now();
    m_nextFrameAt = start;
    if (m_options.hangupAfterMs > 0)
        m_hangupAt = start + milliseconds(m_options.hangupAfterMs);
    return true;
}

bool Simulator::advance()
{
    const TimePoint now = m_now();
    if (m_hangupAt && now >= *m_hangupAt) {
        m_hangupAt.reset();
        hangUp(now);
    }
    if (m_reopenAt && now >= *m_reopenAt) {
        m_reopenAt.reset();
        if (!openLine())
            return false;
        m_nextFrameAt = now;
    }
    if (m_masterQuietUntil && now >= *m_masterQuietUntil)
        m_masterQuietUntil.reset();
    if (m_pty.isOpen()) {
        sendDueFrame(now);
        transmit(now);
        releaseLump(now);
        receivePaced(now);
    }
    return true;
}

std::optional<Simulator::LineWatch> Simulator::lineWatch() const
{
    if (!m_pty.isOpen() || m_masterQuietUntil)
        return std::nullopt;
    // While bytes cross the line, only a flush by the client is news.
    return LineWatch{m_pty.masterFd(), short(m_nextReceiveAt ? POLLPRI : POLLIN)};
}

void Simulator::lineEvent(short revents)
{
    const TimePoint now = m_now();
    const bool news = revents & (POLLIN | POLLPRI);
    // The first byte has crossed once its own time has passed.
    if (news && m_options.pace && m_pty.dataWaiting() && !m_nextReceiveAt)
        m_nextReceiveAt = now + kByteTime;
    else if (news && !m_options.pace)
        receive(now);
    else if (!news)
        m_masterQuietUntil = now + milliseconds(m_options.periodMs);
}

} // namespace korvale::sim
