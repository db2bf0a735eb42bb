// The advertiser's update cycle and events, driven one cycle at a time against
// a fake host.

#include "advertiser/Advertiser.h"
#include "advertiser/StatusText.h"
#include "platform/Preferences.h"
#include "support/FakeHost.h"
#include "support/TemporaryConfigHome.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QRegularExpression>
#include "support/QtPrinters.h"

#include <gtest/gtest.h>

namespace {

const QStringList twoAddresses{QStringLiteral("192.0.2.10"), QStringLiteral("2001:db8::10")};
const ErrorDictionary noDaemon{{QStringLiteral("errorCode"), -26}, {QStringLiteral("errorDomain"), 1}};

class AdvertiserTest : public ::testing::Test
{
protected:
    TemporaryConfigHome config;
    FakeHost *host = nullptr;
    std::unique_ptr<Advertiser> advertiser;
    QStringList reports;

    void make(std::optional<qint64> port = std::nullopt)
    {
        auto fake = std::make_unique<FakeHost>();
        host = fake.get();
        host->addresses = twoAddresses;
        advertiser = std::make_unique<Advertiser>(port, std::move(fake));
        // Long enough never to fire during a test: cycles are run by hand.
        advertiser->setInterval(std::chrono::hours(1));
        advertiser->onStatus = [this](const QString &text) { reports << text; };
    }
    void cycle() { AdvertiserTestAccess::update(*advertiser); }
    // The reports since the last call.
    QStringList take() { return std::exchange(reports, {}); }
    FakePublisher &publisher() { return host->fakePublisher; }
};

TEST_F(AdvertiserTest, AbsentProxyIsAnnouncedOnceThenQuiet)
{
    make();
    advertiser->start();
    EXPECT_EQ(take(), QStringList{StatusText::waitingForLaunch});
    for (int i = 0; i < 3; ++i)
        cycle();
    EXPECT_EQ(take(), QStringList{});
    EXPECT_TRUE(publisher().created.empty());
}

TEST_F(AdvertiserTest, PublishesThenConfirmsThenWithdrawsWhenProxyQuits)
{
    make();
    host->runCharles(4242);
    advertiser->start();
    EXPECT_EQ(take(), QStringList{StatusText::publishing(8888)});
    ASSERT_EQ(publisher().created.size(), 1u);
    FakeService &service = publisher().latest();
    EXPECT_EQ(service.domain, QStringLiteral("local."));
    EXPECT_EQ(service.type, QStringLiteral("_quillfen._tcp."));
    EXPECT_EQ(service.name, QStringLiteral("Quillfen-") + advertiser->machineId().left(8));
    EXPECT_EQ(service.port, 8888);
    EXPECT_TRUE(service.published);

    service.didPublish();
    EXPECT_EQ(take(), QStringList{QStringLiteral("可被 iPhone 发现 · Charles :8888")});

    cycle(); // nothing changed
    EXPECT_EQ(take(), QStringList{});
    EXPECT_EQ(publisher().created.size(), 1u);

    host->quitCharles();
    cycle();
    EXPECT_EQ(take(), QStringList{StatusText::proxyQuit});
    EXPECT_TRUE(publisher().wasStopped(0));
    EXPECT_FALSE(publisher().isAlive(0));
    cycle();
    EXPECT_EQ(take(), QStringList{});
}

TEST_F(AdvertiserTest, WaitingForPortIsSaidOncePerProcess)
{
    make();
    host->runCharles(100, {80, 443}); // listens, but not on 8888
    advertiser->start();
    EXPECT_EQ(take(), QStringList{QStringLiteral("等待 Charles 开启 HTTP 代理端口 8888")});
    cycle();
    EXPECT_EQ(take(), QStringList{});

    host->runCharles(101, {}); // restarted under a new pid, still without the port
    cycle();
    // Same text as before, so the repeat filter drops it; the cycle did choose it.
    EXPECT_EQ(take(), QStringList{});
    host->quitCharles();
    cycle();
    host->runCharles(102, {});
    cycle();
    EXPECT_EQ(take(), (QStringList{StatusText::waitingForLaunch, StatusText::waitingForPort(8888)}));
    EXPECT_TRUE(publisher().created.empty());

    host->ports[102] = {8888};
    cycle();
    EXPECT_EQ(take(), QStringList{StatusText::publishing(8888)});
}

TEST_F(AdvertiserTest, PortClosingAfterPublicationWithdrawsAndSaysSo)
{
    make();
    host->runCharles(7);
    advertiser->start();
    take();
    host->ports[7] = {};
    cycle();
    EXPECT_EQ(take(), QStringList{StatusText::waitingForPort(8888)});
    EXPECT_TRUE(publisher().wasStopped(0));
    EXPECT_FALSE(publisher().isAlive(0));
}

TEST_F(AdvertiserTest, RequestedPortIsTheOnlyOneThatCounts)
{
    make(9999);
    host->runCharles(7, {8888});
    advertiser->start();
    EXPECT_EQ(take(), QStringList{StatusText::waitingForPort(9999)});
    host->ports[7] = {8888, 9999};
    cycle();
    EXPECT_EQ(take(), QStringList{StatusText::publishing(9999)});
    EXPECT_EQ(publisher().latest().port, 9999);
}

TEST_F(AdvertiserTest, NoAddressWithdrawsAndLeavesTheProcessAlone)
{
    make();
    advertiser->start(); // absent: lastPID becomes the not-running marker
    take();
    host->addresses.clear();
    host->runCharles(55);
    cycle();
    EXPECT_EQ(take(), QStringList{StatusText::noAddress});
    host->quitCharles();
    cycle();
    // lastPID still held the not-running marker, so the quit is not announced.
    EXPECT_EQ(take(), QStringList{});

    host->runCharles(56);
    host->addresses = twoAddresses;
    cycle();
    EXPECT_EQ(take(), QStringList{StatusText::publishing(8888)});
    host->addresses.clear();
    cycle();
    EXPECT_EQ(take(), QStringList{StatusText::noAddress});
    EXPECT_TRUE(publisher().wasStopped(0));
    host->addresses = twoAddresses;
    cycle();
    EXPECT_EQ(take(), QStringList{StatusText::publishing(8888)});
    EXPECT_EQ(publisher().created.size(), 2u);
}

TEST_F(AdvertiserTest, RepublishesWhenTheAddressListChangesButNotTheName)
{
    make();
    host->runCharles(9);
    advertiser->start();
    take();
    const struct
    {
        QStringList addresses;
        bool republished;
    } changes[] = {
        {twoAddresses, false},
        {{QStringLiteral("2001:db8::10"), QStringLiteral("192.0.2.10")}, true}, // order
        {{QStringLiteral("2001:db8::10"), QStringLiteral("192.0.2.10"), QStringLiteral("192.0.2.11")}, true},
        {{QStringLiteral("192.0.2.11")}, true},
        {{QStringLiteral("192.0.2.11")}, false},
    };
    size_t expected = 1;
    for (const auto &change : changes) {
        host->addresses = change.addresses;
        host->displayName = QStringLiteral("Renamed %1").arg(expected);
        cycle();
        if (change.republished) {
            EXPECT_FALSE(publisher().latest().stopped);
            EXPECT_TRUE(publisher().wasStopped(expected - 1));
            EXPECT_FALSE(publisher().isAlive(expected - 1));
            ++expected;
        }
        EXPECT_EQ(publisher().created.size(), expected) << change.addresses.join(',').toStdString();
    }
    EXPECT_TRUE(publisher().latest().txt.contains("addresses=192.0.2.11"));
}

TEST_F(AdvertiserTest, FailedPublicationIsRetriedEveryCycle)
{
    make();
    host->runCharles(3);
    advertiser->start();
    for (int attempt = 0; attempt < 3; ++attempt) {
        FakeService &service = publisher().latest();
        service.didNotPublish(noDaemon);
        // Dropped without stop(): it never became a registration.
        EXPECT_FALSE(publisher().isAlive(publisher().created.size() - 1));
        cycle();
    }
    const QString failed = QStringLiteral("设备发现发布失败，请检查本地网络权限（[\"errorCode\": -26, \"errorDomain\": 1]）");
    EXPECT_EQ(take(), (QStringList{StatusText::publishing(8888), failed, StatusText::publishing(8888), failed,
                                   StatusText::publishing(8888), failed, StatusText::publishing(8888)}));
    EXPECT_EQ(publisher().created.size(), 4u);
}

TEST_F(AdvertiserTest, PortClosingAfterAFailureSaysNothingNew)
{
    make();
    host->runCharles(3);
    advertiser->start();
    publisher().latest().didNotPublish({});
    EXPECT_EQ(take().last(), QStringLiteral("设备发现发布失败，请检查本地网络权限（[:]）"));
    host->ports[3] = {};
    cycle();
    EXPECT_EQ(take(), QStringList{});
}

TEST_F(AdvertiserTest, EventsOfOtherServicesAreIgnored)
{
    make();
    host->runCharles(3);
    advertiser->start();
    NetServiceDelegate *delegate = publisher().latest().delegate;
    host->addresses = {QStringLiteral("192.0.2.99")};
    cycle(); // replaces the first service
    take();
    // An event from a service that is not the current one: the replaced one,
    // or any other.
    FakeService stranger;
    stranger.delegate = delegate;
    stranger.didPublish();
    stranger.didNotPublish(noDaemon);
    EXPECT_EQ(take(), QStringList{});

    advertiser->stop();
    EXPECT_TRUE(publisher().wasStopped(1));
    EXPECT_FALSE(publisher().isAlive(1));
    // The stopped service is gone, so nothing can report for it; a stray event
    // from anybody changes nothing either.
    stranger.didPublish();
    EXPECT_EQ(take(), QStringList{});
}

TEST_F(AdvertiserTest, SetPortRestartsEvenOnTheSamePort)
{
    make(8888);
    host->runCharles(3);
    advertiser->start();
    publisher().latest().didPublish();
    take();
    advertiser->setPort(8888);
    EXPECT_TRUE(publisher().wasStopped(0));
    EXPECT_FALSE(publisher().isAlive(0));
    ASSERT_EQ(publisher().created.size(), 2u);
    EXPECT_EQ(take(), QStringList{StatusText::publishing(8888)});

    advertiser->setPort(65535);
    EXPECT_EQ(take(), QStringList{StatusText::waitingForPort(65535)});
    host->quitCharles();
    cycle();
    EXPECT_EQ(take(), QStringList{StatusText::waitingForLaunch});
    // After setPort the process is forgotten, so the absence is announced again
    // unless it was already the last line.
    advertiser->setPort(8888);
    EXPECT_EQ(take(), QStringList{});
}

TEST_F(AdvertiserTest, FindsCharlesByIdentifierOrFolderFirstMatchWins)
{
    make();
    host->applications = {
        RunningApplication{std::nullopt, QStringLiteral("/opt/charles.app"), 1}, // case differs
        RunningApplication{QStringLiteral("com.xk72.charles"), std::nullopt, 2}, // case differs
        RunningApplication{QStringLiteral("com.xk72.Charles"), QStringLiteral("/opt/Proxy.app"), 3},
        RunningApplication{std::nullopt, QStringLiteral("/Applications/Charles.app"), 4},
    };
    for (qint32 pid : {1, 2, 3, 4})
        host->ports[pid] = {8888};
    advertiser->start();
    ASSERT_EQ(publisher().created.size(), 1u);
    host->applications.erase(host->applications.begin() + 2);
    cycle(); // pid 4 now: a new process, so a new publication
    ASSERT_EQ(publisher().created.size(), 2u);
    host->applications.pop_back();
    cycle();
    EXPECT_EQ(take().last(), StatusText::proxyQuit);
}

TEST_F(AdvertiserTest, RepeatedTextsAreDroppedOnlyBackToBack)
{
    make();
    advertiser->start(); // A: waiting for launch
    host->runCharles(5, {});
    cycle(); // B: waiting for port
    host->quitCharles();
    cycle(); // A again (the not-running marker was replaced by pid 5)
    cycle(); // nothing
    EXPECT_EQ(take(), (QStringList{StatusText::waitingForLaunch, StatusText::waitingForPort(8888),
                                   StatusText::waitingForLaunch}));
}

TEST(AdvertiserIdentity, MachineIdIsMadeOnceAndKeptAsStored)
{
    TemporaryConfigHome config;
    QString first;
    {
        Advertiser advertiser(std::nullopt, std::make_unique<FakeHost>());
        first = advertiser.machineId();
    }
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^[0-9A-F]{8}-[0-9A-F]{4}-4[0-9A-F]{3}-[89AB][0-9A-F]{3}-[0-9A-F]{12}$"))
                    .match(first)
                    .hasMatch())
        << first.toStdString();
    EXPECT_EQ(Preferences::stringForKey(Preferences::machineIdKey), first);
    EXPECT_EQ(Advertiser(8888, std::make_unique<FakeHost>()).machineId(), first);

