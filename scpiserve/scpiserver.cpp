// SPDX-License-Identifier: MIT
#include "scpiserve/scpiserver.h"

#include "link/supplylink.h"

#include <QTcpSocket>

#include <algorithm>
#include <string_view>

using korvale::scpi::Session;

struct ScpiServer::Connection
{
    QTcpSocket *socket = nullptr;
    std::unique_ptr<Session> session;
    // Dropped, and gone at the next turn of the event loop: a session may
    // be inside its own callback when it is dropped.
    bool closing = false;

    ~Connection()
    {
        // The session first: it cancels its job while the socket is still
        // there to be ignored.
        session.reset();
        socket->disconnect();
        socket->abort();
        delete socket;
    }
};

ScpiServer::ScpiServer(korvale::scpi::Instrument &instrument, SupplyLink &link,
                       korvale::scpi::SessionConfig config, QObject *parent)
    : QObject(parent), m_instrument(instrument), m_config(std::move(config))
{
    connect(&m_server, &QTcpServer::newConnection, this, &ScpiServer::accept);
    connect(&link, &SupplyLink::frame, this, &ScpiServer::supplyChanged);
    connect(&link, &SupplyLink::linkLost, this, &ScpiServer::supplyChanged);
    connect(&link, &SupplyLink::linkBack, this, &ScpiServer::supplyChanged);
}

ScpiServer::~ScpiServer() = default;

quint16 ScpiServer::listen(const QHostAddress &address, quint16 port, QString *why)
{
    if (m_server.listen(address, port))
        return m_server.serverPort();
    *why = QStringLiteral("cannot serve SCPI on %1 port %2 (%3)")
               .arg(address.toString())
               .arg(port)
               .arg(m_server.errorString());
    return 0;
}

void ScpiServer::accept()
{
    while (QTcpSocket *socket = m_server.nextPendingConnection()) {
        if (m_connections.size() >= std::size_t(kMaxConnections)) {
            socket->abort();
            socket->deleteLater();
            continue;
        }
        // A query's answer goes out at once, not when Nagle lets it.
        socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
        socket->setReadBufferSize(kReadChunk);
        auto connection = std::make_unique<Connection>();
        connection->socket = socket;
        connection->session = std::make_unique<Session>(m_instrument, m_config);
        Connection &admitted = *connection;
        m_connections.push_back(std::move(connection));
        admitted.session->outputReady = [this, &admitted] { flush(admitted); };
        connect(socket, &QTcpSocket::readyRead, this, [this, &admitted] { onReadyRead(admitted); });
        // Gone mid-query: the session cancels what it waits for.
        connect(socket, &QTcpSocket::disconnected, this, [this, &admitted] { drop(admitted); });
    }
}

void ScpiServer::onReadyRead(Connection &connection)
{
    while (!connection.closing && connection.socket->bytesAvailable() > 0) {
        const QByteArray bytes = connection.socket->read(kReadChunk);
        if (!connection.session->receive(std::string_view(bytes.constData(), bytes.size()))) {
            drop(connection);
            return;
        }
    }
    flush(connection);
}

void ScpiServer::flush(Connection &connection)
{
    if (connection.closing || connection.session->outputSize() == 0)
        return;
    const std::string output = connection.session->takeOutput();
    connection.socket->write(output.data(), qint64(output.size()));
    // Handed to the system now: the answer leaves without a turn of the
    // event loop, and a client that shut its side after its last query
    // still gets it (the socket is closed once that end is read).
    connection.socket->flush();
    // A client that never reads would hold ever more memory here.
    if (connection.socket->bytesToWrite() > kMaxUnsentBytes)
        drop(connection);
}

void ScpiServer::drop(Connection &connection)
{
    if (connection.closing)
        return;
    connection.closing = true;
    connection.socket->disconnect(this);
    connection.socket->abort();
    QMetaObject::invokeMethod(
        this, [this] { std::erase_if(m_connections, [](const auto &c) { return c->closing; }); },
        Qt::QueuedConnection);
}

void ScpiServer::supplyChanged()
{
    for (const auto &connection : m_connections) {
        if (!connection->closing)
            connection->session->supplyChanged();
    }
}
