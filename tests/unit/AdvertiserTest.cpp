// The advertiser's update cycle and events, driven step by step against a fake
// host. Each step: what changes in the world, the status lines reported, and
// how many services exist so far and whether one is held; "new" starts a
// scenario. After every step the publisher's rules are checked: at most one live
// registration, each replaced one stopped first, a failed one dropped without
// stop, each new one made for the current port and addresses.

#include "advertiser/Advertiser.h"
#include "platform/Preferences.h"
#include "support/FakeHost.h"
#include "support/QtPrinters.h"
#include "support/TemporaryConfigHome.h"

#include <QRegularExpression>
#include <QTest>
#include <gtest/gtest.h>

#include <set>

namespace {

// The status lines, byte for byte.
const QString waitingForLaunch = QStringLiteral("等待 Charles 启动"), proxyQuit = QStringLiteral("Charles 已关闭，等待重新启动。"),
              noAddress = QStringLiteral("未找到可用的 Wi-Fi 或有线地址");
QString waitingForPort(int port) { return QStringLiteral("等待 Charles 开启 HTTP 代理端口 %1").arg(port); }
QString publishing(int port) { return QStringLiteral("正在发布设备发现信息 · Charles :%1").arg(port); }
QString published(int port) { return QStringLiteral("可被 iPhone 发现 · Charles :%1").arg(port); }
const QString failed = QStringLiteral("设备发现发布失败，请检查本地网络权限（[\"errorCode\": -26, \"errorDomain\": 1]）");

// Runs one command line at a time against an advertiser on a fake host:
//   start | cycle | stop | setport N | charles PID [PORT,PORT|none|unknown] | quit | quits-when-probed |
//   apps APP@PID,... |
//   ports PID PORT,PORT|none|unknown | addresses A,B|none | name TEXT |
//   published | failed | failed-empty | stray
// Several commands may share a step, separated by ';'.
class Driver
{
public:
    explicit Driver(std::optional<qint64> port) : requested(port)
    {
        auto fake = std::make_unique<FakeHost>();
        host = fake.get();
        host->addresses = {QStringLiteral("192.0.2.10"), QStringLiteral("2001:db8::10")};
        advertiser = std::make_unique<Advertiser>(port, std::move(fake));
        advertiser->setInterval(std::chrono::hours(1)); // cycles are run by hand
        advertiser->onStatus = [this](const QString &text) { reports << text; };
    }

    void run(const QString &step)
    {
        for (const QString &command : step.split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
            runCommand(command.trimmed().split(QLatin1Char(' ')));
            checkPublisherRules();
        }
    }

    QStringList take() { return std::exchange(reports, {}); }
    size_t created() const { return host->fakePublisher.created.size(); }
    bool held() const { return created() > 0 && !host->fakePublisher.created.back()->destroyed; }

private:
    static std::optional<QList<qint64>> portList(const QString &text) // "none", "unknown" or PORT,PORT...
    {
        if (text == QLatin1String("unknown"))
            return std::nullopt;
        QList<qint64> ports;
        for (const QString &port : text.split(QLatin1Char(','), Qt::SkipEmptyParts))
            ports << port.toLongLong();
        return text == QLatin1String("none") ? QList<qint64>() : ports;
    }

    void runCommand(const QStringList &c)
    {
        const auto is = [&](const char *verb) { return c[0] == QLatin1String(verb); };
        const QString arg = c.value(1);
        if (is("start"))
            advertiser->start();
        else if (is("cycle"))
            AdvertiserTestAccess::update(*advertiser);
        else if (is("stop"))
            advertiser->stop();
        else if (is("setport"))
            advertiser->setPort(*(requested = arg.toLongLong()));
        else if (is("charles"))
            host->runCharles(arg.toInt(), portList(c.value(2, QStringLiteral("8888"))));
        else if (is("quit"))
            host->applications.clear();
        else if (is("quits-when-probed"))
            host->quitsWhenProbed = true;
        else if (is("apps")) { // BUNDLE-ID@PID or /BUNDLE/PATH@PID, in this order
            host->applications.clear();
            for (const QString &app : arg.split(QLatin1Char(','))) {
                const QString what = app.section(QLatin1Char('@'), 0, 0);
                const qint32 pid = app.section(QLatin1Char('@'), 1).toInt();
                host->applications.push_back(what.startsWith(QLatin1Char('/')) ? RunningApplication{{}, what, pid}
                                                                                : RunningApplication{what, {}, pid});
            }
        }
        else if (is("ports"))
            host->ports[arg.toInt()] = portList(c[2]);
        else if (is("addresses"))
            host->addresses = arg == QLatin1String("none") ? QStringList() : arg.split(QLatin1Char(','));
        else if (is("name"))
            host->displayName = c.mid(1).join(QLatin1Char(' '));
        else if (is("published"))
            host->fakePublisher.created.back()->didPublish();
        else if (is("failed") || is("failed-empty")) {
            dropped.insert(created() - 1);
            host->fakePublisher.created.back()->didNotPublish(is("failed") ? noDaemon : ErrorDictionary{});
        } else if (is("stray")) { // events from a service that is not the held one
            FakeServiceRecord record{};
            FakeService stranger(record);
            record.delegate = host->fakePublisher.created.front()->delegate;
            record.didPublish();
            record.didNotPublish(noDaemon);
        } else
            FAIL() << "unknown command " << c[0].toStdString();
    }

