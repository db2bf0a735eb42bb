#include "platform/AvahiPublisher.h"

#include "platform/AvahiService.h"

AvahiPublisher::AvahiPublisher(std::chrono::milliseconds registrationTimeout)
    : m_connection(AvahiClientConnection::shared())
    , m_registrationTimeout(registrationTimeout)
{
}

AvahiPublisher::~AvahiPublisher() = default;

std::unique_ptr<NetService> AvahiPublisher::createService(const QString &domain, const QString &type,
                                                          const QString &name, qint32 port)
{
    return std::make_unique<AvahiService>(m_connection, domain, type, name, port, m_registrationTimeout);
}
