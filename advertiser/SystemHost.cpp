#include "advertiser/AdvertiserHost.h"
#include "advertiser/ListeningPorts.h"
#include "advertiser/PhysicalAddresses.h"
#include "platform/DnsSdBackend.h"
#include "platform/HostName.h"

SystemHost::SystemHost() = default;
SystemHost::~SystemHost() = default;

std::vector<RunningApplication> SystemHost::runningApplications()
{
    return m_applications.runningApplications();
}

std::optional<QList<qint64>> SystemHost::listeningPorts(qint32 pid)
{
    return m_portProbe.listeningPorts(pid);
}

QStringList SystemHost::physicalAddresses()
{
    return ::physicalAddresses();
}

std::optional<QString> SystemHost::hostDisplayName()
{
    return ::hostDisplayName();
}

NetServicePublisher &SystemHost::publisher()
{
    // Made on first use, so that an advertiser that never publishes never
    // connects to the DNS-SD daemon.
    if (!m_publisher)
        m_publisher = createDnsSdPublisher();
    return *m_publisher;
}
