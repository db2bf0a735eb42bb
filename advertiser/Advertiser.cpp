#include "advertiser/Advertiser.h"

#include "advertiser/ProxyApplication.h"
#include "advertiser/ServiceRecord.h"
#include "advertiser/StatusText.h"
#include "platform/Preferences.h"

#include <QTimer>
#include <QUuid>

#include <cstdio>

namespace {

// The not-running marker in lastPID: the last cycle found no Charles.
constexpr qint32 notRunning = -1;

QString storedOrNewMachineId()
{
    if (std::optional<QString> stored = Preferences::stringForKey(Preferences::machineIdKey))
        return *stored;
    // A version-4 UUID in upper case. When the file cannot be written the
    // identifier still serves this run.
    const QString fresh = QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
    Preferences::setString(Preferences::machineIdKey, fresh);
    return fresh;
}

} // namespace

Advertiser::Advertiser(std::optional<qint64> port, std::unique_ptr<AdvertiserHost> host, QObject *parent)
    : QObject(parent)
    , m_host(std::move(host))
    , requestedPort(port)
    , id(storedOrNewMachineId())
{
}

Advertiser::~Advertiser() = default;

void Advertiser::start()
{
    update();
    // The timer is a child of nothing but owned here: destroying the
    // advertiser destroys it, so no firing can reach a destroyed advertiser.
    timer = std::make_unique<QTimer>();
    timer->setInterval(m_interval);
    connect(timer.get(), &QTimer::timeout, this, &Advertiser::update);
    timer->start();
}

void Advertiser::stop()
{
    timer.reset();
    stopService();
}

void Advertiser::setPort(qint64 port)
{
    stop();
    requestedPort = port;
    lastPort.reset();
    lastPID.reset();
    lastAddresses.clear();
    start();
}

void Advertiser::stopService()
{
    if (service) {
        service->stop();
        service.reset();
    }
}

void Advertiser::update()
{
    const std::vector<RunningApplication> applications = m_host->runningApplications();
    const RunningApplication *proxy = findProxyApplication(applications);
    if (!proxy)
        return proxyGone();
    const qint32 pid = proxy->processIdentifier;
    const qint64 port = requestedPort.value_or(defaultPort);
    const std::optional<QList<qint64>> ports = m_host->listeningPorts(pid);
    // An unknown answer is not an empty one: the publication and the status
    // stay as they are until the probe can tell again.
    if (!ports)
        return;
    if (!ports->contains(port)) {
        // A Charles that quit after the look above has no port either: look
        // again, so that its quit is said rather than a wait for its port.
        const std::vector<RunningApplication> again = m_host->runningApplications();
        const RunningApplication *still = findProxyApplication(again);
        if (!still || still->processIdentifier != pid)
            return proxyGone();
        // Said whenever it is not the last line, also after a line about no
        // address or a failed publication of this same process; report()
        // drops the repeats of later cycles.
        report(StatusText::waitingForPort(port));
        stopService();
        lastPort.reset();
        lastPID = pid;
        return;
    }

    const QStringList addresses = m_host->physicalAddresses();
    if (addresses.isEmpty()) {
        stopService();
        lastPort.reset();
        lastAddresses.clear();
        report(StatusText::noAddress);
        return;
    }

    if (lastPort == port && lastPID == pid && lastAddresses == addresses)
        return;

    if (service)
        service->stop();
    service = ServiceRecord::publish(m_host->publisher(), port, addresses, id, m_host->hostDisplayName(), this);
    lastPort = port;
    lastPID = pid;
    lastAddresses = addresses;
    report(StatusText::publishing(port));
}

void Advertiser::proxyGone()
{
    // The closing text stays the last line after a published Charles quits;
    // any other line left from when Charles ran (no address, a failed
    // publication) gives way to the waiting text. report() drops the repeats.
    if (service)
        report(StatusText::proxyQuit);
    else if (lastPID != notRunning || lastStatus != StatusText::proxyQuit)
        report(StatusText::waitingForLaunch);
    stopService();
    lastPort.reset();
    lastPID = notRunning;
}

void Advertiser::report(const QString &text)
{
    if (lastStatus == text)
        return;
    lastStatus = text;
    const QByteArray line = text.toUtf8() + '\n';
    std::fwrite(line.constData(), 1, size_t(line.size()), stdout);
    if (onStatus)
        onStatus(text);
}

void Advertiser::netServiceDidPublish(NetService *sender)
{
    if (!service || sender != service.get())
        return;
    report(StatusText::published(lastPort.value_or(defaultPort)));
}

void Advertiser::netServiceDidNotPublish(NetService *sender, const ErrorDictionary &error)
{
    if (!service || sender != service.get())
        return;
    report(StatusText::publishFailed(error));
    // Dropped without stop(): the registration never came about. The empty
    // lastPort makes the next cycle publish again.
    service.reset();
    lastPort.reset();
}
