// SPDX-License-Identifier: MIT
#pragma once

#include <QDeadlineTimer>
#include <QTest>

#include <algorithm>

#include <fcntl.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <unistd.h>

// A pseudo-terminal pair standing in for the supply: the code under test opens
// slavePath() like any serial device, the test plays the supply on the master.
// The slave end stays open here too, so the line keeps its state while the
// code under test closes and reopens it.
class PtyPair
{
public:
    PtyPair()
    {
        termios raw{};
        ::cfmakeraw(&raw);
        if (::openpty(&m_master, &m_slave, nullptr, &raw, nullptr) == 0)
            ::fcntl(m_master, F_SETFL, ::fcntl(m_master, F_GETFL) | O_NONBLOCK);
    }
    ~PtyPair()
    {
        closeMaster();
        ::close(m_slave);
    }
    bool isValid() const { return m_master >= 0; }
    QString slavePath() const { return QString::fromLocal8Bit(::ttyname(m_slave)); }
    QByteArray slavePathBytes() const { return slavePath().toLocal8Bit(); }

    // Plays bytes from the supply's side, the event loop turning while the
    // line is full; false if they could not all go within thirty seconds.
    bool write(QByteArray bytes)
    {
        for (QDeadlineTimer deadline(30000); !bytes.isEmpty() && !deadline.hasExpired();) {
            const ssize_t n =
                m_master < 0 ? -1 : ::write(m_master, bytes.constData(), bytes.size());
            n > 0 ? void(bytes.remove(0, n)) : QTest::qWait(1);
        }
        return bytes.isEmpty();
    }

    // What the code under test sent: once `n` bytes have come (never, for
    // -1), or what came before the timeout; read at least once, so that
    // readFor(0) is what has come so far.
    QByteArray readExactly(qsizetype n, int timeoutMs = 10000)
    {
        QByteArray out;
        char chunk[4096];
        for (QDeadlineTimer deadline(timeoutMs);; QTest::qWait(5)) {
            const ssize_t got = m_master < 0 ? -1 : ::read(m_master, chunk, sizeof chunk);
            out.append(chunk, std::max<ssize_t>(got, 0));
            if ((n >= 0 && out.size() >= n) || deadline.hasExpired())
                return out;
        }
    }
    QByteArray readFor(int ms) { return readExactly(-1, ms); }

    // True once the program on the slave end has read all that was played:
    // the slave end kept here shares its queue. Polled without the event
    // loop, so that no event of the test delays the caller's next step;
    // with 0, looked at once.
    bool playedBytesTaken(int timeoutMs = 2000) const
    {
        for (QDeadlineTimer deadline(timeoutMs);; ::usleep(500)) {
            int waiting = -1;
            if (::ioctl(m_slave, FIONREAD, &waiting) == 0 && waiting == 0)
                return true;
            if (deadline.hasExpired())
                return false;
        }
    }

    // The supply goes away (cable or adapter pulled).
    void closeMaster()
    {
        if (m_master >= 0)
            ::close(m_master);
        m_master = -1;
    }

private:
    int m_master = -1;
    int m_slave = -1;
};
