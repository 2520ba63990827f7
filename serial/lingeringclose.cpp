// SPDX-License-Identifier: MIT
#include "serial/lingeringclose.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QPointer>

#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

LingeringClose *LingeringClose::start(int descriptor, const QString &device,
                                      std::chrono::milliseconds lineBusy)
{
    const int copy = ::fcntl(descriptor, F_DUPFD_CLOEXEC, 0);
    if (copy < 0)
        return nullptr;
    return new LingeringClose(copy, device, lineBusy);
}

LingeringClose::LingeringClose(int descriptor, const QString &device,
                               std::chrono::milliseconds lineBusy)
    // A child of the application, so that one still lingering when the
    // program ends is released with it.
    : QObject(QCoreApplication::instance()), m_descriptor(descriptor), m_device(device),
      m_lineBusy(lineBusy), m_deadline(kAcknowledgeLimit)
{
    // Polled: the kernel tells no one when the far end acknowledges.
    m_poll.setInterval(5);
    connect(&m_poll, &QTimer::timeout, this, &LingeringClose::step);
    m_poll.start();
}

LingeringClose::~LingeringClose()
{
    if (m_descriptor >= 0)
        ::close(m_descriptor);
}

LingeringClose *LingeringClose::lingering(const QString &device)
{
    const auto all = QCoreApplication::instance()->findChildren<LingeringClose *>(
        QString(), Qt::FindDirectChildrenOnly);
    for (LingeringClose *closing : all)
        if (!closing->m_done && closing->m_device == device)
            return closing;
    return nullptr;
}

bool LingeringClose::await(LingeringClose *closing)
{
    if (!closing)
        return true;
    QPointer<LingeringClose> watched(closing);
    bool delivered = false;
    QEventLoop loop;
    connect(closing, &LingeringClose::finished, &loop, [&](bool ok) {
        delivered = ok;
        loop.quit();
    });
    if (watched && !watched->m_done)
        loop.exec();
    return delivered;
}

void LingeringClose::finishAll()
{
    while (LingeringClose *closing = QCoreApplication::instance()->findChild<LingeringClose *>(
               QString(), Qt::FindDirectChildrenOnly)) {
        if (closing->m_done)
            delete closing;
        else
            await(closing);
    }
}

bool LingeringClose::farEndOpen()
{
    // Bytes left unread when closing would reset the connection instead of
    // ending it, and the far end could drop ours with it.
    char unread[256];
    for (;;) {
        const ssize_t got = ::recv(m_descriptor, unread, sizeof unread, MSG_DONTWAIT);
        if (got > 0)
            continue;
        return got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR);
    }
}

void LingeringClose::step()
{
    const bool open = farEndOpen();
    switch (m_stage) {
    case Stage::Acknowledge: {
        int queued = 0;
        // TIOCOUTQ is SIOCOUTQ on Linux: bytes the far end has not
        // acknowledged yet.
        if (!open || ::ioctl(m_descriptor, TIOCOUTQ, &queued) != 0)
            return finish(false);
        if (queued > 0) {
            if (m_deadline.hasExpired())
                finish(false);
            return;
        }
        m_stage = Stage::Hold;
        m_deadline.setRemainingTime(kSettle + m_lineBusy);
        return;
    }
    case Stage::Hold:
        // The far end closing now (another client took the line) may have
        // flushed the device before it sent our bytes.
        if (!open)
            return finish(false);
        if (!m_deadline.hasExpired())
            return;
        ::shutdown(m_descriptor, SHUT_WR);
        m_stage = Stage::FarEnd;
        m_deadline.setRemainingTime(kFarEndLimit);
        return;
    case Stage::FarEnd:
        // The bytes have had their time; a far end slow to close loses none.
        if (open && !m_deadline.hasExpired())
            return;
        m_stage = Stage::Release;
        m_deadline.setRemainingTime(kRelease);
        return;
    case Stage::Release:
        if (m_deadline.hasExpired())
            finish(true);
        return;
    }
}

void LingeringClose::finish(bool delivered)
{
    m_poll.stop();
    m_done = true;
    ::close(std::exchange(m_descriptor, -1));
    emit finished(delivered);
    deleteLater();
}
