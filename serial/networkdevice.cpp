// SPDX-License-Identifier: MIT
#include "serial/networkdevice.h"

#include <algorithm>

namespace {

const QLatin1String kScheme("socket://");

NetworkDevice refused(const QString &why)
{
    return {{},
            0,
            why + QStringLiteral(" (write it as socket://HOST:PORT, such as "
                                 "socket://supplyhost:3000)")};
}

} // namespace

bool isNetworkDevice(const QString &device)
{
    return device.startsWith(kScheme, Qt::CaseInsensitive);
}

NetworkDevice parseNetworkDevice(const QString &device)
{
    const QString address = device.mid(kScheme.size());
    // The port follows the last colon; an IPv6 address has colons of its own
    // and so must stand in brackets to be told from the port.
    const qsizetype colon = address.lastIndexOf(u':');
    if (colon < 0)
        return refused(QStringLiteral("no port after the host"));
    QString host = address.left(colon);
    const QString port = address.mid(colon + 1);
    if (host.startsWith(u'[') && host.endsWith(u']'))
        host = host.mid(1, host.size() - 2);
    else if (host.contains(u':') || host.contains(u'[') || host.contains(u']'))
        return refused(QStringLiteral("an IPv6 address needs brackets, as in socket://[::1]:3000"));
    if (host.isEmpty())
        return refused(QStringLiteral("no host before the port"));
    if (host.contains(u'/') || host.contains(u' '))
        return refused(QStringLiteral("'%1' is not a host name").arg(host));
    const bool digits =
        !port.isEmpty() && port.size() <= 5 &&
        std::all_of(port.begin(), port.end(), [](QChar c) { return c >= u'0' && c <= u'9'; });
    const uint number = digits ? port.toUInt() : 0;
    if (number < 1 || number > 65535)
        return refused(QStringLiteral("the port is a number from 1 to 65535, not '%1'").arg(port));
    return {host, quint16(number), {}};
}
