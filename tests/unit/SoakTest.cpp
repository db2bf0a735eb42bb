// Thousands of update cycles on a short interval while the fake Charles comes
// and goes, changes port and pid, and publications succeed or fail at random:
// the advertiser keeps its promises and its memory stays flat.

#include "advertiser/Advertiser.h"
#include "advertiser/StatusText.h"
#include "support/FakeHost.h"
#include "support/TemporaryConfigHome.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTimer>
#include "support/QtPrinters.h"

#include <gtest/gtest.h>

#include <random>

namespace {

qint64 residentKiB()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').first().toLongLong();
    return -1;
}

#if defined(__SANITIZE_ADDRESS__)
constexpr bool sanitized = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool sanitized = true;
#else
constexpr bool sanitized = false;
#endif
#else
constexpr bool sanitized = false;
#endif

TEST(Soak, ThousandsOfCyclesThroughChangingWorlds)
{
    TemporaryConfigHome config;
    auto fake = std::make_unique<FakeHost>();
    FakeHost *host = fake.get();
    host->addresses = {QStringLiteral("192.0.2.10")};
    Advertiser advertiser(std::nullopt, std::move(fake));
    advertiser.setInterval(std::chrono::milliseconds(1));

    QStringList reports;
    qint64 lastReported = 0;
    advertiser.onStatus = [&](const QString &text) {
        ASSERT_NE(reports.isEmpty() ? QString() : reports.last(), text) << "a repeat was passed on";
        reports << text;
        ++lastReported;
        if (reports.size() > 64)
            reports.removeFirst();
    };

    std::mt19937 random(20261206);
    auto chance = [&](int percent) { return int(random() % 100) < percent; };
    qint32 pid = 1000;
    bool running = false;
    qint64 rssAtWarmUp = 0;

    // Each cycle begins by listing the running applications: change the world
    // there, and answer the newest publication later, as a real publisher would.
    const int cycles = 4000;
    host->onCycle = [&] {
        if (host->cycles == 500)
            rssAtWarmUp = residentKiB();
        if (chance(3))
            running = !running;
        if (chance(2))
            ++pid;
        if (running)
            host->runCharles(pid, chance(90) ? QList<qint64>{8888} : QList<qint64>{8080});
        else
            host->quitCharles();
        if (chance(5))
            host->addresses = chance(20) ? QStringList{} : QStringList{QStringLiteral("192.0.2.%1").arg(random() % 4)};
        if (chance(1)) {
            const qint64 port = chance(50) ? 8888 : 9999;
            QTimer::singleShot(0, &advertiser, [&advertiser, port] { advertiser.setPort(port); });
        }

        FakePublisher &publisher = host->fakePublisher;
        size_t alive = 0;
        for (size_t i = 0; i < publisher.created.size(); ++i)
            alive += publisher.isAlive(i) && !publisher.wasStopped(i);
        EXPECT_LE(alive, 1u) << "more than one registration at once";
        if (publisher.created.empty())
            return;
        const size_t newest = publisher.created.size() - 1;
        const bool fail = chance(10);
        QTimer::singleShot(0, &advertiser, [&publisher, newest, fail] {
            if (!publisher.isAlive(newest) || publisher.wasStopped(newest))
                return;
            if (fail)
                publisher.created[newest]->didNotPublish({{QStringLiteral("errorCode"), -26}});
            else
                publisher.created[newest]->didPublish();
        });
    };

    advertiser.start();
    QElapsedTimer clock;
    clock.start();
    while (host->cycles < cycles && clock.elapsed() < 120000)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 100);
    advertiser.stop();
    ASSERT_GE(host->cycles, cycles);
    EXPECT_GT(lastReported, 100);

    // At most one registration is alive, and only while the advertiser runs.
    size_t alive = 0;
    for (size_t i = 0; i < host->fakePublisher.created.size(); ++i)
        alive += host->fakePublisher.isAlive(i);
    EXPECT_EQ(alive, 0u);

    if (!sanitized) {
        const qint64 growth = residentKiB() - rssAtWarmUp;
        EXPECT_LT(growth, 2048) << "resident memory grew by " << growth << " KiB";
    }
}

} // namespace
