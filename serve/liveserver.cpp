// SPDX-License-Identifier: MIT
#include "serve/liveserver.h"

#include "link/supplylink.h"
#include "serve/livemessage.h"
#include "webpage/pageassets.h"

#include <QHttpServerResponder>
#include <QHttpServerRouterRule>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTimer>
#include <QUrlQuery>
#include <QWebSocket>

#include <algorithm>

namespace {

// A closed socket whose peer never answers the close is cut after this.
constexpr int kCloseGraceMs = 5000;

// Compared in time that depends only on the server's own token's length.
bool sameToken(const QByteArray &given, const QByteArray &token)
{
    if (token.isEmpty())
        return false;
    unsigned difference = unsigned(given.size() != token.size());
    for (qsizetype i = 0; i < token.size(); ++i)
        difference |= unsigned(quint8(i < given.size() ? given[i] : 0) ^ quint8(token[i]));
    return difference == 0;
}

// A browser names the page's origin; it must be this server as the browser
// reached it (the Host header), or another site is driving the supply.
// Clients that are no browser send no Origin.
bool ownOrigin(const QString &origin, const QByteArray &host)
{
    if (origin.isEmpty())
        return true;
    const QUrl page(origin);
    const QUrl reached(QStringLiteral("http://") + QString::fromLatin1(host));
    if (!page.isValid() || page.host().isEmpty() || !reached.isValid() || host.isEmpty())
        return false;
    const int defaultPort = page.scheme() == QLatin1String("https") ? 443 : 80;
    return page.host().compare(reached.host(), Qt::CaseInsensitive) == 0 &&
           page.port(defaultPort) == reached.port(defaultPort);
}

bool isUpgrade(const QHttpServerRequest &request)
{
    return request.value("upgrade").compare("websocket", Qt::CaseInsensitive) == 0;
}

// The live channel's route: a WebSocket handshake on /live from a page of
// this server or from no page at all. QHttpServer hands a handshake to its
// WebSocket server only when a route takes it; the others get the missing
// handler's answer, so a foreign page is refused with 403 before any
// WebSocket exists.
class LiveRule : public QHttpServerRouterRule
{
public:
    using QHttpServerRouterRule::QHttpServerRouterRule;

protected:
    bool matches(const QHttpServerRequest &request, QRegularExpressionMatch *match) const override
    {
        return isUpgrade(request) && QHttpServerRouterRule::matches(request, match) &&
               ownOrigin(QString::fromUtf8(request.value("origin")), request.value("host"));
    }
};

QByteArray tokenIn(const QUrl &url)
{
    return QUrlQuery(url).queryItemValue(QStringLiteral("token"), QUrl::FullyDecoded).toUtf8();
}

// The value of the cookie `name` in a Cookie header, percent-decoded; empty
// when there is none.
QByteArray cookie(const QByteArray &header, const QByteArray &name)
{
    for (const QByteArray &pair : header.split(';')) {
        const QByteArray trimmed = pair.trimmed();
        if (trimmed.startsWith(name + '='))
            return QByteArray::fromPercentEncoding(trimmed.mid(name.size() + 1));
    }
    return {};
}

void writeAsset(QHttpServerResponder &responder, const PageAsset &asset,
                QHttpServerResponder::StatusCode status, const QByteArray &setCookie = {})
{
    responder.writeStatusLine(status);
    responder.writeHeader("Content-Type", asset.mimeType);
    responder.writeHeader("X-Content-Type-Options", "nosniff");
    // The page loads nothing from elsewhere and may not be framed by another
    // site, which could lure a click onto a key.
    responder.writeHeader("Content-Security-Policy",
                          "default-src 'self'; style-src 'self' 'unsafe-inline'; "
                          "frame-ancestors 'none'");
    // The address the page was opened at may hold the key.
    responder.writeHeader("Referrer-Policy", "no-referrer");
    if (!setCookie.isEmpty())
        responder.writeHeader("Set-Cookie", setCookie);
    responder.writeHeader("Content-Length", QByteArray::number(asset.body.size()));
    responder.writeBody(asset.body);
}

// {"type":"panel","texts":[...],"hidden":[...],"line":"..."}: the page
// shows what the window shows, control by control.
QByteArray panelMessage(const PanelModel &panel)
{
    QJsonArray texts;
    for (int n = 1; n <= korvale::kReadingCount; ++n)
        texts.append(panel.text(n));
    QJsonArray hidden;
    for (int n = 7; n <= 16; ++n) {
        if (!panel.labelShown(n))
            hidden.append(QStringLiteral("Label%1").arg(n));
    }
    for (int n = 2; n <= 5; ++n) {
        if (!panel.imageShown(n))
            hidden.append(QStringLiteral("Image%1").arg(n));
    }
    return QJsonDocument(QJsonObject{{QStringLiteral("type"), QStringLiteral("panel")},
                                     {QStringLiteral("texts"), texts},
                                     {QStringLiteral("hidden"), hidden},
                                     {QStringLiteral("line"), panel.line()}})
        .toJson(QJsonDocument::Compact);
}

} // namespace

