// SPDX-License-Identifier: MIT
#pragma once

#include "protocol/statusframe.h"

#include <QDateTime>
#include <QHttpServer>

#include <memory>
#include <optional>

// /metrics in Prometheus' text format: the frame the log wrote last, how many
// it wrote, and whether frames still arrive. Served from the watcher's own
// thread, so a scrape always agrees with the log up to its last line.
class Metrics
{
public:
    // `device` names the line in every series, so that the loggers of
    // several supplies on one computer can be told apart; `port` (1 or 2)
    // is added when the device came from the port map, else 0.
    Metrics(const QString &device, int port);

    // Serves /metrics on a server of its own: the port it listens on (the
    // one the system chose for port 0), or 0 with the reason when the
    // address cannot be listened on.
    quint16 listen(const QString &host, quint16 port, QString *why);
    // Serves /metrics on a server the caller owns, beside its other pages.
    void serveOn(QHttpServer &server) const;

    void frame(const QDateTime &time, const korvale::StatusReadings &readings);
    // Silence or a lost device: the readings are left out until a new frame,
    // so that no dashboard shows an old one as current.
    void down() { m_up = false; }

    QByteArray text() const;

private:
    std::unique_ptr<QHttpServer> m_server;
    QByteArray m_labels;
    bool m_up = false;
    qint64 m_frames = 0;
    std::optional<korvale::StatusReadings> m_last;
    QDateTime m_lastTime;
};
