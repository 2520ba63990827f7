// SPDX-License-Identifier: MIT
#pragma once

#include "cli/invocation.h"
#include "logformat/recordwriter.h"
#include "protocol/linkwatchdog.h"
#include "protocol/statusstream.h"

#include <QObject>
#include <QTimer>

class Metrics;
class SerialChannel;

// watch: frames from the open channel to the writer, with the link watchdog
// of the panel telling of silences. Ends the event loop with the exit status.
// With --reconnect a device that went away, or could not be opened at the
// start, is tried again every second, for as long as the run lasts.
class Watcher : public QObject
{
    Q_OBJECT
public:
    static constexpr int kRetryMs = 1000;

    // `metrics` may be null.
    Watcher(SerialChannel &channel, const Invocation &invocation, RecordWriter &writer,
            Metrics *metrics);

    // False if even the header could not be written. Opens the channel itself
    // when it reconnects.
    bool start();

private:
    void onComm();
    void onQuiet();
    void onTick();
    void onDeviceLost(const QString &device);
    void onOpenFailed(const QString &device, const QString &reason);
    void lose(const QString &message, const QString &reason);
    void retry();
    void onOpened();
    void event(LogEvent what, const QString &reason = {});
    void take(const QByteArray &block);
    void printFrames();
    void writeFailed();
    void finish(int status);

    SerialChannel &m_channel;
    const Invocation &m_invocation;
    RecordWriter &m_writer;
    Metrics *m_metrics;
    korvale::StatusStream m_stream;
    korvale::LinkWatchdog m_watchdog;
    QTimer m_tick;
    QTimer m_quiet;
    QTimer m_duration;
    QTimer m_retry;
    // The device is away, and the last reason told for not opening it.
    bool m_away = false;
    QString m_reasonTold;
    qint64 m_printed = 0;
    qint64 m_takes = 0;
    bool m_finished = false;
};
