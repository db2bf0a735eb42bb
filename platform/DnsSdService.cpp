#include "platform/DnsSdService.h"

#include <QMetaObject>
#include <QtEndian>
#include <utility>

qint64 DnsSdService::netServicesError(DNSServiceErrorType error)
{
    switch (error) {
    case kDNSServiceErr_NameConflict:
        return collisionError;
    case kDNSServiceErr_NoSuchName:
        return notFoundError;
    case kDNSServiceErr_BadParam:
        return badArgumentError;
    case kDNSServiceErr_BadReference:
    case kDNSServiceErr_BadState:
    case kDNSServiceErr_BadFlags:
    case kDNSServiceErr_Invalid:
        return invalidError;
    case -65568: // kDNSServiceErr_Timeout, in newer headers than avahi's
        return timeoutError;
    case -65570: // kDNSServiceErr_PolicyDenied: the user has not allowed local network access
        return missingRequiredConfigurationError;
    default: // the daemon not running (kDNSServiceErr_ServiceNotRunning, -65563), and the rest
        return unknownError;
    }
}

DnsSdService::DnsSdService(QString domain, QString type, QString name, qint32 port,
                           std::chrono::milliseconds registrationTimeout)
    : ServiceRegistration(std::move(domain), std::move(type), std::move(name), port, registrationTimeout)
{
}

DnsSdService::~DnsSdService()
{
    stop();
}

void DnsSdService::publish()
{
    if (m_state != State::Created)
        return; // a service publishes once
    m_state = State::Registering;
    if (m_port < 0 || m_port > 0xFFFF || m_txt.size() > 0xFFFF)
        return fail(badArgumentError);
    const QByteArray name = m_name.toUtf8(), type = m_type.toUtf8(), domain = m_domain.toUtf8();
    // A conflict is the owner's to settle, so no rename. avahi's compatibility
    // library takes no flags and renames on its own; the reply's name tells.
#ifdef QUILLFEN_DNSSD_RENAMES_ITSELF
    const DNSServiceFlags flags = 0;
#else
    const DNSServiceFlags flags = kDNSServiceFlagsNoAutoRename;
#endif
    DNSServiceRef registration = nullptr;
    const DNSServiceErrorType error = DNSServiceRegister(
        &registration, flags, kDNSServiceInterfaceIndexAny, name.constData(), type.constData(),
        domain.isEmpty() ? nullptr : domain.constData(), nullptr, qToBigEndian(quint16(m_port)),
        quint16(m_txt.size()), m_txt.isEmpty() ? nullptr : m_txt.constData(), registerReply, this);
    if (error != kDNSServiceErr_NoError)
        return fail(netServicesError(error));
    m_registration.reset(registration);
    m_replies = std::make_unique<QSocketNotifier>(DNSServiceRefSockFD(registration), QSocketNotifier::Read);
    QObject::connect(m_replies.get(), &QSocketNotifier::activated, &m_events, [this] {
        // Fails when the daemon has gone (Bonjour); the reference is dead then.
        const DNSServiceErrorType error = DNSServiceProcessResult(m_registration.get());
        if (error != kDNSServiceErr_NoError)
            fail(netServicesError(error));
    });
    m_registrationTimer.start(m_registrationTimeout);
}

void DnsSdService::registrationTimedOut()
{
    if (m_state == State::Registering)
        fail(timeoutError);
}

void DnsSdService::stop()
{
    if (m_state == State::Stopped)
        return;
    m_state = State::Stopped;
    m_registrationTimer.stop();
    m_replies.reset();
    m_registration.reset(); // the daemon withdraws the service and says goodbye
}

void DNSSD_API DnsSdService::registerReply(DNSServiceRef, DNSServiceFlags, DNSServiceErrorType error,
                                           const char *name, const char *, const char *, void *context)
{
    static_cast<DnsSdService *>(context)->replied(error, QString::fromUtf8(name ? name : ""));
}

// Runs inside DNSServiceProcessResult: nothing here frees the registration.
void DnsSdService::replied(DNSServiceErrorType error, const QString &name)
{
    if (error != kDNSServiceErr_NoError)
        return fail(netServicesError(error));
    if (name != m_name) // renamed after a conflict: reported as the conflict, withdrawn at once
        return fail(collisionError, Withdraw::Now);
    // A later reply under the same name is the service registered again
    // (avahi does so after its host name changed): still published.
    if (m_state != State::Registering)
        return;
    m_state = State::Published;
    m_registrationTimer.stop();
    QMetaObject::invokeMethod(
        &m_events,
        [this] {
            if (m_state == State::Published && m_delegate)
                m_delegate->netServiceDidPublish(this);
        },
        Qt::QueuedConnection);
}

// The registration is withdrawn by stop() or with the service, as a failed
// Avahi registration is: withdrawing calls the daemon and waits for it, which
// must not happen inside a reply nor on a daemon that has stopped answering.
// Until then its socket is not watched. A registration renamed by the library
// is live on the network under the other name: it goes before the event.
void DnsSdService::fail(qint64 error, Withdraw withdraw)
{
    if (m_state != State::Registering && m_state != State::Published)
        return;
    m_state = State::Failed;
    m_registrationTimer.stop();
    if (m_replies)
        m_replies->setEnabled(false);
    const ErrorDictionary dictionary{{QStringLiteral("NSNetServicesErrorCode"), error},
                                     {QStringLiteral("NSNetServicesErrorDomain"), errorDomain}};
    QMetaObject::invokeMethod(
        &m_events,
        [this, dictionary, withdraw] {
            if (m_state != State::Failed)
                return;
            if (withdraw == Withdraw::Now) {
                m_replies.reset();
                m_registration.reset();
            }
            if (m_delegate)
                m_delegate->netServiceDidNotPublish(this, dictionary);
        },
        Qt::QueuedConnection);
}
