#pragma once

#include "platform/NetService.h"

#include <chrono>
#include <memory>

// Publishes DNS-SD services through the dns_sd.h API: Bonjour's daemon on
// macOS and Windows, avahi-daemon through its compatibility library on Linux.
// Each service is one registration with the daemon, made when it is published.
class DnsSdPublisher final : public NetServicePublisher
{
public:
    // How long a registration may take before it is given up with
    // NSNetServicesTimeoutError.
    static constexpr std::chrono::milliseconds defaultRegistrationTimeout{10000};

    explicit DnsSdPublisher(std::chrono::milliseconds registrationTimeout = defaultRegistrationTimeout);

    std::unique_ptr<NetService> createService(const QString &domain, const QString &type, const QString &name,
                                              qint32 port) override;

private:
    const std::chrono::milliseconds m_registrationTimeout;
};