struct LiveServer::Client
{
    QWebSocket *socket = nullptr;
    bool control = false;
    // Why it may not press keys, when it may not.
    QString why;
    // The key bucket: whole keys left, refilled by the time since `filled`.
    int keys = kKeyBurst;
    QElapsedTimer filled;

    bool takeKey()
    {
        const qint64 refills = filled.elapsed() / kKeyRefillMs;
        if (refills > 0) {
            keys = int(std::min<qint64>(kKeyBurst, keys + refills));
            filled.restart();
        }
        if (keys == 0)
            return false;
        --keys;
        return true;
    }
};

LiveServer::LiveServer(SupplyLink &link, PanelModel &panel, const QByteArray &token,
                       QObject *parent)
    : QObject(parent), m_link(link), m_panel(panel), m_token(token), m_message(panelMessage(panel))
{
    m_http.setMissingHandler(
        [this](const QHttpServerRequest &request, QHttpServerResponder &&responder) {
            serveAsset(request, responder);
        });
    // Answers nothing: the handshake goes on to the WebSocket server.
    m_http.route<LiveRule>(QStringLiteral("/live"), QHttpServerRequest::Method::Get,
                           [](const QHttpServerRequest &, QHttpServerResponder &&) {});
    connect(&m_http, &QHttpServer::newWebSocketConnection, this, &LiveServer::accept);
    connect(&panel, &PanelModel::changed, this, [this] {
        const QByteArray message = panelMessage(m_panel);
        if (message == m_message)
            return;
        m_message = message;
        // Copied, since a slow client dropped on the way leaves the list.
        std::vector<Client *> clients;
        for (const auto &client : m_clients)
            clients.push_back(client.get());
        for (Client *client : clients)
            send(*client, m_message);
    });
}

LiveServer::~LiveServer()
{
    for (const auto &client : m_clients) {
        client->socket->disconnect(this);
        client->socket->abort();
        delete client->socket;
    }
}

quint16 LiveServer::listen(const QHostAddress &address, quint16 port, QString *why)
{
    if (const quint16 chosen = m_http.listen(address, port)) {
        // Browsers send a host's cookies to all its ports: each server keeps
        // its own.
        m_cookieName = "korvale-key-" + QByteArray::number(chosen);
        return chosen;
    }
    *why = QStringLiteral("cannot serve on %1 port %2 (in use, or not an address of this "
                          "computer)")
               .arg(address.toString())
               .arg(port);
    return 0;
}

// Every path no route takes is the page's, or nothing. The page opened with
// the key in its address keeps it for the browser's session in a cookie that
// no script can read and no other site's page sends; the page then takes it
// out of its address.
void LiveServer::serveAsset(const QHttpServerRequest &request, QHttpServerResponder &responder)
{
    if (isUpgrade(request) && request.url().path() == QLatin1String("/live"))
        return responder.write(QHttpServerResponder::StatusCode::Forbidden);
    const auto asset = request.method() == QHttpServerRequest::Method::Get
                           ? pageAsset(request.url().path())
                           : std::nullopt;
    if (!asset)
        return writeAsset(responder, notFoundPage(), QHttpServerResponder::StatusCode::NotFound);
    QByteArray setCookie;
    const QByteArray given = tokenIn(request.url());
    if (request.url().path() == QLatin1String("/") && sameToken(given, m_token))
        setCookie = m_cookieName + '=' + QUrl::toPercentEncoding(QString::fromUtf8(given)) +
                    "; Path=/; HttpOnly; SameSite=Strict";
    writeAsset(responder, *asset, QHttpServerResponder::StatusCode::Ok, setCookie);
}

void LiveServer::accept()
{
    while (m_http.hasPendingWebSocketConnections())
        admit(m_http.nextPendingWebSocketConnection().release());
}

