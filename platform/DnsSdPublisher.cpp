#include "platform/DnsSdPublisher.h"

#include "platform/DnsSdService.h"

#include <cstdlib>

DnsSdPublisher::DnsSdPublisher(std::chrono::milliseconds registrationTimeout)
    : m_registrationTimeout(registrationTimeout)
{
    // avahi's compatibility library writes a warning to standard error (and
    // the system log) the first time a program uses it; the command-line
    // mode's output is its status lines. Elsewhere the variable means nothing.
    setenv("AVAHI_COMPAT_NOWARN", "1", 0);
}

std::unique_ptr<NetService> DnsSdPublisher::createService(const QString &domain, const QString &type,
                                                          const QString &name, qint32 port)
{
    return std::make_unique<DnsSdService>(domain, type, name, port, m_registrationTimeout);
}
