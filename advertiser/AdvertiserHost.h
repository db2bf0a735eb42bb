#pragma once

#include "advertiser/ListeningPorts.h"
#include "platform/NetService.h"
#include "platform/RunningApplications.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <memory>
#include <optional>
#include <vector>

// Everything the update cycle asks of the computer it runs on. The program
// uses SystemHost; the tests put fakes in its place.
class AdvertiserHost
{
public:
    virtual ~AdvertiserHost() = default;

    virtual std::vector<RunningApplication> runningApplications() = 0;
    // Nothing when the ports cannot be known now (the probe is stuck).
    virtual std::optional<QList<qint64>> listeningPorts(qint32 pid) = 0;
    virtual QStringList physicalAddresses() = 0;
    virtual std::optional<QString> hostDisplayName() = 0;
    virtual NetServicePublisher &publisher() = 0;
};

// The real computer: /proc, lsof, getifaddrs, /etc/machine-info, avahi-daemon.
class SystemHost final : public AdvertiserHost
{
public:
    SystemHost();
    ~SystemHost() override;

    std::vector<RunningApplication> runningApplications() override;
    std::optional<QList<qint64>> listeningPorts(qint32 pid) override;
    QStringList physicalAddresses() override;
    std::optional<QString> hostDisplayName() override;
    NetServicePublisher &publisher() override;

private:
    RunningApplicationScanner m_applications;
    ListeningPortProbe m_portProbe;
    std::unique_ptr<NetServicePublisher> m_publisher;
};
