// SPDX-License-Identifier: MIT
#include "cli/watcher.h"

#include "cli/portopening.h"
#include "serial/networkdevice.h"
#include "serial/serialchannel.h"

#include <QCoreApplication>
#include <QDateTime>

#include <cerrno>
#include <cstring>

Watcher::Watcher(SerialChannel &channel, const Invocation &invocation, RecordWriter &writer)
    : m_channel(channel), m_invocation(invocation), m_writer(writer)
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

    connect(&m_channel, &SerialChannel::OnComm, this, &Watcher::onComm);
    connect(&m_channel, &SerialChannel::deviceLost, this,
            [this](int, const QString &device, const QString &) { onDeviceLost(device); });
}

bool Watcher::start()
{
    if (m_invocation.watch.header && !m_writer.header())
        return false;
    m_watchdog.reset();
    m_tick.start();
    if (m_invocation.watch.durationMs)
        m_duration.start(std::chrono::milliseconds(*m_invocation.watch.durationMs));
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
        if (!m_writer.event(QDateTime::currentDateTime(), "link-back"))
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
        if (!m_writer.frame(QDateTime::fromMSecsSinceEpoch(frame->stamp), frame->readings))
            return writeFailed();
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
        if (!m_writer.event(QDateTime::currentDateTime(), "link-lost"))
            writeFailed();
    }
}

void Watcher::onDeviceLost(const QString &device)
{
    tell((isNetworkDevice(device)
              ? QStringLiteral("the connection to %1 ended (the far end closed it or restarted, "
                               "or another client took the line).")
              : QStringLiteral("%1 went away (unplugged, switched off or its other end closed)."))
             .arg(portName(m_invocation, device)));
    finish(1);
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
    QCoreApplication::exit(status);
}
