// SPDX-License-Identifier: MIT
// korvale-sim: one thread, one poll() loop. Every wake-up has a deadline (the
// next frame, the next paced byte, the hang-up) or a readable descriptor, so
// the process sleeps in poll() whenever there is nothing to do.
#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <optional>
#include <poll.h>
#include <string>
#include <unistd.h>
#include <vector>

#include "protocol/statusframe.h"
#include "sim/commandreader.h"
#include "sim/devicelink.h"
#include "sim/faults.h"
#include "sim/lumpgate.h"
#include "sim/options.h"
#include "sim/pty.h"
#include "sim/supplymodel.h"

using namespace korvale;
using namespace korvale::sim;
using Clock = std::chrono::steady_clock;
using std::chrono::microseconds;
using std::chrono::milliseconds;

namespace {

// 1200 baud, ten bits a byte with start and stop bit.
constexpr microseconds kByteTime{8333};

int g_signalPipe[2] = {-1, -1};

void onSignal(int)
{
    const int saved = errno;
    const char byte = 1;
    [[maybe_unused]] const ssize_t n = ::write(g_signalPipe[1], &byte, 1);
    errno = saved;
}

bool installSignalPipe()
{
    if (::pipe2(g_signalPipe, O_NONBLOCK | O_CLOEXEC) != 0)
        return false;
    struct sigaction action
    {
    };
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGINT, &action, nullptr);
    ::sigaction(SIGTERM, &action, nullptr);
    // A reader of our stdout that went away must not end the simulator.
    std::signal(SIGPIPE, SIG_IGN);
    return true;
}

class Simulator
{
public:
    explicit Simulator(const Options &options)
        : m_options(options), m_model(options.loadOhms), m_faults(options.faults),
          m_gate(options.lumps, options.faults.seed, kByteTime)
    {
        m_model.setOvertemp(options.overtemp);
        if (!options.linkPath.empty())
            m_link.emplace(options.linkPath);
    }
    ~Simulator()
    {
        if (m_commandLog)
            std::fclose(m_commandLog);
    }
    Simulator(const Simulator &) = delete;
    Simulator &operator=(const Simulator &) = delete;

    int run();

private:
    bool openLine();
    void hangUp(Clock::time_point now);
    void sendDueFrame(Clock::time_point now);
    void transmit(Clock::time_point now);
    long send(std::span<const std::uint8_t> bytes, Clock::time_point now);
    void releaseLump(Clock::time_point now);
    void receive(Clock::time_point now);
    void receivePaced(Clock::time_point now);
    // Up to `most` bytes from the line into the command reader: how many
    // came, or -1 on an error of the line.
    long take(std::size_t most, Clock::time_point now);
    int pollTimeoutMs(Clock::time_point now) const;
    bool openCommandLog();
    void logCommand(const ReceivedCommand &command);

    Options m_options;
    SupplyModel m_model;
    FaultInjector m_faults;
    LumpGate m_gate;
    CommandReader m_reader;
    PseudoTerminal m_pty;
    std::optional<DeviceLink> m_link;

    Clock::time_point m_nextFrameAt;
    std::optional<Clock::time_point> m_silentUntil;
    std::optional<Clock::time_point> m_hangupAt;
    std::optional<Clock::time_point> m_reopenAt;
    // The master reported a hang-up or an error: leave it out of poll() until
    // then, or poll() would return at once, again and again.
    std::optional<Clock::time_point> m_masterQuietUntil;
    // Paced, bytes from the client cross the line one byte time apart, so a
    // client that closes too early has its last bytes flushed unread, as from
    // a real UART's queue. Set while they are crossing: the next is due then.
    std::optional<Clock::time_point> m_nextReceiveAt;

    long m_frameNumber = 0;              // counted as the faults count them, from 1
    std::vector<std::uint8_t> m_pending; // the block on its way out
    std::size_t m_sent = 0;
    Clock::time_point m_nextByteAt;
    // For the summary at the end, so a reader can count what it missed.
    long long m_blocksSent = 0;
    long long m_bytesDiscarded = 0;
    // So that a sender can prove what arrived, not only what it wrote.
    long long m_commandsReceived = 0;
    std::FILE *m_commandLog = nullptr;
};

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
    ++m_commandsReceived;
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

void Simulator::hangUp(Clock::time_point now)
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

void Simulator::sendDueFrame(Clock::time_point now)
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
        m_bytesDiscarded += static_cast<long long>(unread);
    }
    m_pending = std::move(block.bytes);
    m_sent = 0;
    m_nextByteAt = now;
}

