// SPDX-License-Identifier: MIT
#pragma once

#include <span>
#include <string>
#include <string_view>

#include "sim/faults.h"
#include "sim/lumpgate.h"
#include "sim/supplymodel.h"

namespace korvale::sim {

struct Options
{
    std::string linkPath;   // empty: no link
    std::string commandLog; // empty: none
    int periodMs = 500;
    bool pace = true;
    LumpKind lumps = LumpKind::None;
    bool numbered = false;
    double loadOhms = 10.0;
    KnobSteps knobSteps;
    bool overtemp = false;
    int hangupAfterMs = 0; // 0: never
    int hangupForMs = 2000;
    FaultOptions faults;
};

struct ParsedOptions
{
    enum class Action
    {
        Run,
        Help,
        Error
    };
    Action action = Action::Run;
    Options options;
    std::string error; // for Action::Error
};

// Arguments without the program name. Both "--period 200" and
// "--period=200" are understood.
ParsedOptions parseOptions(std::span<const std::string_view> arguments);

std::string helpText();

} // namespace korvale::sim
