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

// The supply's model, in *IDN? and in the name it is announced by.
#define KORVALE_MODEL "KPS-4005"

// The SCPI face, when asked for: an instrument of its own on the line,
// shared by every connection so that their settings are done one after the
// other, with the page's token.
struct ScpiFace
{
    ScpiFace(SupplyLink &link, korvale::scpi::SessionConfig config)
        : instrument(link), server(instrument, link, std::move(config))
    {
    }
    SupplyInstrument instrument;
    ScpiServer server;
    std::unique_ptr<Announcer> announcer;
    quint16 port = 0;
};

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

    std::unique_ptr<ScpiFace> scpi;
    if (const auto &scpiAddress = invocation.serve.scpi) {
        korvale::scpi::SessionConfig config;
        config.identity = "Korvale," KORVALE_MODEL " DC supply 40V 5A,0," KORVALE_VERSION;
        config.token = token->toStdString();
        scpi = std::make_unique<ScpiFace>(link, std::move(config));
        scpi->port = scpi->server.listen(QHostAddress(scpiAddress->host), scpiAddress->port, &why);
        if (scpi->port == 0) {
            tell(why);
            return 1;
        }
        if (invocation.serve.announce)
            scpi->announcer =
                std::make_unique<Announcer>(QStringLiteral("Korvale " KORVALE_MODEL " on %1:%2")
                                                .arg(QSysInfo::machineHostName())
                                                .arg(scpi->port),
                                            QHostAddress(scpiAddress->host), scpi->port, &tell);
    }

    std::printf("panel on http://%s:%u/?token=%s\n", qPrintable(address.urlHost()), unsigned(port),
                QUrl::toPercentEncoding(QString::fromUtf8(*token)).constData());
    // The VISA resource a user pastes into pyvisa; an IPv6 address in
    // brackets, so that its colons cannot be taken for the separators.
    if (scpi)
        std::printf("scpi on TCPIP::%s::%u::SOCKET\n", qPrintable(invocation.serve.scpi->urlHost()),
                    unsigned(scpi->port));
    std::fflush(stdout);
    const int status = run.exec();
    // Settings under way send nothing more; keys already taken still drain.
    scpi.reset();
    // A page was told its key was sent: it must not be cut off the line by
    // the close. A full queue takes 4.3 s at 1200 baud.
    if (!link.drainAndClose(6000)) {
        tell(QStringLiteral("keys pressed on the pages may not all have reached the supply: the "
                            "line did not take them in time"));
        return status == 0 ? 1 : status;
    }
    return status;
}
