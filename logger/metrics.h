// SPDX-License-Identifier: MIT
#pragma once

#include "protocol/statusframe.h"

#include <QDateTime>
#include <QHttpServer>
#include <QObject>

#include <memory>
#include <optional>

class SupplyLink;

// /metrics in Prometheus' text format, following a supply link: its last
// frame, how many it gave, and whether frames still arrive. Served from the
// link's own thread, so a scrape always agrees with a log written from the
// same link up to its last line.
class Metrics : public QObject
{
public:
    // `device` names the line in every series, so that the loggers of
    // several supplies on one computer can be told apart; `port` (1 or 2)
    // is added when the device came from the port map, else 0.
    Metrics(SupplyLink &link, const QString &device, int port, QObject *parent = nullptr);

    // Serves /metrics on a server of its own: the port it listens on (the
    // one the system chose for port 0), or 0 with the reason when the
    // address cannot be listened on.
    quint16 listen(const QString &host, quint16 port, QString *why);
    // Serves /metrics on a server the caller owns, beside its other pages.
    void serveOn(QHttpServer &server) const;

    QByteArray text() const;

private:
    void frame(const QDateTime &time, const korvale::StatusReadings &readings);
    // Silence or a lost device: the readings are left out until a new frame,
    // so that no dashboard shows an old one as current.
    void down() { m_up = false; }

    std::unique_ptr<QHttpServer> m_server;
    QByteArray m_labels;
    bool m_up = false;
    qint64 m_frames = 0;
    std::optional<korvale::StatusReadings> m_last;
    QDateTime m_lastTime;
};