    // At most one live registration, each replaced one stopped first, a failed
    // one dropped without stop, each new one made for the current port and addresses.
    void checkPublisherRules()
    {
        for (size_t i = 0; i + 1 < created(); ++i) {
            EXPECT_TRUE(host->fakePublisher.created[i]->destroyed) << "service " << i << " outlived its successor";
            EXPECT_EQ(host->fakePublisher.created[i]->stopped, !dropped.count(i)) << "service " << i;
        }
        for (; checked < created(); ++checked) {
            const FakeServiceRecord &s = *host->fakePublisher.created[checked];
            EXPECT_EQ(s.domain + s.type + s.name, "local._quillfen._tcp.Quillfen-" + advertiser->machineId().left(8));
            EXPECT_TRUE(s.published);
            EXPECT_TRUE(s.txt.contains("addresses=" + host->addresses.join(QLatin1Char(',')).toUtf8()));
            EXPECT_EQ(s.port, requested.value_or(8888));
        }
    }

    const ErrorDictionary noDaemon{{QStringLiteral("errorCode"), -26}, {QStringLiteral("errorDomain"), 1}};
    FakeHost *host;
    std::unique_ptr<Advertiser> advertiser;
    std::optional<qint64> requested;
    QStringList reports;
    std::set<size_t> dropped;
    size_t checked = 0;
};

struct Step
{
    const char *commands; // "new [PORT]" first: fresh preferences and an advertiser for that port
    QStringList reports;
    size_t created;
    bool held;
};

const QString proxyWaitingForPort = waitingForPort(8888);

const Step steps[] = {
    // published, confirmed, unchanged, withdrawn when Charles quits.
    {"new; charles 4242; start", {publishing(8888)}, 1, true},
    {"published", {published(8888)}, 1, true},
    {"cycle; name Renamed", {}, 1, true},
    {"cycle", {}, 1, true}, // the display name alone changes nothing
    {"charles 4243; cycle", {publishing(8888)}, 2, true}, // a new process
    {"quit; cycle", {proxyQuit}, 2, false},
    {"cycle", {}, 2, false},
    // Charles quits between the look at the running applications and the probe.
    {"new; charles 4244; start; published", {publishing(8888), published(8888)}, 1, true},
    {"quits-when-probed; cycle", {proxyQuit}, 1, false},
    // waiting for the port is said once per process; a repeat is dropped only back to back.
    {"new; charles 100 80,443; start", {proxyWaitingForPort}, 0, false},
    {"cycle", {}, 0, false},
    {"charles 101 none; cycle", {}, 0, false}, // chosen again, dropped as a repeat
    {"quit; cycle; charles 102 none; cycle", {waitingForLaunch, proxyWaitingForPort}, 0, false},
    {"ports 102 8888; cycle", {publishing(8888)}, 1, true},
    {"ports 102 none; cycle", {proxyWaitingForPort}, 1, false},
    {"ports 102 8888; cycle", {publishing(8888)}, 2, true},
    // a stuck probe knows nothing: the publication and the line stay.
    {"ports 102 unknown; cycle; cycle", {}, 2, true},
    {"ports 102 8888; cycle", {}, 2, true},
    {"quit; charles 103 unknown; cycle", {}, 2, true}, // not even a new process is judged
    {"ports 103 none; cycle", {proxyWaitingForPort}, 2, false},
    // only the requested port counts.
    {"new 9999; charles 7 8888; start", {waitingForPort(9999)}, 0, false},
    {"ports 7 8888,9999; cycle; published", {publishing(9999), published(9999)}, 1, true},
    // absent Charles is said once; no address withdraws; the line always names the outcome.
    {"new; start; cycle; addresses none; charles 55; cycle", {waitingForLaunch, noAddress}, 0, false},
    {"quit; cycle; cycle", {waitingForLaunch}, 0, false}, // Charles left while no address was found
    {"charles 56; addresses 192.0.2.10; cycle", {publishing(8888)}, 1, true},
    {"addresses none; cycle", {noAddress}, 1, false},
    {"ports 56 none; addresses 192.0.2.10; cycle", {proxyWaitingForPort}, 1, false}, // the port is the problem now
    {"ports 56 8888; cycle", {publishing(8888)}, 2, true},
    // a new address list republishes: order, added, removed.
    {"new; charles 9; start", {publishing(8888)}, 1, true},
    {"addresses 2001:db8::10,192.0.2.10; cycle", {}, 2, true}, // same text, dropped as a repeat
    {"addresses 2001:db8::10,192.0.2.10,192.0.2.11; cycle", {}, 3, true},
    {"addresses 192.0.2.11; cycle; cycle", {}, 4, true},
    // a failed publication is retried every cycle.
    {"new; charles 3; start", {publishing(8888)}, 1, true},
    {"failed", {failed}, 1, false},
    {"cycle; failed", {publishing(8888), failed}, 2, false},
    {"cycle", {publishing(8888)}, 3, true},
    // the port closing after a failure replaces the failure line.
    {"new; charles 3; start; failed-empty", {publishing(8888), QStringLiteral("设备发现发布失败，请检查本地网络权限（[:]）")}, 1, false},
    {"ports 3 none; cycle; cycle", {proxyWaitingForPort}, 1, false},
    // events of other services change nothing.
    {"new; charles 3; start; addresses 192.0.2.99; cycle", {publishing(8888)}, 2, true},
    {"stray", {}, 2, true},
    {"stop; stray", {}, 2, false},
    // setPort restarts, even on the same port.
    {"new 8888; charles 3; start; published", {publishing(8888), published(8888)}, 1, true},
    {"setport 8888", {publishing(8888)}, 2, true},
    {"setport 65535", {waitingForPort(65535)}, 2, false},
    {"quit; cycle", {waitingForLaunch}, 2, false},
    {"setport 8888", {}, 2, false}, // said again, but it was already the last line
    // Charles is the first application with its bundle id, or a bundle named exactly Charles.app.
    {"new; apps /opt/charles.app@1,com.xk72.charles@2; ports 1 8888; ports 2 8888; start", {waitingForLaunch}, 0, false},
    {"apps com.xk72.Charles@3,/Applications/Charles.app@4; ports 3 8888; cycle", {publishing(8888)}, 1, true},
    {"apps /x/Charles.app.bak@5,/Applications/Charles.app@6; ports 5 8888; cycle", {proxyWaitingForPort}, 1, false},
    {"apps /x/MyCharles.app@7,/x/Charles.apps@8,com.xk72.Charles.beta@9; cycle", {waitingForLaunch}, 1, false},
};


TEST(Advertiser, Scenarios)
{
    std::unique_ptr<TemporaryConfigHome> config;
    std::unique_ptr<Driver> driver;
    for (const Step &step : steps) {
        SCOPED_TRACE(step.commands);
        QStringList commands = QString::fromUtf8(step.commands).split(QLatin1Char(';'));
        if (commands[0].startsWith(QLatin1String("new"))) {
            // The old folder goes before the new one comes, so that each puts
            // back what it found and nothing is written outside them.
            driver.reset();
            config.reset();
            config = std::make_unique<TemporaryConfigHome>();
            const QString port = commands.takeFirst().mid(4);
            driver = std::make_unique<Driver>(port.isEmpty() ? std::nullopt : std::optional<qint64>(port.toLongLong()));
        }
        driver->run(commands.join(QLatin1Char(';')));
        EXPECT_EQ(driver->take(), step.reports);
        EXPECT_EQ(driver->created(), step.created);
        EXPECT_EQ(driver->held(), step.held);
    }
}

TEST(Advertiser, MachineIdIsMadeOnceAndKeptAsStored)
{
    TemporaryConfigHome config;
    const auto machineId = [] { return Advertiser(std::nullopt, std::make_unique<FakeHost>()).machineId(); };
    const QString first = machineId();
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^[0-9A-F]{8}-[0-9A-F]{4}-4[0-9A-F]{3}-[89AB][0-9A-F]{3}-[0-9A-F]{12}$"))
                    .match(first).hasMatch()) << first.toStdString();
    EXPECT_EQ(machineId(), first);
    for (const QString &stored : {QStringLiteral(""), QStringLiteral("  lower-case id  ")}) {
        Preferences::setString(Preferences::machineIdKey, stored);
        EXPECT_EQ(machineId(), stored);
    }
}

TEST(Advertiser, CyclesFollowTheTimerAndStopWithIt)
{
    TemporaryConfigHome config;
    auto fake = std::make_unique<FakeHost>();
    const int &cycles = fake->cycles;
    auto advertiser = std::make_unique<Advertiser>(std::nullopt, std::move(fake));
    advertiser->setInterval(std::chrono::milliseconds(5));
    advertiser->start();
    EXPECT_EQ(cycles, 1); // the first cycle runs at once
    EXPECT_TRUE(QTest::qWaitFor([&] { return cycles >= 4; }, 10000));
    advertiser->stop();
    const int stoppedAt = cycles;
    EXPECT_FALSE(QTest::qWaitFor([&] { return cycles > stoppedAt; }, 50));
    advertiser->start();
    advertiser.reset(); // destroyed while running: nothing is left that could reach it
    QTest::qWait(50);
}

} // namespace