void Simulator::transmit(Clock::time_point now)
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
            ++m_blocksSent;
        if (!m_options.pace) {
            m_sent = m_pending.size(); // whatever did not fit is dropped
            break;
        }
        m_nextByteAt += kByteTime;
    }
}

long Simulator::send(std::span<const std::uint8_t> bytes, Clock::time_point now)
{
    if (m_gate.kind() == LumpKind::None)
        return m_pty.write(bytes);
    m_gate.hold(bytes, now);
    return long(bytes.size());
}

void Simulator::releaseLump(Clock::time_point now)
{
    // A FIFO may have more than one lump due after a late wake-up.
    for (std::vector<std::uint8_t> lump; !(lump = m_gate.release(now)).empty();)
        m_pty.write(lump); // what does not fit on a full line is lost, as in transmit()
}

void Simulator::receive(Clock::time_point now)
{
    while (take(256, now) > 0) {
    }
}

void Simulator::receivePaced(Clock::time_point now)
{
    // After a late wake-up, every byte whose time has come at once.
    while (m_nextReceiveAt && now >= *m_nextReceiveAt) {
        if (take(1, now) > 0)
            *m_nextReceiveAt += kByteTime;
        else
            m_nextReceiveAt.reset();
    }
}

long Simulator::take(std::size_t most, Clock::time_point now)
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

int Simulator::pollTimeoutMs(Clock::time_point now) const
{
    std::optional<Clock::time_point> next;
    auto consider = [&](std::optional<Clock::time_point> t) {
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

int Simulator::run()
{
    if (!openCommandLog() || !openLine())
        return 1;
    const Clock::time_point start = Clock::now();
    m_nextFrameAt = start;
    if (m_options.hangupAfterMs > 0)
        m_hangupAt = start + milliseconds(m_options.hangupAfterMs);

    for (;;) {
        Clock::time_point now = Clock::now();
        if (m_hangupAt && now >= *m_hangupAt) {
            m_hangupAt.reset();
            hangUp(now);
        }
        if (m_reopenAt && now >= *m_reopenAt) {
            m_reopenAt.reset();
            if (!openLine())
                return 1;
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

        std::array<pollfd, 2> fds{};
        fds[0] = {g_signalPipe[0], POLLIN, 0};
        nfds_t count = 1;
        // While bytes cross the line, only a flush by the client is news.
        if (m_pty.isOpen() && !m_masterQuietUntil)
            fds[count++] = {m_pty.masterFd(), short(m_nextReceiveAt ? POLLPRI : POLLIN), 0};
        const int ready = ::poll(fds.data(), count, pollTimeoutMs(now));
        if (ready < 0 && errno != EINTR) {
            std::perror("korvale-sim: poll");
            return 1;
        }
        if (ready <= 0)
            continue;
        if (fds[0].revents != 0) {
            std::fprintf(stderr,
                         "korvale-sim: sent %lld whole blocks, %lld bytes discarded unread, "
                         "received %lld command frames\n",
                         m_blocksSent, m_bytesDiscarded, m_commandsReceived);
            return 0;
        }
        if (count > 1 && fds[1].revents != 0) {
            now = Clock::now();
            const bool news = fds[1].revents & (POLLIN | POLLPRI);
            // The first byte has crossed once its own time has passed.
            if (news && m_options.pace && m_pty.dataWaiting() && !m_nextReceiveAt)
                m_nextReceiveAt = now + kByteTime;
            else if (news && !m_options.pace)
                receive(now);
            else if (!news)
                m_masterQuietUntil = now + milliseconds(m_options.periodMs);
        }
    }
}

} // namespace

int main(int argc, char **argv)
{
    const std::vector<std::string_view> arguments(argv + std::min(argc, 1), argv + argc);
    const ParsedOptions parsed = parseOptions(arguments);
    switch (parsed.action) {
    case ParsedOptions::Action::Help:
        std::fputs(helpText().c_str(), stdout);
        return 0;
    case ParsedOptions::Action::Error:
        std::fprintf(stderr, "korvale-sim: %s\nTry 'korvale-sim --help'.\n", parsed.error.c_str());
        return 2;
    case ParsedOptions::Action::Run:
        break;
    }
    if (!installSignalPipe()) {
        std::perror("korvale-sim: pipe");
        return 1;
    }
    // The link is removed by the simulator's destructor on every way out.
    Simulator simulator(parsed.options);
    return simulator.run();
}
