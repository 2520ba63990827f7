// SPDX-License-Identifier: MIT
#include "cli/watcher.h"

#include "cli/metrics.h"
#include "cli/portopening.h"
#include "serial/networkdevice.h"
#include "serial/serialchannel.h"

#include <QCoreApplication>
#include <QDateTime>

#include <cerrno>
#include <cstring>

Watcher::Watcher(SerialChannel &channel, const Invocation &invocation, RecordWriter &writer,
                 Metrics *metrics)
    : m_channel(channel), m_invocation(invocation), m_writer(writer), m_metrics(metrics)
{
    m_tick.setInterval(korvale::LinkWatchdog::kTickMs);
    connect(&m_tick, &QTimer::timeout, this, &Watcher::onTick);
    // The channel's own quiet time: long enough that a byte of the same
    // burst would have arrived.
    m_quiet.setSingleShot(true);
    m_quiet.setInterval(SerialChannel::kFragmentQuietMs);
    connect(&m_quiet, &QTimer::timeout, this, &Watcher::onQuiet);
    m_duration.setSingleShot(true);
    connect(&m_duration, &QTimer::timeout, this, [this] { finish(0); });
    m_retry.setSingleShot(true);
    m_retry.setInterval(kRetryMs);
    connect(&m_retry, &QTimer::timeout, this, &Watcher::retry);

    connect(&m_channel, &SerialChannel::OnComm, this, &Watcher::onComm);
    connect(&m_channel, &SerialChannel::deviceLost, this,
            [this](int, const QString &device, const QString &) { onDeviceLost(device); });
    if (m_invocation.watch.reconnect) {
        connect(&m_channel, &SerialChannel::openFailed, this,
                [this](int, const QString &device, const QString &reason) {
                    onOpenFailed(device, reason);
                });
        // A network device is back only once connected, which may come later.
        connect(&m_channel, &SerialChannel::opened, this, &Watcher::onOpened);
    }
}

bool Watcher::start()
{
    if (m_invocation.watch.header && !m_writer.header())
        return false;
    m_watchdog.reset();
    m_tick.start();
    if (m_invocation.watch.durationMs)
        m_duration.start(std::chrono::milliseconds(*m_invocation.watch.durationMs));
    if (m_invocation.watch.reconnect)
        m_channel.setPortOpen(true);
    return true;
}

void Watcher::onComm()
{
    take(m_channel.Input());
}

void Watcher::onQuiet()
{
    // Bytes that came in since the last block mean the line was not quiet.
    // The poll may itself raise OnComm and so take a block.
    const qint64 taken = m_takes;
    m_channel.pollLine();
    const QByteArray late = m_channel.Input();
    if (!late.isEmpty())
        return take(late);
    if (m_takes != taken)
        return;
    m_stream.lineQuiet();
    printFrames();
}

void Watcher::take(const QByteArray &block)
{
    if (m_finished)
        return;
    // Bytes taken between notifications count as serial events too, or a
    // steady trickle taken early would look like silence.
    if (m_watchdog.LinkLost) {
        tell(QStringLiteral("the supply is heard again"));
        if (!m_writer.event(QDateTime::currentDateTime(), LogEvent::LinkBack))
            return writeFailed();
    }
    m_watchdog.reset();
    ++m_takes;
    m_stream.feed(std::span(reinterpret_cast<const std::uint8_t *>(block.constData()),
                            std::size_t(block.size())),
                  QDateTime::currentMSecsSinceEpoch());
    m_quiet.start();
    printFrames();
}

void Watcher::printFrames()
{
    while (!m_finished) {
        const auto frame = m_stream.next();
        if (!frame)
            return;
        const QDateTime time = QDateTime::fromMSecsSinceEpoch(frame->stamp);
        if (!m_writer.frame(time, frame->readings))
            return writeFailed();
        if (m_metrics)
            m_metrics->frame(time, frame->readings);
        if (m_invocation.watch.count && ++m_printed >= *m_invocation.watch.count)
            return finish(0);
    }
}

void Watcher::onTick()
{
    const int wasLost = m_watchdog.LinkLost;
    m_watchdog.tick();
    if (m_watchdog.LinkLost && !wasLost) {
        tell(QStringLiteral("nothing heard from the supply for more than %1 s")
                 .arg(double(korvale::LinkWatchdog::kSilentTicksAllowed *
                             korvale::LinkWatchdog::kTickMs) /
                      1000));
        if (m_metrics)
            m_metrics->down();
        event(LogEvent::LinkLost);
    }
}

void Watcher::onDeviceLost(const QString &device)
{
    const QString reason = SerialChannel::lossReason(isNetworkDevice(device));
    if (!m_invocation.watch.reconnect) {
        tell(QStringLiteral("%1: %2.").arg(portName(m_invocation, device), reason));
        return finish(1);
    }
    // The line fell silent with the loss: a frame that had ended is whole.
    // Nothing before the gap may join what comes after it.
    m_quiet.stop();
    m_stream.lineQuiet();
    printFrames();
    m_stream = korvale::StatusStream();
    lose(portName(m_invocation, device), reason);
}

void Watcher::onOpenFailed(const QString &device, const QString &reason)
{
    if (!m_away)
        return lose(QStringLiteral("%1 could not be opened").arg(portName(m_invocation, device)),
                    reason);
    // Said once, not every second; only a new reason is news.
    if (reason != m_reasonTold) {
        tell(QStringLiteral("%1 still cannot be opened: %2.")
                 .arg(portName(m_invocation, device), reason));
        m_reasonTold = reason;
    }
    m_retry.start();
}

void Watcher::lose(const QString &message, const QString &reason)
{
    if (m_finished)
        return;
    m_away = true;
    m_reasonTold = reason;
    // Silence while the device is away is no news of its own.
    m_tick.stop();
    if (m_metrics)
        m_metrics->down();
    tell(QStringLiteral("%1: %2; trying again every second.").arg(message, reason));
    event(LogEvent::DeviceLost, reason);
    m_retry.start();
}

void Watcher::retry()
{
    if (m_finished)
        return;
    m_channel.setPortOpen(true); // onOpened or onOpenFailed follows
}

void Watcher::onOpened()
{
    if (!m_away)
        return;
    m_away = false;
    m_reasonTold.clear();
    tell(QStringLiteral("%1 is back.").arg(portName(m_invocation, chosenDevice(m_invocation))));
    event(LogEvent::DeviceBack);
    // Silence is counted from the return; a link lost before the loss stays
    // lost until bytes arrive, so that its return is logged too.
    m_watchdog.SilenceCount = 0;
    m_tick.start();
}

void Watcher::event(LogEvent what, const QString &reason)
{
    if (!m_writer.event(QDateTime::currentDateTime(), what, reason))
        writeFailed();
}

void Watcher::writeFailed()
{
    tell(QStringLiteral("cannot write the log: %1")
             .arg(QString::fromLocal8Bit(std::strerror(errno))));
    finish(1);
}

void Watcher::finish(int status)
{
    if (m_finished)
        return;
    m_finished = true;
    m_tick.stop();
    m_quiet.stop();
    m_duration.stop();
    m_retry.stop();
    QCoreApplication::exit(status);
}
