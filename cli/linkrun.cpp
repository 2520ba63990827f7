// SPDX-License-Identifier: MIT
#include "cli/linkrun.h"

#include "cli/invocation.h"
#include "cli/portopening.h"
#include "serial/serialchannel.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QFile>

#include <cerrno>
#include <cstring>

namespace {

// The metrics are labelled before the link is aimed: the device it will open.
QString chosenDevice(const Invocation &invocation)
{
    return invocation.device.isEmpty() ? SerialChannel::devicePath(invocation.port)
                                       : invocation.device;
}

} // namespace

LinkRun::LinkRun(const Invocation &invocation, bool reconnect)
    : m_metrics(m_link, chosenDevice(invocation), invocation.device.isEmpty() ? invocation.port : 0)
{
    m_link.setTarget(invocation.port, invocation.device);
    m_link.setReconnect(reconnect);
    connect(&m_link, &SupplyLink::settingsIgnored, &tellSettingsIgnored);
    connect(&m_stop, &StopSignals::stopRequested, this, [this] { finish(0); });
}

bool LinkRun::openNow()
{
    QEventLoop waiting;
    connect(&m_link, &SupplyLink::opened, &waiting, &QEventLoop::quit);
    const auto told = connect(&m_link, &SupplyLink::openFailed, this, &LinkRun::onOpenFailed);
    connect(&m_link, &SupplyLink::openFailed, &waiting, &QEventLoop::quit);
    m_link.open();
    // A network device connects in the background and ends either way
    // within the channel's own time limit.
    if (!m_link.state().devicePresent && !m_stopped)
        waiting.exec();
    disconnect(told);
    return m_link.state().devicePresent && !m_stopped;
}

bool LinkRun::openLog(const WatchOptions &options)
{
    std::FILE *out = stdout;
    bool header = options.header;
    if (!options.output.isEmpty()) {
        out = std::fopen(QFile::encodeName(options.output).constData(), "a");
        if (!out) {
            tell(QStringLiteral("cannot open the log %1: %2")
                     .arg(options.output, QString::fromLocal8Bit(std::strerror(errno))));
            return false;
        }
        m_file.reset(out);
        if (std::fseek(out, 0, SEEK_END) == 0 && std::ftell(out) > 0)
            header = false;
    }
    m_writer.emplace(options.format, out);
    if (!header || m_writer->header())
        return true;
    tell(QStringLiteral("cannot write the log"));
    return false;
}

int LinkRun::exec()
{
    connect(&m_link, &SupplyLink::frame, this, &LinkRun::onFrame);
    connect(&m_link, &SupplyLink::linkLost, this, &LinkRun::onLinkLost);
    connect(&m_link, &SupplyLink::linkBack, this, &LinkRun::onLinkBack);
    connect(&m_link, &SupplyLink::opened, this, &LinkRun::onOpened);
    connect(&m_link, &SupplyLink::openFailed, this, &LinkRun::onOpenFailed);
    connect(&m_link, &SupplyLink::deviceLost, this, &LinkRun::onDeviceLost);
    if (!m_stopped && m_link.reconnects())
        m_link.open();
    // Opening may have ended the run already (a log that cannot take the
    // first event), before there is a loop to leave.
    return m_stopped ? m_status : QCoreApplication::exec();
}

void LinkRun::finish(int status)
{
    if (m_stopped)
        return;
    m_stopped = true;
    m_status = status;
    QCoreApplication::exit(status);
}

void LinkRun::onFrame(const QDateTime &time, const korvale::StatusReadings &readings)
{
    if (m_stopped)
        return;
    if (m_writer && !m_writer->frame(time, readings))
        return writeFailed();
    emit frameLogged();
}

void LinkRun::onLinkLost()
{
    if (m_stopped)
        return;
    tell(QStringLiteral("nothing heard from the supply for more than %1 s")
             .arg(double(korvale::LinkWatchdog::kSilentTicksAllowed *
                         korvale::LinkWatchdog::kTickMs) /
                  1000));
    event(LogEvent::LinkLost);
}

void LinkRun::onLinkBack()
{
    if (m_stopped)
        return;
    tell(QStringLiteral("the supply is heard again"));
    event(LogEvent::LinkBack);
}

void LinkRun::onOpened(const QString &device)
{
    if (m_stopped || !m_away)
        return;
    m_away = false;
    m_reasonTold.clear();
    tell(QStringLiteral("%1 is back.").arg(m_link.label(device)));
    event(LogEvent::DeviceBack);
}

void LinkRun::onOpenFailed(const QString &device, const QString &reason)
{
    if (m_stopped)
        return;
    if (!m_away)
        return lose(QStringLiteral("%1 could not be opened").arg(m_link.label(device)), reason);
    // Said once, not every second; only a new reason is news.
    if (reason != m_reasonTold) {
        tell(QStringLiteral("%1 still cannot be opened: %2.").arg(m_link.label(device), reason));
        m_reasonTold = reason;
    }
}

void LinkRun::onDeviceLost(const QString &device, const QString &reason)
{
    if (m_stopped)
        return;
    lose(m_link.label(device), reason);
}

void LinkRun::lose(const QString &message, const QString &reason)
{
    if (!m_link.reconnects()) {
        tell(QStringLiteral("%1: %2.").arg(message, reason));
        return finish(1);
    }
    m_away = true;
    m_reasonTold = reason;
    tell(QStringLiteral("%1: %2; trying again every second.").arg(message, reason));
    event(LogEvent::DeviceLost, reason);
}

void LinkRun::event(LogEvent event, const QString &reason)
{
    if (m_writer && !m_writer->event(QDateTime::currentDateTime(), event, reason))
        writeFailed();
}

void LinkRun::writeFailed()
{
    if (m_stopped)
        return;
    tell(QStringLiteral("cannot write the log: %1")
             .arg(QString::fromLocal8Bit(std::strerror(errno))));
    finish(1);
}
