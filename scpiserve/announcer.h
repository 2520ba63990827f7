// SPDX-License-Identifier: MIT
#pragma once

#include <QHostAddress>
#include <QString>

#include <functional>
#include <memory>

// Announces the SCPI server as `_scpi-raw._tcp` through the machine's
// avahi-daemon, for as long as it lives, so that `lxi discover --mdns` and
// VISA browsers find it. Where no daemon runs it says so once on standard
// error and announces as soon as one starts. A server on a loopback address
// is announced on the loopback interface alone, which the daemon uses only
// where it is told to: nothing reaches the network for a server it could
// not reach.
class Announcer
{
public:
    // `tell` gets the one line said when it cannot announce, perhaps from
    // another thread.
    Announcer(const QString &name, const QHostAddress &address, quint16 port,
              std::function<void(const QString &)> tell);
    ~Announcer();
    Announcer(const Announcer &) = delete;
    Announcer &operator=(const Announcer &) = delete;

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};