    for (const QString &stored : {QStringLiteral(""), QStringLiteral("abc"), QStringLiteral("  lower-case id  ")}) {
        Preferences::setString(Preferences::machineIdKey, stored);
        EXPECT_EQ(Advertiser(std::nullopt, std::make_unique<FakeHost>()).machineId(), stored);
    }
}

TEST(AdvertiserTimer, CyclesFollowTheTimerAndStopWithIt)
{
    TemporaryConfigHome config;
    auto fake = std::make_unique<FakeHost>();
    FakeHost *host = fake.get();
    auto advertiser = std::make_unique<Advertiser>(std::nullopt, std::move(fake));
    advertiser->setInterval(std::chrono::milliseconds(5));
    advertiser->start();
    EXPECT_EQ(host->cycles, 1); // the first cycle runs at once
    QElapsedTimer clock;
    clock.start();
    while (host->cycles < 4 && clock.elapsed() < 10000)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    EXPECT_GE(host->cycles, 4);

    advertiser->stop();
    const int stoppedAt = host->cycles;
    clock.restart();
    while (clock.elapsed() < 50)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    EXPECT_EQ(host->cycles, stoppedAt);

    // Destroyed while running: nothing is left that could reach it.
    advertiser->start();
    advertiser.reset();
    clock.restart();
    while (clock.elapsed() < 50)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
}

TEST(StatusTextRendering, ErrorDictionaries)
{
    EXPECT_EQ(StatusText::renderErrorDictionary({}), QStringLiteral("[:]"));
    EXPECT_EQ(StatusText::renderErrorDictionary({{QStringLiteral("errorCode"), -8}}),
              QStringLiteral("[\"errorCode\": -8]"));
    EXPECT_EQ(StatusText::publishFailed(noDaemon),
              QStringLiteral("设备发现发布失败，请检查本地网络权限（[\"errorCode\": -26, \"errorDomain\": 1]）"));
    EXPECT_EQ(StatusText::published(8888).toUtf8(), QByteArray("可被 iPhone 发现 · Charles :8888"));
    // Byte counts of the fixed texts guard against look-alike characters.
    EXPECT_EQ(StatusText::waitingForLaunch.toUtf8().size(), 21);
    EXPECT_EQ(StatusText::proxyQuit.toUtf8().size(), 41);
    EXPECT_EQ(StatusText::noAddress.toUtf8().size(), 40);
    EXPECT_EQ(StatusText::waitingForPort(8888).toUtf8().size(), 44);
    EXPECT_EQ(StatusText::publishing(8888).toUtf8().size(), 47);
}

} // namespace
