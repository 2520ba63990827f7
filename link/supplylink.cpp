// SPDX-License-Identifier: MIT
#include "link/supplylink.h"

#include <QDeadlineTimer>
#include <QEventLoop>

#include <span>

SupplyLink::SupplyLink(QObject *parent) : QObject(parent)
{
    m_tick.setInterval(korvale::LinkWatchdog::kTickMs);
    connect(&m_tick, &QTimer::timeout, this, &SupplyLink::onTick);
    m_retry.setSingleShot(true);
    m_retry.setInterval(kRetryMs);
    connect(&m_retry, &QTimer::timeout, this, [this] { m_channel.setPortOpen(true); });
    m_sendTurn.setSingleShot(true);
    // A coarse timer may fire early, which would only cost another turn.
    m_sendTurn.setTimerType(Qt::PreciseTimer);
    connect(&m_sendTurn, &QTimer::timeout, this, &SupplyLink::sendWaiting);

    m_channel.setDTREnable(true);
    connect(&m_channel, &SerialChannel::OnComm, this, &SupplyLink::take);
    connect(&m_channel, &SerialChannel::opened, this, &SupplyLink::onOpened);
    connect(&m_channel, &SerialChannel::openFailed, this,
            [this](int, const QString &device, const QString &reason) {
                onOpenFailed(device, reason);
            });
    connect(&m_channel, &SerialChannel::deviceLost, this,
            [this](int, const QString &device, const QString &reason) {
                onDeviceLost(device, reason);
            });
    connect(&m_channel, &SerialChannel::settingsIgnored, this, &SupplyLink::settingsIgnored);
}

void SupplyLink::setTarget(int port, const QString &device)
{
    m_port = port;
    m_device = device;
    m_channel.setCommPort(port);
    m_channel.setDevicePath(device);
}

QString SupplyLink::device() const
{
    return m_device.isEmpty() ? SerialChannel::devicePath(m_port) : m_device;
}

QString SupplyLink::label(const QString &device) const
{
    return m_device.isEmpty() ? QStringLiteral("comm%1 (%2)").arg(m_port).arg(device) : device;
}

void SupplyLink::open()
{
    m_wanted = true;
    m_watchdog.reset();
    m_channel.setPortOpen(true);
}

void SupplyLink::close()
{
    m_wanted = false;
    m_retry.stop();
    m_tick.stop();
    m_sendTurn.stop();
    m_waiting.clear();
    m_channel.setPortOpen(false);
    // Half a frame from this opening must not join the bytes of the next.
    m_stream = korvale::StatusStream();
    setDevicePresent(false);
}

bool SupplyLink::drainAndClose(int timeoutMs)
{
    const QDeadlineTimer deadline(timeoutMs);
    while (!m_waiting.empty() && m_channel.PortOpen() && !deadline.hasExpired())
        awaitSend(int(deadline.remainingTime()));
    // Nothing can be waiting for a device that is not open: send() refuses.
    const bool drained =
        m_waiting.empty() &&
        (!m_state.devicePresent || m_channel.drainAndClose(int(deadline.remainingTime())));
    close();
    return drained;
}

QString SupplyLink::tooManyKeys()
{
    return QStringLiteral("Too many keys at once: the line takes one frame per %1 ms.")
        .arg(kSendSpacingMs);
}

QString SupplyLink::couldNotOpen(const QString &device, const QString &reason) const
{
    return QStringLiteral("%1 could not be opened: %2.").arg(label(device), reason);
}

bool SupplyLink::send(const korvale::CommandFrame &frame, QString *why)
{
    QString refusal;
    if (!m_channel.PortOpen())
        refusal = QStringLiteral("The line is not open.");
    else if (m_waiting.size() >= std::size_t(kSendQueue))
        refusal = tooManyKeys();
    if (!refusal.isEmpty()) {
        if (why)
            *why = refusal;
        return false;
    }
    m_waiting.push_back(frame);
    sendWaiting();
    return true;
}

