// SPDX-License-Identifier: MIT
#pragma once

#include <QByteArray>
#include <QElapsedTimer>
#include <QHostAddress>
#include <QHttpServer>
#include <QObject>

#include <memory>
#include <vector>

class PanelState;
class QWebSocket;
class SupplyLink;

// The web panel's server: the page's files, and the live channel on /live,
// a WebSocket per page that gets the panel's state as it changes and sends
// the keys pressed on the page. Other routes (such as /metrics) may be added
// on `http()` by the caller.
class LiveServer : public QObject
{
    Q_OBJECT
public:
    // A socket may send this many keys at once, then one per refill: the
    // line itself takes one frame per 33 ms.
    static constexpr int kKeyBurst = 8;
    static constexpr qint64 kKeyRefillMs = 33;
    // A page that reads no more is dropped before it holds more than this.
    static constexpr qint64 kMaxUnsentBytes = 256 * 1024;
    static constexpr int kMaxSockets = 256;

    // `token` lets a page press keys; without it a page only watches.
    LiveServer(SupplyLink &link, PanelState &panel, const QByteArray &token,
               QObject *parent = nullptr);
    ~LiveServer() override;

    QHttpServer &http() { return m_http; }
    // The port it listens on (the one the system chose for port 0), or 0
    // with the reason.
    quint16 listen(const QHostAddress &address, quint16 port, QString *why);

private:
    struct Client;

    void accept();
    void admit(QWebSocket *socket);
    void onText(Client &client, const QString &text);
    void reply(Client &client, quint32 id, bool sent, const QString &why = {});
    void send(Client &client, const QByteArray &message);
    void drop(Client &client);
    void forget(QWebSocket *socket);

    QHttpServer m_http;
    SupplyLink &m_link;
    PanelState &m_panel;
    QByteArray m_token;
    std::vector<std::unique_ptr<Client>> m_clients;
};
