// SPDX-License-Identifier: MIT
#pragma once

#include "scpi/instrument.h"

#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

// One client's conversation with the supply in SCPI (IEEE 488.2, SCPI-1999):
// its input split into messages, each executed in order, its error queue and
// status registers. Transport-free: the server hands in bytes and takes out
// the answers.
namespace korvale::scpi {

struct SessionConfig
{
    // The four fields *IDN? answers.
    std::string identity;
    // What SYST:PASS:CEN must be given before a command may send frames.
    std::string token;
    // A message longer than this closes the connection.
    std::size_t maxLine = 4096;
    // So does more input than this waiting behind a job (a client that
    // floods while the supply works).
    std::size_t maxPending = 64 * 1024;
};

class Session
{
public:
    Session(Instrument &instrument, SessionConfig config);
    ~Session(); // cancels the job it waits for, if any
    Session(const Session &) = delete;
    Session &operator=(const Session &) = delete;

    // Bytes as they arrive, in pieces or several messages at once. Messages
    // are executed in order; one that waits for the supply holds back those
    // after it. False when the connection must be closed (a message over
    // maxLine, more than maxPending waiting); nothing more should be fed then.
    bool receive(std::string_view bytes);

    // The answers ready to send, each message's on one line ended by '\n';
    // taking them empties the buffer.
    std::string takeOutput();
    std::size_t outputSize() const;

    // Called whenever output becomes ready later than receive() returned
    // (a job finished and the messages after it ran).
    std::function<void()> outputReady;

    // A frame was accepted or the supply fell silent or came back: the
    // status conditions are read again from the instrument, so that the
    // event registers latch what changed.
    void supplyChanged();

    // Waiting for the supply's work on this connection's behalf.
    bool busy() const;

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};

} // namespace korvale::scpi
