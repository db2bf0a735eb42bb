#pragma once

#include "platform/AvahiHandles.h"
#include "platform/AvahiQtPoll.h"

#include <QObject>
#include <memory>
#include <vector>

// The one avahi-client connection of the process, shared by the publisher and
// its services. The client is made on first use with AVAHI_CLIENT_NO_FAIL, so
// it exists (in AVAHI_CLIENT_CONNECTING) while no daemon runs and comes up by
// itself when one starts. When it fails (the daemon or the bus went away) the
// listeners hear it first and free their entry groups, then the client is
// freed and, from the event loop, a new one is made the same way.
class AvahiClientConnection
{
public:
    class Listener
    {
    public:
        // Every state change of the client, with the client itself: the
        // callback may run inside avahi_client_new, before anyone holds it. On
        // AVAHI_CLIENT_FAILURE the listener must free its entry groups before
        // it returns.
        virtual void avahiClientStateChanged(AvahiClient *client, AvahiClientState state) = 0;

    protected:
        ~Listener() = default;
    };

    // Made on first use; lives while anybody holds it.
    static std::shared_ptr<AvahiClientConnection> shared();

    AvahiClientConnection(const AvahiClientConnection &) = delete;
    AvahiClientConnection &operator=(const AvahiClientConnection &) = delete;
    ~AvahiClientConnection();

    // The client, made now when there is none. nullptr when none can be made
    // (for instance no system bus to talk to); *error then holds the Avahi
    // error.
    AvahiClient *client(int *error);

    void addListener(Listener *listener);
    void removeListener(Listener *listener);

private:
    AvahiClientConnection();

    static void clientCallback(AvahiClient *client, AvahiClientState state, void *self);
    void clientStateChanged(AvahiClient *client, AvahiClientState state);

    AvahiQtPoll m_poll; // before m_client: the client uses it until it is freed
    AvahiClientPtr m_client;
    bool m_creating = false;
    std::vector<Listener *> m_listeners;
    QObject m_reconnectContext; // a pending reconnect dies with the connection
};
