#pragma once

// A host for the advertiser that the test controls: which applications run,
// which ports they listen on, which addresses the computer has, and a
// publisher that records what was done to each service and whose events the
// test delivers.

#include "advertiser/Advertiser.h"
#include "advertiser/AdvertiserHost.h"

#include <QMap>
#include <memory>
#include <tuple>
#include <utility>
#include <vector>

// What happened to one service; kept by the publisher, so it outlives the
// service itself.
struct FakeServiceRecord
{
    QString domain, type, name;
    qint32 port = 0;
    NetServiceDelegate *delegate = nullptr;
    QByteArray txt;
    bool published = false, stopped = false, destroyed = false;
    NetService *service = nullptr; // compared, never followed, once destroyed

    // Events as the publisher delivers them, later and from the event loop.
    void didPublish() { delegate->netServiceDidPublish(service); }
    void didNotPublish(const ErrorDictionary &error) { delegate->netServiceDidNotPublish(service, error); }
};

struct FakeService final : NetService
{
    explicit FakeService(FakeServiceRecord &record) : r(record) { r.service = this; }
    ~FakeService() override { r.destroyed = true; }
    void setDelegate(NetServiceDelegate *d) override { r.delegate = d; }
    void setTXTRecordData(const QByteArray &data) override { r.txt = data; }
    void publish() override { r.published = true; }
    void stop() override { r.stopped = true; }
    FakeServiceRecord &r;
};

struct FakePublisher final : NetServicePublisher
{
    // Every service ever created, newest last.
    std::vector<std::unique_ptr<FakeServiceRecord>> created;

    std::unique_ptr<NetService> createService(const QString &domain, const QString &type, const QString &name,
                                              qint32 port) override
    {
        FakeServiceRecord &r = *created.emplace_back(std::make_unique<FakeServiceRecord>());
        std::tie(r.domain, r.type, r.name, r.port) = std::tie(domain, type, name, port);
        return std::make_unique<FakeService>(r);
    }
    FakeServiceRecord &latest() { return *created.back(); }
};

struct FakeHost final : AdvertiserHost
{
    std::vector<RunningApplication> applications;
    QMap<qint32, std::optional<QList<qint64>>> ports; // nothing: the probe is stuck
    QStringList addresses;
    std::optional<QString> displayName = QStringLiteral("Test Computer");
    FakePublisher fakePublisher;
    int cycles = 0;

    std::vector<RunningApplication> runningApplications() override { return ++cycles, applications; }
    bool quitsWhenProbed = false; // the applications end as the next probe runs
    std::optional<QList<qint64>> listeningPorts(qint32 pid) override
    {
        if (std::exchange(quitsWhenProbed, false)) {
            applications.clear();
            return QList<qint64>();
        }
        return ports.value(pid, QList<qint64>());
    }
    QStringList physicalAddresses() override { return addresses; }
    std::optional<QString> hostDisplayName() override { return displayName; }
    NetServicePublisher &publisher() override { return fakePublisher; }

    // Charles as a bundle at /Applications/Charles.app with this pid.
    void runCharles(qint32 pid, std::optional<QList<qint64>> listening = QList<qint64>{8888})
    {
        applications = {RunningApplication{std::nullopt, QStringLiteral("/Applications/Charles.app"), pid}};
        ports[pid] = listening;
    }
};

class AdvertiserTestAccess
{
public:
    static void update(Advertiser &advertiser) { advertiser.update(); }
};
