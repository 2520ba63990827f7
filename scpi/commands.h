// SPDX-License-Identifier: MIT
#pragma once

#include "scpi/commandtree.h"
#include "scpi/errorqueue.h"
#include "scpi/instrument.h"
#include "scpi/message.h"
#include "scpi/registers.h"
#include "scpi/session.h"

#include <span>
#include <string>
#include <vector>

// The commands this instrument knows, as one table: what the session
// dispatches by and what the tests walk.
namespace korvale::scpi {

// What a command may read and change: one connection's state.
struct State
{
    State(Instrument &i, const SessionConfig &c) : instrument(i), config(c) {}

    Instrument &instrument;
    const SessionConfig &config;
    ErrorQueue errors;
    Registers registers;
    bool unlocked = false;
    // The current message's answers so far.
    std::vector<std::string> answers;
    // Work for the supply that the command asks for, started in order.
    std::vector<Job> jobs;

    void fail(int code, std::string detail = {});
    // The supply's status conditions as they are now (0 while silent); the
    // events latch what rose since the last look.
    void lookAtSupply();
};

struct Command
{
    const char *header; // HeaderPattern text
    int minParameters;
    int maxParameters;
    bool sendsFrames; // needs SYST:PASS:CEN first
    void (*run)(State &, const Unit &);
};

std::span<const Command> commands();

// The command a unit typed at `nodes` names, or null: -113.
const Command *findCommand(const Unit &unit, std::span<const std::string> nodes);

} // namespace korvale::scpi
