#include "platform/AvahiService.h"

#include <avahi-common/error.h>

#include <QMetaObject>
#include <utility>

AvahiService::AvahiService(std::shared_ptr<AvahiClientConnection> connection, QString domain, QString type,
                           QString name, qint32 port, std::chrono::milliseconds registrationTimeout)
    : ServiceRegistration(std::move(domain), std::move(type), std::move(name), port, registrationTimeout)
    , m_connection(std::move(connection))
{
}

// avahi-daemon can stay in the registering state for good when an address
// changes while it probes; give up rather than wait for ever.
void AvahiService::registrationTimedOut()
{
    if (m_state == State::Waiting || m_state == State::Registering)
        fail(AVAHI_ERR_TIMEOUT);
}

AvahiService::~AvahiService()
{
    stop();
}

void AvahiService::publish()
{
    if (m_state != State::Created)
        return; // a service publishes once
    int error = AVAHI_OK;
    AvahiClient *client = m_connection->client(&error);
    if (!client) {
        fail(error);
        return;
    }
    switch (avahi_client_get_state(client)) {
    case AVAHI_CLIENT_S_RUNNING:
        m_registrationTimer.start(m_registrationTimeout);
        registerWith(client);
        break;
    case AVAHI_CLIENT_S_REGISTERING:
    case AVAHI_CLIENT_S_COLLISION:
        m_state = State::Waiting;
        m_registrationTimer.start(m_registrationTimeout);
        break;
    default: // connecting: there is no daemon on the bus
        fail(AVAHI_ERR_NO_DAEMON);
        break;
    }
    updateListening();
}

void AvahiService::stop()
{
    if (m_state == State::Stopped)
        return;
    m_state = State::Stopped;
    m_stopped = true;
    m_registrationTimer.stop();
    m_group.reset(); // the daemon withdraws the service and says goodbye
    updateListening();
}

void AvahiService::registerWith(AvahiClient *client)
{
    m_state = State::Registering;
    if (m_port < 0 || m_port > 0xFFFF) {
        fail(AVAHI_ERR_INVALID_PORT);
        return;
    }
    AvahiStringList *txt = nullptr;
    if (!m_txt.isEmpty() && avahi_string_list_parse(m_txt.constData(), size_t(m_txt.size()), &txt) < 0) {
        fail(AVAHI_ERR_INVALID_RECORD);
        return;
    }
    const AvahiStringListPtr txtOwner(txt);

    // The callback may run before avahi_entry_group_new returns; it uses the
    // group it is given.
    AvahiEntryGroup *group = avahi_entry_group_new(client, groupCallback, this);
    if (!group) {
        fail(avahi_client_errno(client));
        return;
    }
    m_group.reset(group);
    if (m_state != State::Registering)
        return;

    const QByteArray name = m_name.toUtf8();
    const QByteArray type = m_type.toUtf8();
    const QByteArray domain = m_domain.toUtf8();
    int result = avahi_entry_group_add_service_strlst(
        group, AVAHI_IF_UNSPEC, AVAHI_PROTO_UNSPEC, AvahiPublishFlags(0), name.constData(), type.constData(),
        domain.isEmpty() ? nullptr : domain.constData(), nullptr, uint16_t(m_port), txt);
    if (result >= 0)
        result = avahi_entry_group_commit(group);
    if (result < 0)
        fail(result);
}

void AvahiService::groupCallback(AvahiEntryGroup *group, AvahiEntryGroupState state, void *self)
{
    static_cast<AvahiService *>(self)->groupStateChanged(group, state);
}

// Never frees the group: this may run inside avahi_entry_group_new. A group
// that failed is freed with the service.
void AvahiService::groupStateChanged(AvahiEntryGroup *group, AvahiEntryGroupState state)
{
    switch (state) {
    case AVAHI_ENTRY_GROUP_ESTABLISHED:
        succeed();
        break;
    case AVAHI_ENTRY_GROUP_COLLISION:
        fail(AVAHI_ERR_COLLISION);
        break;
    case AVAHI_ENTRY_GROUP_FAILURE:
        fail(avahi_client_errno(avahi_entry_group_get_client(group)));
        break;
    case AVAHI_ENTRY_GROUP_UNCOMMITED:
    case AVAHI_ENTRY_GROUP_REGISTERING:
        break;
    }
}

void AvahiService::avahiClientStateChanged(AvahiClient *client, AvahiClientState state)
{
    switch (state) {
    case AVAHI_CLIENT_S_RUNNING:
        if (m_state == State::Waiting)
            registerWith(client);
        break;
    case AVAHI_CLIENT_FAILURE: {
        // The client is freed right after this; so is everything it made.
        const int error = avahi_client_errno(client);
        m_group.reset();
        if (isLive())
            fail(error);
        break;
    }
    case AVAHI_CLIENT_S_REGISTERING:
    case AVAHI_CLIENT_S_COLLISION: {
        // The daemon re-registers its host name: what it had registered for
        // us is void. Withdraw it and let the owner publish anew.
        const bool registered = m_group != nullptr;
        m_group.reset();
        if (registered && isLive())
            fail(state == AVAHI_CLIENT_S_COLLISION ? AVAHI_ERR_COLLISION : AVAHI_ERR_BAD_STATE);
        break;
    }
    case AVAHI_CLIENT_CONNECTING:
        break;
    }
    updateListening();
}

void AvahiService::succeed()
{
    if (m_state != State::Registering)
        return;
    m_state = State::Published;
    m_registrationTimer.stop();
    QMetaObject::invokeMethod(
        &m_events,
        [this] {
            if (!m_stopped && m_delegate)
                m_delegate->netServiceDidPublish(this);
        },
        Qt::QueuedConnection);
}

void AvahiService::fail(int error)
{
    if (!isLive() && m_state != State::Created)
        return;
    m_state = State::Failed;
    m_registrationTimer.stop();
    const ErrorDictionary dictionary{{QStringLiteral("errorCode"), error},
                                     {QStringLiteral("errorDomain"), errorDomain}};
    QMetaObject::invokeMethod(
        &m_events,
        [this, dictionary] {
            if (!m_stopped && m_delegate)
                m_delegate->netServiceDidNotPublish(this, dictionary);
        },
        Qt::QueuedConnection);
}

bool AvahiService::isLive() const
{
    return m_state == State::Waiting || m_state == State::Registering || m_state == State::Published;
}

void AvahiService::updateListening()
{
    const bool wanted = isLive() || m_group != nullptr;
    if (wanted == m_listening)
        return;
    m_listening = wanted;
    if (wanted)
        m_connection->addListener(this);
    else
        m_connection->removeListener(this);
}
