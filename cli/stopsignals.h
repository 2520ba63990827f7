// SPDX-License-Identifier: MIT
#pragma once

#include <QObject>

class QSocketNotifier;

// SIGINT and SIGTERM, turned into a signal on the event loop so that a run
// stopped by Ctrl+C or kill closes the port and ends cleanly.
class StopSignals : public QObject
{
    Q_OBJECT
public:
    explicit StopSignals(QObject *parent = nullptr);

signals:
    void stopRequested();

private:
    QSocketNotifier *m_notifier = nullptr;
};
