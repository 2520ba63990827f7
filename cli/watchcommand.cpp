// SPDX-License-Identifier: MIT
#include "cli/watchcommand.h"

#include "cli/invocation.h"
#include "cli/linkrun.h"
#include "cli/portopening.h"

#include <QTimer>

namespace {

bool serveMetrics(Metrics &metrics, const HttpAddress &address)
{
    QString why;
    const quint16 port = metrics.listen(address.host, address.port, &why);
    if (port == 0) {
        tell(why);
        return false;
    }
    // A chosen port is known only now, and Prometheus needs it.
    if (address.port == 0)
        tell(QStringLiteral("metrics on http://%1:%2/metrics").arg(address.urlHost()).arg(port));
    return true;
}

} // namespace

int watch(Invocation invocation)
{
    const WatchOptions &options = invocation.watch;
    LinkRun run(invocation, options.reconnect);
    if (!options.reconnect && !run.openNow())
        return run.status();
    if (options.metrics && !serveMetrics(run.metrics(), *options.metrics))
        return 1;
    if (!run.openLog(options))
        return 1;
    qint64 logged = 0;
    if (const auto count = options.count) {
        QObject::connect(&run, &LinkRun::frameLogged, [&, count] {
            if (++logged == *count)
                run.finish(0);
        });
    }
    if (const auto durationMs = options.durationMs)
        QTimer::singleShot(std::chrono::milliseconds(*durationMs), &run, [&] { run.finish(0); });
    return run.exec();
}
