#pragma once

#include "platform/AvahiClientConnection.h"
#include "platform/AvahiHandles.h"
#include "platform/ServiceRegistration.h"

#include <QString>
#include <chrono>
#include <memory>

// One DNS-SD registration through avahi-daemon: one entry group holding one
// service. Its outcome reaches the delegate later, from the event loop: first
// did-publish when the daemon has established the service, did-not-publish
// when it could not (and also after a did-publish, when the daemon goes away
// or its host name changes). Nothing is delivered after stop() or once the
// service is destroyed; stop() and the destructor withdraw the registration.
//
// Error dictionaries are {"errorCode": <Avahi error>, "errorDomain": 1}:
// AVAHI_ERR_NO_DAEMON when no daemon runs, AVAHI_ERR_COLLISION when the name
// is taken on the network, AVAHI_ERR_DISCONNECTED when the daemon went away,
// AVAHI_ERR_TIMEOUT when the registration does not finish in time,
// AVAHI_ERR_BAD_STATE when the daemon re-registers its host name, otherwise
// what avahi-client returned.
class AvahiService final : public ServiceRegistration, private AvahiClientConnection::Listener
{
public:
    static constexpr qint64 errorDomain = 1;

    AvahiService(std::shared_ptr<AvahiClientConnection> connection, QString domain, QString type,
                 QString name, qint32 port, std::chrono::milliseconds registrationTimeout);
    ~AvahiService() override;

    void publish() override;
    void stop() override;

private:
    enum class State {
        Created,
        Waiting,     // the daemon is busy with its host name; registered when it is done
        Registering, // entry group committed, daemon probing
        Published,
        Failed,
        Stopped,
    };

    void avahiClientStateChanged(AvahiClient *client, AvahiClientState state) override;
    static void groupCallback(AvahiEntryGroup *group, AvahiEntryGroupState state, void *self);
    void groupStateChanged(AvahiEntryGroup *group, AvahiEntryGroupState state);

    void registrationTimedOut() override;
    void registerWith(AvahiClient *client);
    void succeed();
    void fail(int error);
    bool isLive() const;
    // Listens to the client while a publication is under way or a group is held.
    void updateListening();

    // Declared first, destroyed last: the group goes before the client.
    std::shared_ptr<AvahiClientConnection> m_connection;
    State m_state = State::Created;
    bool m_stopped = false;
    bool m_listening = false;
    AvahiEntryGroupPtr m_group;
};
