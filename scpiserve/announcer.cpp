// SPDX-License-Identifier: MIT
#include "scpiserve/announcer.h"

#include <avahi-client/client.h>
#include <avahi-client/publish.h>
#include <avahi-common/alternative.h>
#include <avahi-common/error.h>
#include <avahi-common/malloc.h>
#include <avahi-common/thread-watch.h>
#include <net/if.h>

#include <string>

namespace {

constexpr char kServiceType[] = "_scpi-raw._tcp";

} // namespace

// Lives on the daemon's poll thread once started: the callbacks touch
// nothing but what is here.
struct Announcer::Impl
{
    std::string name;
    AvahiIfIndex interface = AVAHI_IF_UNSPEC;
    AvahiProtocol protocol = AVAHI_PROTO_UNSPEC;
    quint16 port = 0;
    std::function<void(const QString &)> tell;
    AvahiThreadedPoll *poll = nullptr;
    AvahiClient *client = nullptr;
    AvahiEntryGroup *group = nullptr;
    bool waitTold = false;

    bool connect();
    void publish(AvahiClient *client);
    void rename();
    void failed(const char *what, int error)
    {
        tell(QStringLiteral("scpi not announced: %1 (%2)")
                 .arg(QLatin1String(what), QString::fromUtf8(avahi_strerror(error))));
    }

    static void groupChanged(AvahiEntryGroup *group, AvahiEntryGroupState state, void *self);
    static void clientChanged(AvahiClient *client, AvahiClientState state, void *self);
};

void Announcer::Impl::publish(AvahiClient *owner)
{
    if (!group)
        group = avahi_entry_group_new(owner, &groupChanged, this);
    if (!group)
        return failed("no entry group", avahi_client_errno(owner));
    if (!avahi_entry_group_is_empty(group))
        return;
    int error =
        avahi_entry_group_add_service(group, interface, protocol, AvahiPublishFlags(0),
                                      name.c_str(), kServiceType, nullptr, nullptr, port, nullptr);
    if (error == AVAHI_ERR_COLLISION)
        return rename();
    if (error == 0)
        error = avahi_entry_group_commit(group);
    if (error < 0)
        failed("the service was refused", error);
}

// Another machine, or another supply here, has the name: take the next one.
void Announcer::Impl::rename()
{
    char *next = avahi_alternative_service_name(name.c_str());
    name = next;
    avahi_free(next);
    avahi_entry_group_reset(group);
    publish(avahi_entry_group_get_client(group));
}

void Announcer::Impl::groupChanged(AvahiEntryGroup *, AvahiEntryGroupState state, void *self)
{
    auto *d = static_cast<Impl *>(self);
    if (state == AVAHI_ENTRY_GROUP_COLLISION)
        d->rename();
    else if (state == AVAHI_ENTRY_GROUP_FAILURE)
        d->failed("the daemon gave up on it", avahi_client_errno(d->client));
}

void Announcer::Impl::clientChanged(AvahiClient *client, AvahiClientState state, void *self)
{
    auto *d = static_cast<Impl *>(self);
    switch (state) {
    case AVAHI_CLIENT_S_RUNNING:
        d->publish(client);
        break;
    case AVAHI_CLIENT_S_COLLISION:
    case AVAHI_CLIENT_S_REGISTERING:
        // The host's own name changes: announced again once it is settled.
        if (d->group)
            avahi_entry_group_reset(d->group);
        break;
    case AVAHI_CLIENT_CONNECTING:
        if (!d->waitTold)
            d->tell(QStringLiteral("scpi not announced yet: no avahi-daemon runs; it will be "
                                   "once one starts"));
        d->waitTold = true;
        break;
    case AVAHI_CLIENT_FAILURE:
        if (avahi_client_errno(client) != AVAHI_ERR_DISCONNECTED)
            return d->failed("avahi-daemon refused it", avahi_client_errno(client));
        // The daemon restarted: announced again once it is back.
        avahi_client_free(client);
        d->group = nullptr;
        d->connect();
        break;
    }
}

Announcer::Announcer(const QString &name, const QHostAddress &address, quint16 port,
                     std::function<void(const QString &)> tell)
    : d(std::make_unique<Impl>())
{
    // A service name is at most 63 bytes.
    d->name = name.toUtf8().left(63).toStdString();
    d->port = port;
    d->tell = std::move(tell);
    if (const unsigned loopback = if_nametoindex("lo"); address.isLoopback() && loopback != 0)
        d->interface = AvahiIfIndex(loopback);
    if (address.protocol() == QAbstractSocket::IPv4Protocol)
        d->protocol = AVAHI_PROTO_INET;
    else if (address.protocol() == QAbstractSocket::IPv6Protocol)
        d->protocol = AVAHI_PROTO_INET6;
    d->poll = avahi_threaded_poll_new();
    if (d->poll && d->connect())
        avahi_threaded_poll_start(d->poll);
}

bool Announcer::Impl::connect()
{
    int error = 0;
    // Without a daemon it waits for one, rather than failing for good.
    client = avahi_client_new(avahi_threaded_poll_get(poll), AVAHI_CLIENT_NO_FAIL, &clientChanged,
                              this, &error);
    if (!client)
        failed("no connection to avahi-daemon", error);
    return client != nullptr;
}

Announcer::~Announcer()
{
    if (d->poll)
        avahi_threaded_poll_stop(d->poll);
    // Frees the entry group too, which withdraws the service.
    if (d->client)
        avahi_client_free(d->client);
    if (d->poll)
        avahi_threaded_poll_free(d->poll);
}
