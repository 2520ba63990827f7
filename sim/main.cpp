// SPDX-License-Identifier: MIT
// korvale-sim: one thread, one poll() loop around the Simulator. Every wake-up
// has a deadline (the next frame, the next paced byte, the hang-up) or a
// readable descriptor, so the process sleeps in poll() whenever there is
// nothing to do.
#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <poll.h>
#include <string_view>
#include <unistd.h>
#include <vector>

#include "sim/options.h"
#include "sim/simulator.h"

using namespace korvale::sim;

namespace {

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

// Sleeps in poll() until the signal pipe, the line or the next deadline.
int run(Simulator &simulator)
{
    if (!simulator.start())
        return 1;
    for (;;) {
        if (!simulator.advance())
            return 1;
        std::array<pollfd, 2> fds{};
        fds[0] = {g_signalPipe[0], POLLIN, 0};
        nfds_t count = 1;
        if (const auto line = simulator.lineWatch())
            fds[count++] = {line->fd, line->events, 0};
        const int ready = ::poll(fds.data(), count, simulator.pollTimeoutMs());
        if (ready < 0 && errno != EINTR) {
            std::perror("korvale-sim: poll");
            return 1;
        }
        if (ready <= 0)
            continue;
        if (fds[0].revents != 0) {
            const Simulator::Counts &counts = simulator.counts();
            std::fprintf(stderr,
                         "korvale-sim: sent %lld whole blocks, %lld bytes discarded unread, "
                         "received %lld command frames\n",
                         counts.blocksSent, counts.bytesDiscarded, counts.commandsReceived);
            return 0;
        }
        if (count > 1 && fds[1].revents != 0)
            simulator.lineEvent(fds[1].revents);
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
    Simulator simulator(parsed.options, [] { return std::chrono::steady_clock::now(); });
    return run(simulator);
}
