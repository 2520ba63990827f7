// SPDX-License-Identifier: MIT
#pragma once

#include "protocol/statusframe.h"

#include <cstdint>
#include <functional>
#include <string>

// The supply as the SCPI language sees it: one for every connection of a
// server, so that work asked for by several clients is done one job after
// the other on the one line.
namespace korvale::scpi {

// A standard SCPI error: its number (0 for none) and a detail that the queue
// appends to the standard text after a ';'.
struct Error
{
    int code = 0;
    std::string detail;
};

enum class Setting
{
    Voltage,
    Current,
    Power
};

// What a command asks of the supply. It is done only when the frames the
// supply sends show it done, never when its frames were merely sent.
struct Job
{
    enum class Kind
    {
        Key,    // press CommandN once (a key of the keypad, never L or REM)
        Output, // the output on or off, pressing I/O only if it differs
        Set     // a setting to a value, by its key and the knob
    };
    Kind kind = Kind::Key;
    int command = 0;                    // Key
    bool on = false;                    // Output
    Setting setting = Setting::Voltage; // Set
    double value = 0;                   // Set: volts, amperes or watts
};

class Instrument
{
public:
    using JobId = std::uint64_t;
    using Done = std::function<void(const Error &)>;

    virtual ~Instrument() = default;

    // The last status frame accepted, or null while the supply is silent by
    // the link watchdog's rule, or before its first frame.
    virtual const StatusReadings *latest() const = 0;

    // Queues `job` behind every job queued before it, from any connection.
    // `done` is called exactly once, never from inside start(), with code 0
    // or the error that ended the job; a job that ends in error sends
    // nothing more.
    virtual JobId start(const Job &job, Done done) = 0;

    // Whoever asked is gone: the job, queued or running, sends nothing more
    // and its `done` is never called.
    virtual void cancel(JobId job) = 0;
};

} // namespace korvale::scpi
