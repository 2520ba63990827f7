// SPDX-License-Identifier: MIT
#pragma once

#include "logformat/recordwriter.h"

#include <QObject>
#include <QString>

class Metrics;
class SupplyLink;

// Writes what a supply link tells to a log and to the metrics: every frame,
// and, as events, the silences and the device's losses and returns. Tells
// the operator of each in one line, and of a failed write, once.
class LinkLogger : public QObject
{
    Q_OBJECT
public:
    // `writer` and `metrics` may be null: without a writer nothing is
    // logged, but the metrics and the notices still follow the link.
    LinkLogger(SupplyLink &link, RecordWriter *writer, Metrics *metrics, QObject *parent = nullptr);

    // Nothing is logged or told from here on.
    void stop() { m_stopped = true; }

signals:
    // One line for the operator.
    void notice(const QString &message);
    void frameLogged();
    // The log could not be written, or the device went away with no
    // reconnection asked for: the run is over, with this exit status.
    void ended(int status);

private:
    void onFrame(const QDateTime &time, const korvale::StatusReadings &readings);
    void onLinkLost();
    void onLinkBack();
    void onOpened(const QString &device);
    void onOpenFailed(const QString &device, const QString &reason);
    void onDeviceLost(const QString &device, const QString &reason);
    void lose(const QString &message, const QString &reason);
    void event(LogEvent event, const QString &reason = {});
    void writeFailed();

    SupplyLink &m_link;
    RecordWriter *m_writer;
    Metrics *m_metrics;
    // The device is away, and the last reason told for not opening it.
    bool m_away = false;
    QString m_reasonTold;
    bool m_stopped = false;
};
