// SPDX-License-Identifier: MIT
#pragma once

#include "scpi/session.h"

#include <QHostAddress>
#include <QObject>
#include <QTcpServer>

#include <memory>
#include <vector>

class QTcpSocket;
class SupplyLink;

// SCPI over raw TCP (a VISA "SOCKET" resource): one session of the language
// per connection, all on the one instrument. A connection that misbehaves
// (a line over the bound, a flood while a job runs, answers never read) is
// closed alone; the others, and whatever else runs on the event loop, go on.
class ScpiServer : public QObject
{
    Q_OBJECT
public:
    // Every session is told of `link`'s frames, silences and returns, so
    // that their status registers latch what changed.
    ScpiServer(korvale::scpi::Instrument &instrument, SupplyLink &link,
               korvale::scpi::SessionConfig config, QObject *parent = nullptr);
    ~ScpiServer() override;

    // The port it listens on (the one the system chose for port 0), or 0
    // with the reason.
    quint16 listen(const QHostAddress &address, quint16 port, QString *why);
    int connections() const { return int(m_connections.size()); }

    // Connections at once; beyond, a new one is closed as it comes.
    static constexpr int kMaxConnections = 64;
    // Answers a client may leave unread before it is dropped.
    static constexpr qint64 kMaxUnsentBytes = 1024 * 1024;
    // What is taken from the system at a time: the session bounds the rest.
    static constexpr qint64 kReadChunk = 64 * 1024;

private:
    struct Connection;

    void accept();
    void onReadyRead(Connection &connection);
    void flush(Connection &connection);
    void drop(Connection &connection);
    void supplyChanged();

    korvale::scpi::Instrument &m_instrument;
    korvale::scpi::SessionConfig m_config;
    QTcpServer m_server;
    std::vector<std::unique_ptr<Connection>> m_connections;
};
