#pragma once

// A host for the advertiser that the test controls: which applications run,
// which ports they listen on, which addresses the computer has, and a
// publisher whose services record what was done to them and whose events the
// test delivers.

#include "advertiser/Advertiser.h"
#include "advertiser/AdvertiserHost.h"

#include <QMap>
#include <functional>
#include <memory>
#include <vector>

// What happened to one service; kept by the publisher, so it outlives the
// service itself.
struct FakeServiceRecord
{
    bool stopped = false;
    bool destroyed = false;
};

struct FakeService final : NetService
{
    QString domain, type, name;
    qint32 port = 0;
    NetServiceDelegate *delegate = nullptr;
    QByteArray txt;
    bool published = false;
    bool stopped = false;
    FakeServiceRecord *record = nullptr;

    ~FakeService() override
    {
        if (record)
            record->destroyed = true;
    }
    void setDelegate(NetServiceDelegate *d) override { delegate = d; }
    void setTXTRecordData(const QByteArray &data) override { txt = data; }
    void publish() override { published = true; }
    void stop() override
    {
        stopped = true;
        if (record)
            record->stopped = true;
    }

    // Events as the publisher would deliver them later.
    void didPublish() { delegate->netServiceDidPublish(this); }
    void didNotPublish(const ErrorDictionary &error) { delegate->netServiceDidNotPublish(this, error); }
};

struct FakePublisher final : NetServicePublisher
{
    // Every service ever created, newest last. The advertiser owns them: look
    // at one only while isAlive() says it still exists.
    std::vector<FakeService *> created;
    std::vector<std::unique_ptr<FakeServiceRecord>> records;

    std::unique_ptr<NetService> createService(const QString &domain, const QString &type, const QString &name,
                                              qint32 port) override
    {
        auto service = std::make_unique<FakeService>();
        service->domain = domain;
        service->type = type;
        service->name = name;
        service->port = port;
        records.push_back(std::make_unique<FakeServiceRecord>());
        service->record = records.back().get();
        created.push_back(service.get());
        return service;
    }

    bool isAlive(size_t index) const { return !records.at(index)->destroyed; }
    bool wasStopped(size_t index) const { return records.at(index)->stopped; }
    FakeService &latest() { return *created.back(); }
};

struct FakeHost final : AdvertiserHost
{
    std::vector<RunningApplication> applications;
    QMap<qint32, QList<qint64>> ports;
    QStringList addresses;
    std::optional<QString> displayName = QStringLiteral("Test Computer");
    FakePublisher fakePublisher;
    int cycles = 0;
    // Runs at the start of every cycle, before the applications are listed.
    std::function<void()> onCycle;

    std::vector<RunningApplication> runningApplications() override
    {
        ++cycles;
        if (onCycle)
            onCycle();
        return applications;
    }
    QList<qint64> listeningPorts(qint32 pid) override { return ports.value(pid); }
    QStringList physicalAddresses() override { return addresses; }
    std::optional<QString> hostDisplayName() override { return displayName; }
    NetServicePublisher &publisher() override { return fakePublisher; }

    // Charles as a bundle at /Applications/Charles.app with this pid.
    void runCharles(qint32 pid, QList<qint64> listening = {8888})
    {
        applications = {RunningApplication{std::nullopt, QStringLiteral("/Applications/Charles.app"), pid}};
        ports[pid] = listening;
    }
    void quitCharles() { applications.clear(); }
};

class AdvertiserTestAccess
{
public:
    static void update(Advertiser &advertiser) { advertiser.update(); }
};
