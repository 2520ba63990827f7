// SPDX-License-Identifier: MIT
#pragma once

#include <QDeadlineTimer>
#include <QTest>

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
    // line is full; false if they could not all go within two seconds.
    bool write(QByteArray bytes)
    {
        for (QDeadlineTimer deadline(2000); !bytes.isEmpty() && !deadline.hasExpired();) {
            const ssize_t n =
                m_master < 0 ? -1 : ::write(m_master, bytes.constData(), bytes.size());
            n > 0 ? void(bytes.remove(0, n)) : QTest::qWait(1);
        }
        return bytes.isEmpty();
    }

    // What the code under test sent: once `n` bytes have come (never, for
    // -1), or what came before the timeout.
    QByteArray readExactly(qsizetype n, int timeoutMs = 2000)
    {
        QByteArray out;
        char chunk[4096];
        for (QDeadlineTimer deadline(timeoutMs);
             (n < 0 || out.size() < n) && !deadline.hasExpired();) {
            const ssize_t got = m_master < 0 ? -1 : ::read(m_master, chunk, sizeof chunk);
            got > 0 ? void(out.append(chunk, got)) : QTest::qWait(5);
        }
        return out;
    }
    QByteArray readFor(int ms) { return readExactly(-1, ms); }

    // True once the program on the slave end has read all that was played:
    // the slave end kept here shares its queue. Polled without the event
    // loop, so that no event of the test delays the caller's next step.
    bool playedBytesTaken(int timeoutMs = 2000) const
    {
        for (QDeadlineTimer deadline(timeoutMs); !deadline.hasExpired(); ::usleep(500)) {
            int waiting = -1;
            if (::ioctl(m_slave, FIONREAD, &waiting) == 0 && waiting == 0)
                return true;
        }
        return false;
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
