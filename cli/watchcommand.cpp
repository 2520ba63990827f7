// SPDX-License-Identifier: MIT
#include "cli/watchcommand.h"

#include "cli/invocation.h"
#include "cli/logfile.h"
#include "cli/portopening.h"
#include "cli/stopsignals.h"
#include "link/supplylink.h"
#include "logger/linklogger.h"
#include "logger/metrics.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>

#include <memory>

namespace {

// Without reconnection a device that cannot be opened ends the run before
// anything is written.
bool openAndWait(SupplyLink &link)
{
    bool opened = false;
    bool failed = false;
    QEventLoop waiting;
    QObject::connect(&link, &SupplyLink::opened, &waiting, [&] {
        opened = true;
        waiting.quit();
    });
    QObject::connect(
        &link, &SupplyLink::openFailed, &waiting,
        [&](const QString &device, const QString &reason) {
            failed = true;
            tell(QStringLiteral("%1 could not be opened: %2.").arg(link.label(device), reason));
            waiting.quit();
        });
    link.open();
    // A network device connects in the background and ends either way
    // within the channel's own time limit.
    if (!opened && !failed)
        waiting.exec();
    return opened;
}

std::unique_ptr<Metrics> serveMetrics(const Invocation &invocation, const QString &device)
{
    auto metrics =
        std::make_unique<Metrics>(device, invocation.device.isEmpty() ? invocation.port : 0);
    QString why;
    const HttpAddress &address = *invocation.watch.metrics;
    const quint16 port = metrics->listen(address.host, address.port, &why);
    if (port == 0) {
        tell(why);
        return nullptr;
    }
    // A chosen port is known only now, and Prometheus needs it.
    if (address.port == 0)
        tell(QStringLiteral("metrics on http://%1:%2/metrics").arg(address.urlHost()).arg(port));
    return metrics;
}

} // namespace

int watch(Invocation invocation)
{
    SupplyLink link;
    link.setTarget(invocation.port, invocation.device);
    link.setReconnect(invocation.watch.reconnect);
    QObject::connect(&link, &SupplyLink::settingsIgnored, &tellSettingsIgnored);
    if (!invocation.watch.reconnect && !openAndWait(link))
        return 1;
    std::unique_ptr<Metrics> metrics;
    if (invocation.watch.metrics && !(metrics = serveMetrics(invocation, link.device())))
        return 1;
    const LogFile out(openLog(invocation.watch));
    if (!out)
        return 1;
    RecordWriter writer(invocation.watch.format, out.get());
    if (!writeLogHeader(writer, invocation.watch))
        return 1;

    LinkLogger logger(link, &writer, metrics.get());
    auto finish = [&](int status) {
        logger.stop();
        QCoreApplication::exit(status);
    };
    QObject::connect(&logger, &LinkLogger::notice, &tell);
    QObject::connect(&logger, &LinkLogger::ended, finish);
    qint64 logged = 0;
    if (const auto count = invocation.watch.count) {
        QObject::connect(&logger, &LinkLogger::frameLogged, [&, count] {
            if (++logged == *count)
                finish(0);
        });
    }
    if (const auto durationMs = invocation.watch.durationMs)
        QTimer::singleShot(std::chrono::milliseconds(*durationMs), &logger, [&] { finish(0); });
    StopSignals stop;
    QObject::connect(&stop, &StopSignals::stopRequested, [&] { finish(0); });
    if (invocation.watch.reconnect)
        link.open();
    return QCoreApplication::exec();
}
