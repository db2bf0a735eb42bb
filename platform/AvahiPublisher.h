#pragma once

#include "platform/AvahiClientConnection.h"
#include "platform/NetService.h"

#include <chrono>
#include <memory>

// Publishes DNS-SD services through avahi-daemon, on the system bus that
// DBUS_SYSTEM_BUS_ADDRESS names (the usual system bus when it is unset).
// Creating a service sends nothing; the client connection is made by the
// first publication.
class AvahiPublisher final : public NetServicePublisher
{
public:
    // How long a registration may take before it is given up with
    // AVAHI_ERR_TIMEOUT.
    static constexpr std::chrono::milliseconds defaultRegistrationTimeout{10000};

    explicit AvahiPublisher(std::chrono::milliseconds registrationTimeout = defaultRegistrationTimeout);
    ~AvahiPublisher() override;

    std::unique_ptr<NetService> createService(const QString &domain, const QString &type, const QString &name,
                                              qint32 port) override;

private:
    std::shared_ptr<AvahiClientConnection> m_connection;
    const std::chrono::milliseconds m_registrationTimeout;
};
