// SPDX-License-Identifier: MIT
#pragma once

#include "cli/invocation.h"
#include "cli/recordwriter.h"
#include "protocol/linkwatchdog.h"
#include "protocol/statusstream.h"

#include <QObject>
#include <QTimer>

class SerialChannel;

// watch: frames from the open channel to the writer, with the link watchdog
// of the panel telling of silences. Ends the event loop with the exit status.
class Watcher : public QObject
{
    Q_OBJECT
public:
    Watcher(SerialChannel &channel, const Invocation &invocation, RecordWriter &writer);

    // False if even the header could not be written.
    bool start();

private:
    void onComm();
    void onQuiet();
    void onTick();
    void onDeviceLost(const QString &device);
    void take(const QByteArray &block);
    void printFrames();
    void writeFailed();
    void finish(int status);

    SerialChannel &m_channel;
    const Invocation &m_invocation;
    RecordWriter &m_writer;
    korvale::StatusStream m_stream;
    korvale::LinkWatchdog m_watchdog;
    QTimer m_tick;
    QTimer m_quiet;
    QTimer m_duration;
    qint64 m_printed = 0;
    qint64 m_takes = 0;
    bool m_finished = false;
};
