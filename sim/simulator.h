// SPDX-License-Identifier: MIT
#pragma once

#include <chrono>
#include <cstdio>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "sim/commandreader.h"
#include "sim/devicelink.h"
#include "sim/faults.h"
#include "sim/lumpgate.h"
#include "sim/options.h"
#include "sim/pty.h"
#include "sim/supplymodel.h"

namespace korvale::sim {

// The simulated supply on its pseudo-terminal, without the poll() loop that
// drives it: the loop asks what to watch and how long it may sleep, says
// what the line reported, and calls advance() on every wake-up. Every time
// comes from `now`, so a test can step the pacing and the frame period
// through its own clock instead of waiting for them.
class Simulator
{
public:
    using Clock = std::chrono::steady_clock;
    using Now = std::function<Clock::time_point()>;

    struct LineWatch
    {
        int fd;
        short events;
    };
    // For the summary at the end, so a reader can count what it missed and a
    // sender can prove what arrived, not only what it wrote.
    struct Counts
    {
        long long blocksSent = 0;
        long long bytesDiscarded = 0;
        long long commandsReceived = 0;
        long long bytesWritten = 0; // onto the line, whole or not
    };

    Simulator(const Options &options, Now now);
    ~Simulator();
    Simulator(const Simulator &) = delete;
    Simulator &operator=(const Simulator &) = delete;

    // Opens the command log and the line, and prints the line's path; false
    // after saying why on standard error.
    bool start();
    // Does what is due by now: hang-up, reopening, the next frame, paced
    // bytes out and in, lumps. False when the line could not be reopened.
    bool advance();
    // The descriptor to poll, if any, and for what.
    std::optional<LineWatch> lineWatch() const;
    // What poll() reported for lineWatch()'s descriptor.
    void lineEvent(short revents);
    // How long poll() may sleep before something is due; -1 for ever.
    int pollTimeoutMs() const;

    const Counts &counts() const { return m_counts; }
    const std::string &serialPath() const { return m_pty.serialPath(); }

private:
    using TimePoint = Clock::time_point;

    bool openLine();
    void hangUp(TimePoint now);
    void sendDueFrame(TimePoint now);
    void transmit(TimePoint now);
    long send(std::span<const std::uint8_t> bytes, TimePoint now);
    void releaseLump(TimePoint now);
    long write(std::span<const std::uint8_t> bytes);
    void receive(TimePoint now);
    void receivePaced(TimePoint now);
    // Up to `most` bytes from the line into the command reader: how many
    // came, or -1 on an error of the line.
    long take(std::size_t most, TimePoint now);
    bool openCommandLog();
    void logCommand(const ReceivedCommand &command);

    Options m_options;
    Now m_now;
    SupplyModel m_model;
    FaultInjector m_faults;
    LumpGate m_gate;
    CommandReader m_reader;
    PseudoTerminal m_pty;
    std::optional<DeviceLink> m_link;

    TimePoint m_nextFrameAt;
    std::optional<TimePoint> m_silentUntil;
    std::optional<TimePoint> m_hangupAt;
    std::optional<TimePoint> m_reopenAt;
    // The master reported a hang-up or an error: leave it out of poll() until
    // then, or poll() would return at once, again and again.
    std::optional<TimePoint> m_masterQuietUntil;
    // Paced, bytes from the client cross the line one byte time apart, so a
    // client that closes too early has its last bytes flushed unread, as from
    // a real UART's queue. Set while they are crossing: the next is due then.
    std::optional<TimePoint> m_nextReceiveAt;

    long m_frameNumber = 0;              // counted as the faults count them, from 1
    std::vector<std::uint8_t> m_pending; // the block on its way out
    std::size_t m_sent = 0;
    TimePoint m_nextByteAt;
    Counts m_counts;
    std::FILE *m_commandLog = nullptr;
};

} // namespace korvale::sim
