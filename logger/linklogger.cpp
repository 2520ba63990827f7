// SPDX-License-Identifier: MIT
#include "logger/linklogger.h"

#include "link/supplylink.h"
#include "logger/metrics.h"

#include <cerrno>
#include <cstring>

LinkLogger::LinkLogger(SupplyLink &link, RecordWriter *writer, Metrics *metrics, QObject *parent)
    : QObject(parent), m_link(link), m_writer(writer), m_metrics(metrics)
{
    connect(&link, &SupplyLink::frame, this, &LinkLogger::onFrame);
    connect(&link, &SupplyLink::linkLost, this, &LinkLogger::onLinkLost);
    connect(&link, &SupplyLink::linkBack, this, &LinkLogger::onLinkBack);
    connect(&link, &SupplyLink::opened, this, &LinkLogger::onOpened);
    connect(&link, &SupplyLink::openFailed, this, &LinkLogger::onOpenFailed);
    connect(&link, &SupplyLink::deviceLost, this, &LinkLogger::onDeviceLost);
}

void LinkLogger::onFrame(const QDateTime &time, const korvale::StatusReadings &readings)
{
    if (m_stopped)
        return;
    if (m_writer && !m_writer->frame(time, readings))
        return writeFailed();
    if (m_metrics)
        m_metrics->frame(time, readings);
    emit frameLogged();
}

void LinkLogger::onLinkLost()
{
    if (m_stopped)
        return;
    emit notice(QStringLiteral("nothing heard from the supply for more than %1 s")
                    .arg(double(korvale::LinkWatchdog::kSilentTicksAllowed *
                                korvale::LinkWatchdog::kTickMs) /
                         1000));
    if (m_metrics)
        m_metrics->down();
    event(LogEvent::LinkLost);
}

void LinkLogger::onLinkBack()
{
    if (m_stopped)
        return;
    emit notice(QStringLiteral("the supply is heard again"));
    event(LogEvent::LinkBack);
}

void LinkLogger::onOpened(const QString &device)
{
    if (m_stopped || !m_away)
        return;
    m_away = false;
    m_reasonTold.clear();
    emit notice(QStringLiteral("%1 is back.").arg(m_link.label(device)));
    event(LogEvent::DeviceBack);
}

void LinkLogger::onOpenFailed(const QString &device, const QString &reason)
{
    if (m_stopped)
        return;
    if (!m_away)
        return lose(QStringLiteral("%1 could not be opened").arg(m_link.label(device)), reason);
    // Said once, not every second; only a new reason is news.
    if (reason != m_reasonTold) {
        emit notice(
            QStringLiteral("%1 still cannot be opened: %2.").arg(m_link.label(device), reason));
        m_reasonTold = reason;
    }
}

void LinkLogger::onDeviceLost(const QString &device, const QString &reason)
{
    if (m_stopped)
        return;
    lose(m_link.label(device), reason);
}

void LinkLogger::lose(const QString &message, const QString &reason)
{
    if (!m_link.reconnects()) {
        emit notice(QStringLiteral("%1: %2.").arg(message, reason));
        emit ended(1);
        return;
    }
    m_away = true;
    m_reasonTold = reason;
    if (m_metrics)
        m_metrics->down();
    emit notice(QStringLiteral("%1: %2; trying again every second.").arg(message, reason));
    event(LogEvent::DeviceLost, reason);
}

void LinkLogger::event(LogEvent event, const QString &reason)
{
    if (m_writer && !m_writer->event(QDateTime::currentDateTime(), event, reason))
        writeFailed();
}

void LinkLogger::writeFailed()
{
    if (m_stopped)
        return;
    emit notice(QStringLiteral("cannot write the log: %1")
                    .arg(QString::fromLocal8Bit(std::strerror(errno))));
    emit ended(1);
}
