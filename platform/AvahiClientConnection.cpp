#include "platform/AvahiClientConnection.h"

#include <avahi-common/error.h>

#include <QTimer>
#include <algorithm>

std::shared_ptr<AvahiClientConnection> AvahiClientConnection::shared()
{
    // Main thread only, like everything else here.
    static std::weak_ptr<AvahiClientConnection> current;
    auto connection = current.lock();
    if (!connection) {
        connection = std::shared_ptr<AvahiClientConnection>(new AvahiClientConnection);
        current = connection;
    }
    return connection;
}

AvahiClientConnection::AvahiClientConnection() = default;

// Whoever had entry groups has gone (they hold this connection), so the client
// can be freed.
AvahiClientConnection::~AvahiClientConnection() = default;

AvahiClient *AvahiClientConnection::client(int *error)
{
    if (m_client)
        return m_client.get();
    int failure = AVAHI_OK;
    m_creating = true;
    AvahiClient *client = avahi_client_new(m_poll.api(), AVAHI_CLIENT_NO_FAIL, clientCallback, this, &failure);
    m_creating = false;
    if (!client) {
        *error = failure;
        return nullptr;
    }
    if (avahi_client_get_state(client) == AVAHI_CLIENT_FAILURE) {
        *error = avahi_client_errno(client);
        avahi_client_free(client);
        return nullptr;
    }
    m_client.reset(client);
    return client;
}

void AvahiClientConnection::addListener(Listener *listener)
{
    if (std::find(m_listeners.begin(), m_listeners.end(), listener) == m_listeners.end())
        m_listeners.push_back(listener);
}

void AvahiClientConnection::removeListener(Listener *listener)
{
    m_listeners.erase(std::remove(m_listeners.begin(), m_listeners.end(), listener), m_listeners.end());
}

void AvahiClientConnection::clientCallback(AvahiClient *client, AvahiClientState state, void *self)
{
    static_cast<AvahiClientConnection *>(self)->clientStateChanged(client, state);
}

void AvahiClientConnection::clientStateChanged(AvahiClient *client, AvahiClientState state)
{
    // Listeners may leave while they are told; tell only those still here.
    const auto listeners = m_listeners;
    for (Listener *listener : listeners) {
        if (std::find(m_listeners.begin(), m_listeners.end(), listener) != m_listeners.end())
            listener->avahiClientStateChanged(client, state);
    }
    if (state != AVAHI_CLIENT_FAILURE || m_creating || m_client.get() != client)
        return; // a client failing inside avahi_client_new is freed by client()

    // avahi-client has closed its bus connection already and touches the
    // client no more once this callback returns, so it may be freed here.
    // The new client is made from the event loop, outside libdbus' dispatch.
    m_client.reset();
    QTimer::singleShot(0, &m_reconnectContext, [this] {
        int error = AVAHI_OK;
        this->client(&error); // without a bus the next publication tries again
    });
}
