// SPDX-License-Identifier: MIT
#include "cli/servecommand.h"

#include "cli/invocation.h"
#include "cli/linkrun.h"
#include "cli/portopening.h"
#include "scpiserve/announcer.h"
#include "scpiserve/scpiserver.h"
#include "scpiserve/supplyinstrument.h"
#include "serve/liveserver.h"

#include <QFile>
#include <QLoggingCategory>
#include <QRandomGenerator>
#include <QSysInfo>
#include <QUrl>

#include <array>
#include <cstdio>
#include <memory>
#include <optional>

namespace {

// The first line of the token file, or 128 fresh random bits.
std::optional<QByteArray> keyToken(const QString &file)
{
    if (file.isEmpty()) {
        std::array<quint32, 4> bits{};
        QRandomGenerator::system()->generate(bits.begin(), bits.end());
        QByteArray token;
        for (const quint32 word : bits)
            token += QByteArray::number(word, 16).rightJustified(8, '0');
        return token;
    }
    QFile tokenFile(file);
    if (!tokenFile.open(QIODevice::ReadOnly)) {
        tell(
            QStringLiteral("cannot read the token file %1: %2").arg(file, tokenFile.errorString()));
        return std::nullopt;
    }
    const QByteArray token = tokenFile.readLine(4096).trimmed();
    if (token.isEmpty()) {
        tell(QStringLiteral("the token file %1 has no token on its first line").arg(file));
        return std::nullopt;
    }
    return token;
}

} // namespace

int serve(Invocation invocation)
{
    const std::optional<QByteArray> token = keyToken(invocation.serve.tokenFile);
    if (!token)
        return 1;
    LinkRun run(invocation, true);
    if (!invocation.watch.output.isEmpty() && !run.openLog(invocation.watch))
        return 1;

    // QHttpServer warns of every handshake it refuses (a foreign page, a
    // wrong path): routine here, and a way for any page to fill the journal.
    QLoggingCategory::setFilterRules(QStringLiteral("qt.httpserver.warning=false"));
    SupplyLink &link = run.link();
    PanelModel panel(link);
    LiveServer server(link, panel, *token);
    run.metrics().serveOn(server.http());
    const HttpAddress &address = invocation.serve.http;
    QString why;
    const quint16 port = server.listen(QHostAddress(address.host), address.port, &why);
    if (port == 0) {
        tell(why);
        return 1;
    }

    // SCPI shares the page's token and the line's one instrument, so that
    // settings asked for by several clients are done one after the other.
    SupplyInstrument instrument(link);
    std::unique_ptr<ScpiServer> scpi;
    std::unique_ptr<Announcer> announcer;
    quint16 scpiPort = 0;
    if (const auto &scpiAddress = invocation.serve.scpi) {
        korvale::scpi::SessionConfig config;
        config.identity = "Korvale,KPS-4005 DC supply 40V 5A,0," KORVALE_VERSION;
        config.token = token->toStdString();
        scpi = std::make_unique<ScpiServer>(instrument, link, std::move(config));
        scpiPort = scpi->listen(QHostAddress(scpiAddress->host), scpiAddress->port, &why);
        if (scpiPort == 0) {
            tell(why);
            return 1;
        }
        if (invocation.serve.announce)
            announcer =
                std::make_unique<Announcer>(QStringLiteral("Korvale KPS-4005 on %1:%2")
                                                .arg(QSysInfo::machineHostName())
                                                .arg(scpiPort),
                                            QHostAddress(scpiAddress->host), scpiPort, &tell);
    }

    std::printf("panel on http://%s:%u/?token=%s\n", qPrintable(address.urlHost()), unsigned(port),
                QUrl::toPercentEncoding(QString::fromUtf8(*token)).constData());
    // The VISA resource a user pastes into pyvisa.
    if (scpi)
        std::printf("scpi on TCPIP::%s::%u::SOCKET\n", qPrintable(invocation.serve.scpi->host),
                    unsigned(scpiPort));
    std::fflush(stdout);
    const int status = run.exec();
    // A page was told its key was sent: it must not be cut off the line by
    // the close. A full queue takes 4.3 s at 1200 baud.
    if (!link.drainAndClose(6000)) {
        tell(QStringLiteral("keys pressed on the pages may not all have reached the supply: the "
                            "line did not take them in time"));
        return status == 0 ? 1 : status;
    }
    return status;
}
