#pragma once

#include "platform/ServiceRegistration.h"

#include <QSocketNotifier>
#include <chrono>
#include <memory>
#include <type_traits>

#include <dns_sd.h>

// One registration through the dns_sd.h API, as NSNetService makes it. The
// daemon's replies arrive on the registration's socket, which the event loop
// watches; the delegate hears of them later still, queued, as it hears of a
// failure found inside publish(). First did-publish once the daemon has
// established the service under its own name, did-not-publish when it could
// not (also after a did-publish, when the daemon goes away or the name is
// taken later). Nothing is delivered after stop() or once the service is
// destroyed; stop() and the destructor withdraw the registration.
//
// Error dictionaries are keyed as NSNetService keys them:
// {"NSNetServicesErrorCode": <NSNetServicesError>, "NSNetServicesErrorDomain": 10}.
// A name in use is NSNetServicesCollisionError (-72001); see netServicesError()
// for the rest.
class DnsSdService final : public ServiceRegistration
{
public:
    static constexpr qint64 errorDomain = 10; // kCFStreamErrorDomainNetServices
    static constexpr qint64 unknownError = -72000, collisionError = -72001, notFoundError = -72002,
                            badArgumentError = -72004, invalidError = -72006, timeoutError = -72007,
                            missingRequiredConfigurationError = -72008;

    // The NSNetServicesError that NSNetService reports for a dns_sd error.
    static qint64 netServicesError(DNSServiceErrorType error);

    DnsSdService(QString domain, QString type, QString name, qint32 port,
                 std::chrono::milliseconds registrationTimeout);
    ~DnsSdService() override;

    void publish() override;
    void stop() override;

private:
    enum class State { Created, Registering, Published, Failed, Stopped };

    struct Deallocate
    {
        void operator()(DNSServiceRef registration) const { DNSServiceRefDeallocate(registration); }
    };
    using Registration = std::unique_ptr<std::remove_pointer_t<DNSServiceRef>, Deallocate>;

    static void DNSSD_API registerReply(DNSServiceRef, DNSServiceFlags, DNSServiceErrorType error, const char *name,
                                        const char *, const char *, void *context);
    void replied(DNSServiceErrorType error, const QString &name);
    void registrationTimedOut() override;
    enum class Withdraw { WithTheService, Now };
    void fail(qint64 error, Withdraw withdraw = Withdraw::WithTheService);

    State m_state = State::Created;
    Registration m_registration;
    // Watches the registration's socket; goes before it.
    std::unique_ptr<QSocketNotifier> m_replies;
};
