// SPDX-License-Identifier: MIT
#pragma once

#include "panelmodel/panelmodel.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QHostAddress>
#include <QHttpServer>
#include <QHttpServerResponder>
#include <QObject>

#include <memory>
#include <vector>

class QWebSocket;
class SupplyLink;

// The web panel's server: the page's files, and on /live a WebSocket per
// page carrying the panel's model out, as the "panel" message, and the
// page's keys in, through the model's keypad. The caller may
// add routes (such as /metrics) on `http()`.
class LiveServer : public QObject
{
    Q_OBJECT
public:
    // `token` lets a page press keys; without it a page only watches. A
    // program gives it in the live channel's address (`/live?token=`), a
    // browser in the cookie it got with the page opened at `/?token=`.
    LiveServer(SupplyLink &link, PanelModel &panel, const QByteArray &token,
               QObject *parent = nullptr);
    ~LiveServer() override;

    QHttpServer &http() { return m_http; }
    // The port it listens on (the one the system chose for port 0), or 0
    // with the reason.
    quint16 listen(const QHostAddress &address, quint16 port, QString *why);

    // Keys a socket may send at once, then one per refill (the line takes
    // one frame per 33 ms); the unsent bytes a page may leave before it is
    // dropped; pages at once.
    static constexpr int kKeyBurst = 8;
    static constexpr qint64 kKeyRefillMs = 33;
    static constexpr qint64 kMaxUnsentBytes = 256 * 1024;
    static constexpr int kMaxSockets = 256;

private:
    struct Client;

    void serveAsset(const QHttpServerRequest &request, QHttpServerResponder &responder);
    void accept();
    void admit(QWebSocket *socket);
    void onText(Client &client, const QString &text);
    void reply(Client &client, quint32 id, bool sent, const QString &why = {});
    void send(Client &client, const QByteArray &message);
    void drop(Client &client);
    void forget(QWebSocket *socket);

    QHttpServer m_http;
    SupplyLink &m_link;
    PanelModel &m_panel;
    QByteArray m_token;
    // The cookie that keeps the key for a page: named by the port.
    QByteArray m_cookieName = "korvale-key";
    // The last "panel" message, which a page gets when it opens.
    QByteArray m_message;
    std::vector<std::unique_ptr<Client>> m_clients;
};
