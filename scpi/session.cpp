// SPDX-License-Identifier: MIT
#include "scpi/session.h"

#include "scpi/commands.h"
#include "scpi/message.h"

#include <optional>
#include <utility>

namespace korvale::scpi {

struct Session::Impl
{
    Impl(Session &session, Instrument &instrument, SessionConfig configuration)
        : self(session), config(std::move(configuration)), state(instrument, config)
    {
        // Only what changes after the connection opened is an event.
        state.lookAtSupply();
        state.registers.clearEvents();
    }

    void run();
    void execute(const Unit &unit);
    void jobDone(const Error &error);

    Session &self;
    const SessionConfig config;
    State state;

    // Input not yet executed: from `consumed` on.
    std::string input;
    std::size_t consumed = 0;
    std::size_t lineLength = 0; // of the unterminated line at its end

    // The message being executed, up to its unit `next`, and the jobs of
    // the current unit not yet started.
    bool inMessage = false;
    Message message;
    std::size_t next = 0;
    CommandPath path;
    std::vector<Job> jobs;
    std::size_t nextJob = 0;
    std::optional<Instrument::JobId> waiting;

    std::string output;
    bool running = false;
};

void Session::Impl::run()
{
    if (running)
        return;
    running = true;
    while (!waiting) {
        if (nextJob < jobs.size()) {
            const Job job = jobs[nextJob++];
            waiting = 0; // busy before start() returns
            waiting = state.instrument.start(job, [this](const Error &e) { jobDone(e); });
            continue;
        }
        if (!inMessage) {
            const std::size_t end = input.find('\n', consumed);
            if (end == std::string::npos)
                break;
            // A '\r' before the '\n' is white space to the parser.
            message = parseMessage(std::string_view(input).substr(consumed, end - consumed));
            consumed = end + 1;
            next = 0;
            path.reset();
            state.answers.clear();
            inMessage = true;
            continue;
        }
        if (next < message.units.size()) {
            execute(message.units[next++]);
            continue;
        }
        // What could not be read is reported where it stood, after the
        // units before it ran.
        if (message.error)
            state.fail(message.error);
        std::string line;
        for (const std::string &answer : state.answers)
            line += (line.empty() ? "" : ";") + answer;
        if (!state.answers.empty())
            output += line + '\n';
        inMessage = false;
    }
    running = false;
}

void Session::Impl::execute(const Unit &unit)
{
    const std::vector<std::string> nodes =
        unit.common ? unit.nodes : path.resolve(unit.absolute, unit.nodes);
    const Command *command = findCommand(unit, nodes);
    if (!command)
        return state.fail(-113);
    const int count = int(unit.parameters.size());
    if (count < command->minParameters)
        return state.fail(-109);
    if (count > command->maxParameters)
        return state.fail(-108);
    if (command->sendsFrames && !state.unlocked)
        return state.fail(-203);
    state.jobs.clear();
    command->run(state, unit);
    jobs = std::move(state.jobs);
    nextJob = 0;
}

void Session::Impl::jobDone(const Error &error)
{
    waiting.reset();
    if (error.code != 0) {
        state.fail(error.code, error.detail);
        jobs.clear(); // what the unit asked after it would build on it
    }
    const std::size_t before = output.size();
    run();
    if (output.size() != before && self.outputReady)
        self.outputReady();
}

Session::Session(Instrument &instrument, SessionConfig config)
    : d(std::make_unique<Impl>(*this, instrument, std::move(config)))
{
}

Session::~Session()
{
    if (d->waiting)
        d->state.instrument.cancel(*d->waiting);
}

bool Session::receive(std::string_view bytes)
{
    for (const char c : bytes) {
        d->lineLength = c == '\n' ? 0 : d->lineLength + 1;
        if (d->lineLength > d->config.maxLine)
            return false;
    }
    d->input.erase(0, d->consumed);
    d->consumed = 0;
    d->input.append(bytes);
    d->run();
    return d->input.size() - d->consumed <= d->config.maxPending;
}

std::string Session::takeOutput()
{
    return std::exchange(d->output, {});
}

std::size_t Session::outputSize() const
{
    return d->output.size();
}

void Session::supplyChanged()
{
    d->state.lookAtSupply();
}

bool Session::busy() const
{
    return d->waiting.has_value();
}

} // namespace korvale::scpi
