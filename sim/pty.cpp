// SPDX-License-Identifier: MIT
#include "sim/pty.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace korvale::sim {

namespace {

bool fail(std::string *error, const char *what)
{
    if (error)
        *error = std::string(what) + ": " + std::strerror(errno);
    return false;
}

bool makeRaw(int fd)
{
    termios t{};
    if (::tcgetattr(fd, &t) != 0)
        return false;
    ::cfmakeraw(&t);
    t.c_cflag |= CLOCAL | CREAD;
    t.c_cc[VMIN] = 1;
    t.c_cc[VTIME] = 0;
    // Cosmetic on a pseudo-terminal, but what a client that asks will see.
    ::cfsetispeed(&t, B1200);
    ::cfsetospeed(&t, B1200);
    return ::tcsetattr(fd, TCSANOW, &t) == 0;
}

} // namespace

bool PseudoTerminal::open(std::string *error)
{
    close();
    m_master = ::posix_openpt(O_RDWR | O_NOCTTY);
    if (m_master < 0)
        return fail(error, "posix_openpt");
    if (::fcntl(m_master, F_SETFD, FD_CLOEXEC) != 0 ||
        ::fcntl(m_master, F_SETFL, ::fcntl(m_master, F_GETFL) | O_NONBLOCK) != 0) {
        const bool ok = fail(error, "fcntl");
        close();
        return ok;
    }
    if (::grantpt(m_master) != 0 || ::unlockpt(m_master) != 0) {
        const bool ok = fail(error, "grantpt/unlockpt");
        close();
        return ok;
    }
    char path[128] = {};
    if (::ptsname_r(m_master, path, sizeof path) != 0) {
        const bool ok = fail(error, "ptsname");
        close();
        return ok;
    }
    m_serialPath = path;
    m_serial = ::open(path, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (m_serial < 0) {
        const bool ok = fail(error, m_serialPath.c_str());
        close();
        return ok;
    }
    if (!makeRaw(m_serial) || !makeRaw(m_master)) {
        const bool ok = fail(error, "tcsetattr");
        close();
        return ok;
    }
    // Packet mode tells us when a client flushes what it wrote, as closing
    // drivers and ser2net do.
    if (int on = 1; ::ioctl(m_master, TIOCPKT, &on) != 0) {
        const bool ok = fail(error, "TIOCPKT");
        close();
        return ok;
    }
    return true;
}

void PseudoTerminal::close()
{
    if (m_serial >= 0)
        ::close(m_serial);
    if (m_master >= 0)
        ::close(m_master);
    m_serial = -1;
    m_master = -1;
    m_serialPath.clear();
}

long PseudoTerminal::write(std::span<const std::uint8_t> bytes)
{
    if (m_master < 0)
        return -1;
    const ssize_t n = ::write(m_master, bytes.data(), bytes.size());
    if (n >= 0)
        return n;
    return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR ? 0 : -1;
}

long PseudoTerminal::read(std::span<std::uint8_t> buffer)
{
    if (m_master < 0)
        return -1;
    // Each read starts with a status byte: 0 before data, else what happened
    // to the serial end's queues.
    std::array<std::uint8_t, 257> packet{};
    const std::size_t most = std::min(buffer.size(), packet.size() - 1) + 1;
    for (;;) {
        const ssize_t n = ::read(m_master, packet.data(), most);
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR))
            return 0;
        if (n <= 0)
            return -1;
        if (packet[0] == TIOCPKT_DATA) {
            std::copy_n(packet.begin() + 1, n - 1, buffer.begin());
            return long(n - 1);
        }
        takeStatus(packet[0]);
    }
}

bool PseudoTerminal::dataWaiting()
{
    // Room for the status byte alone: data waiting says so and stays.
    std::uint8_t status = 0;
    while (m_master >= 0 && ::read(m_master, &status, 1) == 1) {
        if (status == TIOCPKT_DATA)
            return true;
        takeStatus(status);
    }
    return false;
}

void PseudoTerminal::takeStatus(std::uint8_t status)
{
    // The client took back what it wrote: what has not crossed the line yet
    // is lost, as from a real UART's queue.
    if (status & TIOCPKT_FLUSHWRITE)
        ::tcflush(m_master, TCIFLUSH);
}

std::size_t PseudoTerminal::unreadAtSerialEnd() const
{
    int waiting = 0;
    if (m_serial < 0 || ::ioctl(m_serial, FIONREAD, &waiting) != 0 || waiting < 0)
        return 0;
    return static_cast<std::size_t>(waiting);
}

void PseudoTerminal::discardUnread()
{
    if (m_serial >= 0)
        ::tcflush(m_serial, TCIFLUSH);
}

} // namespace korvale::sim