void LiveServer::admit(QWebSocket *socket)
{
    socket->setParent(this);
    connect(socket, &QWebSocket::disconnected, socket, &QObject::deleteLater);
    const auto refuse = [socket](QWebSocketProtocol::CloseCode code, const QString &why) {
        socket->close(code, why);
        QTimer::singleShot(kCloseGraceMs, socket, &QWebSocket::abort);
    };
    const QUrl url = socket->requestUrl();
    if (m_clients.size() >= std::size_t(kMaxSockets))
        return refuse(QWebSocketProtocol::CloseCodePolicyViolated,
                      QStringLiteral("too many pages open; try again later"));

    // Longer requests close the socket (1009) before they are buffered.
    const quint64 bound = korvale::kLiveRequestMaxBytes;
    socket->setMaxAllowedIncomingFrameSize(bound);
    socket->setMaxAllowedIncomingMessageSize(bound);

    auto client = std::make_unique<Client>();
    client->socket = socket;
    // A program names the key in the address; a page has it in its cookie.
    QByteArray given = tokenIn(url);
    if (given.isEmpty())
        given = cookie(socket->request().rawHeader("Cookie"), m_cookieName);
    client->control = sameToken(given, m_token);
    if (!client->control)
        client->why = given.isEmpty() ? PanelModel::readOnly() : PanelModel::keyNoLongerValid();
    client->filled.start();
    Client &admitted = *client;
    m_clients.push_back(std::move(client));
    connect(socket, &QWebSocket::disconnected, this, [this, socket] { forget(socket); });
    connect(socket, &QWebSocket::textMessageReceived, this,
            [this, &admitted](const QString &text) { onText(admitted, text); });
    connect(socket, &QWebSocket::binaryMessageReceived, this, [socket] {
        socket->close(QWebSocketProtocol::CloseCodeDatatypeNotSupported,
                      QStringLiteral("text messages only"));
    });
    QJsonObject hello{{QStringLiteral("type"), QStringLiteral("hello")},
                      {QStringLiteral("control"), admitted.control}};
    if (!admitted.control)
        hello.insert(QStringLiteral("why"), admitted.why);
    send(admitted, QJsonDocument(hello).toJson(QJsonDocument::Compact));
    send(admitted, m_message);
}

void LiveServer::onText(Client &client, const QString &text)
{
    const QByteArray bytes = text.toUtf8();
    const korvale::ParsedLiveRequest parsed =
        korvale::parseLiveRequest(std::string_view(bytes.constData(), std::size_t(bytes.size())));
    if (!parsed.request)
        return reply(client, parsed.id, false, QString::fromStdString(parsed.why));
    const korvale::LiveRequest &request = *parsed.request;
    if (!client.control)
        return reply(client, request.id, false, client.why);

    // The mark the press leaves reaches every page as the panel's state,
    // before this reply.
    const korvale::KeyPress press =
        m_panel.press(request.command, QString::fromStdString(request.text));
    if (!press.frame)
        return reply(client, request.id, false, QString::fromStdString(press.why));
    // Only what would reach the line counts against the page's rate.
    if (!client.takeKey())
        return reply(client, request.id, false, SupplyLink::tooManyKeys());
    QString why;
    if (m_link.send(*press.frame, &why))
        return reply(client, request.id, true);
    reply(client, request.id, false, why);
}

void LiveServer::reply(Client &client, quint32 id, bool sent, const QString &why)
{
    QJsonObject message{{QStringLiteral("type"), QStringLiteral("reply")},
                        {QStringLiteral("id"), qint64(id)},
                        {QStringLiteral("sent"), sent}};
    if (!sent)
        message.insert(QStringLiteral("why"), why);
    send(client, QJsonDocument(message).toJson(QJsonDocument::Compact));
}

void LiveServer::send(Client &client, const QByteArray &message)
{
    client.socket->sendTextMessage(QString::fromUtf8(message));
    // A page that stopped reading would hold ever more memory here.
    if (client.socket->bytesToWrite() > kMaxUnsentBytes)
        drop(client);
}

void LiveServer::drop(Client &client)
{
    QWebSocket *socket = client.socket;
    forget(socket);
    socket->abort();
    socket->deleteLater();
}

void LiveServer::forget(QWebSocket *socket)
{
    const auto it = std::find_if(m_clients.begin(), m_clients.end(),
                                 [socket](const auto &client) { return client->socket == socket; });
    if (it == m_clients.end())
        return;
    socket->disconnect(this);
    m_clients.erase(it);
}
