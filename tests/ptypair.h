// SPDX-License-Identifier: MIT
#pragma once

#include <QByteArray>
#include <QDeadlineTimer>
#include <QString>
#include <QTest>

#include <cerrno>
#include <fcntl.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

// A pseudo-terminal pair standing in for the supply: the code under test opens
// slavePath() like any serial device, the test plays the supply on the master.
// The slave end stays open here as well, so the line keeps its state while the
// code under test closes and reopens it.
class PtyPair
{
public:
    PtyPair()
    {
        if (::openpty(&m_master, &m_slave, nullptr, nullptr, nullptr) != 0) {
            m_master = m_slave = -1;
            return;
        }
        for (int fd : {m_master, m_slave}) {
            termios tio{};
            ::tcgetattr(fd, &tio);
            ::cfmakeraw(&tio);
            ::tcsetattr(fd, TCSANOW, &tio);
        }
        ::fcntl(m_master, F_SETFL, ::fcntl(m_master, F_GETFL) | O_NONBLOCK);
        if (const char *name = ::ttyname(m_slave))
            m_slavePath = QString::fromLocal8Bit(name);
    }
    ~PtyPair()
    {
        closeMaster();
        if (m_slave >= 0)
            ::close(m_slave);
    }
    PtyPair(const PtyPair &) = delete;
    PtyPair &operator=(const PtyPair &) = delete;

    bool isValid() const { return m_master >= 0 && !m_slavePath.isEmpty(); }
    QString slavePath() const { return m_slavePath; }
    QByteArray slavePathBytes() const { return m_slavePath.toLocal8Bit(); }

    // Plays bytes from the supply's side; false if they could not all go.
    bool write(const QByteArray &bytes)
    {
        qsizetype done = 0;
        QDeadlineTimer deadline(2000);
        while (m_master >= 0 && done < bytes.size() && !deadline.hasExpired()) {
            const ssize_t n = ::write(m_master, bytes.constData() + done, bytes.size() - done);
            if (n > 0)
                done += n;
            else if (n < 0 && errno != EAGAIN && errno != EINTR)
                return false;
            else
                QTest::qWait(1);
        }
        return done == bytes.size();
    }

    // What the code under test has sent so far, without waiting.
    QByteArray readAvailable()
    {
        QByteArray out;
        char chunk[4096];
        while (m_master >= 0) {
            const ssize_t n = ::read(m_master, chunk, sizeof chunk);
            if (n <= 0)
                break;
            out.append(chunk, n);
        }
        return out;
    }

    // Collects for `ms` milliseconds while the event loop keeps turning, so
    // that the code under test can flush its queue meanwhile.
    QByteArray readFor(int ms)
    {
        QByteArray out;
        QDeadlineTimer deadline(ms);
        do {
            out += readAvailable();
            QTest::qWait(5);
        } while (!deadline.hasExpired());
        return out + readAvailable();
    }

    // Returns as soon as `n` bytes have come, or what came before the timeout.
    QByteArray readExactly(qsizetype n, int timeoutMs = 2000)
    {
        QByteArray out = readAvailable();
        QDeadlineTimer deadline(timeoutMs);
        while (out.size() < n && !deadline.hasExpired()) {
            QTest::qWait(5);
            out += readAvailable();
        }
        return out;
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
    QString m_slavePath;
};
