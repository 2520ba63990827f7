// SPDX-License-Identifier: MIT
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

namespace korvale::sim {

// The simulator's end (master) of a pseudo-terminal pair and the path of the
// serial end (slave) that a client opens. Both sides are raw. The simulator
// keeps a descriptor of the serial end open itself, so the master never sees
// a hang-up while nobody else holds it (which would make poll() report
// POLLHUP without end) and the line's settings survive a client's close.
class PseudoTerminal
{
public:
    PseudoTerminal() = default;
    ~PseudoTerminal() { close(); }
    PseudoTerminal(const PseudoTerminal &) = delete;
    PseudoTerminal &operator=(const PseudoTerminal &) = delete;

    // Gives a message in *error when the pair cannot be had.
    bool open(std::string *error);
    // Like pulling the adapter: clients reading the serial end get EOF or EIO.
    void close();

    bool isOpen() const { return m_master >= 0; }
    int masterFd() const { return m_master; }
    const std::string &serialPath() const { return m_serialPath; }

    // Neither ever blocks: a write takes what fits now, the caller drops the
    // rest; a read returns 0 when nothing waits. -1 on an error of the line.
    long write(std::span<const std::uint8_t> bytes);
    long read(std::span<std::uint8_t> buffer);
    // Whether the client's bytes wait, without taking any. Like read(), it
    // takes note of a flush by the client first, which drops them.
    bool dataWaiting();

    // Bytes the simulator sent that nobody has read from the serial end yet.
    std::size_t unreadAtSerialEnd() const;
    void discardUnread();

private:
    void takeStatus(std::uint8_t status);

    int m_master = -1;
    int m_serial = -1;
    std::string m_serialPath;
};

} // namespace korvale::sim
