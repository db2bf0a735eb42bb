#pragma once

#include "advertiser/AdvertiserHost.h"
#include "platform/NetService.h"

#include <QObject>
#include <QString>
#include <QStringList>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>

class QTimer;

// Announces the proxy on the local network. Every few seconds it looks for
// Charles, checks its proxy port, collects the addresses and keeps at most one
// DNS-SD registration alive that describes what it found. It is the only source
// of status text: each new line goes to standard output and to onStatus.
class Advertiser final : public QObject, private NetServiceDelegate
{
    Q_OBJECT

public:
    static constexpr qint64 defaultPort = 8888;
    static constexpr std::chrono::milliseconds defaultInterval{3000};

    // Reads the machine identifier from the preferences, or makes and stores a
    // new one. An empty port means the default 8888.
    explicit Advertiser(std::optional<qint64> port,
                        std::unique_ptr<AdvertiserHost> host = std::make_unique<SystemHost>(),
                        QObject *parent = nullptr);
    ~Advertiser() override;

    // Called once for each status text that is passed on.
    std::function<void(const QString &)> onStatus;

    // Runs one update cycle at once, then one every interval.
    void start();
    // Stops the timer and withdraws the registration.
    void stop();
    // Restarts on the new port, treating everything as changed.
    void setPort(qint64 port);

    const QString &machineId() const { return id; }

    // The time between two update cycles; the tests shorten it.
    void setInterval(std::chrono::milliseconds interval) { m_interval = interval; }

private:
    // Lets the tests run one update cycle at a time instead of waiting for the
    // timer.
    friend class AdvertiserTestAccess;

    void update();
    // No Charles (any more): the closing or the waiting text.
    void proxyGone();
    void report(const QString &text);
    void stopService();

    void netServiceDidPublish(NetService *sender) override;
    void netServiceDidNotPublish(NetService *sender, const ErrorDictionary &error) override;

    // Declared first so that it is destroyed last: the services it published
    // go before their publisher.
    std::unique_ptr<AdvertiserHost> m_host;

    std::unique_ptr<NetService> service;
    std::optional<qint64> lastPort;
    std::optional<qint32> lastPID;
    QStringList lastAddresses;
    std::unique_ptr<QTimer> timer;
    std::optional<qint64> requestedPort;
    std::optional<QString> lastStatus;
    QString id;

    std::chrono::milliseconds m_interval = defaultInterval;
};