void SupplyLink::sendWaiting()
{
    if (m_waiting.empty() || m_sendTurn.isActive())
        return;
    const qint64 since = m_lastSent.isValid() ? m_lastSent.elapsed() : kSendSpacingMs;
    if (since < kSendSpacingMs) {
        m_sendTurn.start(int(kSendSpacingMs - since));
        return;
    }
    const korvale::CommandFrame &frame = m_waiting.front();
    // A full transmit queue, or a device on its way out, keeps the frame for
    // the next turn; a loss discards it with the rest.
    if (m_channel.Output(QByteArrayView(reinterpret_cast<const char *>(frame.data()),
                                        qsizetype(frame.size())))) {
        m_waiting.pop_front();
        m_lastSent.start();
        emit frameSent();
    }
    if (!m_waiting.empty())
        m_sendTurn.start(kSendSpacingMs);
}

void SupplyLink::awaitSend(int timeoutMs)
{
    QEventLoop loop;
    connect(this, &SupplyLink::frameSent, &loop, &QEventLoop::quit);
    connect(this, &SupplyLink::deviceLost, &loop, &QEventLoop::quit);
    connect(this, &SupplyLink::openFailed, &loop, &QEventLoop::quit);
    QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
    loop.exec();
}

void SupplyLink::take()
{
    const QByteArray block = m_channel.Input();
    // Every block is a sign of life, whatever it carries, or a steady
    // trickle of fragments would look like silence.
    if (m_watchdog.LinkLost) {
        m_watchdog.reset();
        m_state.linkAlive = true;
        m_state.linkSince = QDateTime::currentDateTime();
        emit linkBack();
    }
    m_watchdog.reset();
    m_stream.feed(std::span(reinterpret_cast<const std::uint8_t *>(block.constData()),
                            std::size_t(block.size())),
                  QDateTime::currentMSecsSinceEpoch());
    // Woken when the frame being gathered can be decided, not a count later.
    m_channel.setRThreshold(int(m_stream.wanted()));
    emitFrames();
}

void SupplyLink::emitFrames()
{
    while (const auto next = m_stream.next()) {
        m_state.readings = next->readings;
        // In UTC: working out the local time costs more than the rest of a
        // frame's road to the window; a face that shows the time converts it.
        m_state.frameTime = QDateTime::fromMSecsSinceEpoch(next->stamp, Qt::UTC);
        emit frame(m_state.frameTime, next->readings);
    }
}

void SupplyLink::onTick()
{
    const int wasLost = m_watchdog.LinkLost;
    m_watchdog.tick();
    if (m_watchdog.LinkLost && !wasLost) {
        m_state.linkAlive = false;
        m_state.linkSince = QDateTime::currentDateTime();
        emit linkLost();
    }
}

void SupplyLink::onOpened()
{
    // Silence is counted from the opening; a link lost before a loss of the
    // device stays lost until bytes arrive, so that its return is told too.
    m_watchdog.SilenceCount = 0;
    m_tick.start();
    setDevicePresent(true);
    if (!m_watchdog.LinkLost && !m_state.linkAlive) {
        m_state.linkAlive = true;
        m_state.linkSince = m_state.deviceSince;
    }
    emit opened(device());
}

void SupplyLink::onOpenFailed(const QString &device, const QString &reason)
{
    setDevicePresent(false);
    emit openFailed(device, reason);
    if (m_reconnect && m_wanted)
        m_retry.start();
}

void SupplyLink::onDeviceLost(const QString &device, const QString &reason)
{
    // Nothing before the gap may join what comes after it.
    m_stream = korvale::StatusStream();
    // Silence while the device is away is no news of its own.
    m_tick.stop();
    m_sendTurn.stop();
    m_waiting.clear();
    setDevicePresent(false);
    emit deviceLost(device, reason);
    if (m_reconnect && m_wanted)
        m_retry.start();
}

void SupplyLink::setDevicePresent(bool present)
{
    if (m_state.devicePresent == present)
        return;
    m_state.devicePresent = present;
    m_state.deviceSince = QDateTime::currentDateTime();
}
