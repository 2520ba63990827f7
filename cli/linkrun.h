// SPDX-License-Identifier: MIT
#pragma once

#include "cli/stopsignals.h"
#include "link/supplylink.h"
#include "logformat/recordwriter.h"
#include "logger/metrics.h"

#include <QObject>

#include <cstdio>
#include <memory>
#include <optional>

struct Invocation;
struct WatchOptions;

// What watch and serve share, so that the two cannot drift apart: the link
// to the invocation's target with the metrics that follow it, the log, the
// operator's notices on standard error, and the run's end.
class LinkRun : public QObject
{
    Q_OBJECT
public:
    // With `reconnect` a lost device, or one that cannot be opened, is
    // tried again every second for as long as the run lasts.
    LinkRun(const Invocation &invocation, bool reconnect);

    SupplyLink &link() { return m_link; }
    Metrics &metrics() { return m_metrics; }

    // Opens the device and waits for it, so that a run without reconnection
    // ends before anything is written: false, said on standard error, when
    // it cannot be opened or a stop came first; status() tells which.
    bool openNow();
    // The log: appended to the file of `options`, or standard output without
    // one; a file that already holds lines gets no second header. False,
    // said on standard error, when it cannot be opened or begun.
    bool openLog(const WatchOptions &options);

    // Logs the link's frames and events, and tells the operator of its
    // silences and losses, until the run ends: at SIGINT or SIGTERM (status
    // 0), at finish(), or with status 1 when the log cannot be written or
    // the device is lost without reconnection. With reconnection it opens
    // the device; without, openNow() must have. The exit status.
    int exec();
    // Nothing is logged or told from here on; exec() returns `status`.
    void finish(int status);
    int status() const { return m_status; }

signals:
    void frameLogged();

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

    SupplyLink m_link;
    Metrics m_metrics;
    StopSignals m_stop;
    std::unique_ptr<std::FILE, int (*)(std::FILE *)> m_file{nullptr, &std::fclose}; // --output
    std::optional<RecordWriter> m_writer;
    // The device is away, and the last reason told for not opening it.
    bool m_away = false;
    QString m_reasonTold;
    bool m_stopped = false;
    int m_status = 0;
};
