// The Avahi publisher against a real avahi-daemon on the mac side of a test
// LAN, seen by avahi-browse on the phone side.
#include "platform/AvahiPublisher.h"

#include "support/EventLoopWait.h"
#include "support/TestLan.h"

#include <avahi-common/error.h>
#include <gtest/gtest.h>

#include <csignal>
#include <optional>
#include <vector>

using namespace std::chrono_literals;

namespace {

const QString serviceType = QStringLiteral("_quillfen._tcp.");
const QString serviceDomain = QStringLiteral("local.");

// What a delegate heard, and whether it heard it from inside publish().
class RecordingDelegate final : public NetServiceDelegate
{
public:
    struct Event
    {
        NetService *sender;
        bool published;
        ErrorDictionary error;
    };

    void netServiceDidPublish(NetService *sender) override
    {
        heardInsidePublish |= insidePublish;
        events.push_back({sender, true, {}});
    }
    void netServiceDidNotPublish(NetService *sender, const ErrorDictionary &error) override
    {
        heardInsidePublish |= insidePublish;
        events.push_back({sender, false, error});
    }

    // Publishes and checks that nothing was delivered from inside the call.
    void publish(NetService &service)
    {
        const size_t before = events.size();
        insidePublish = true;
        service.publish();
        insidePublish = false;
        EXPECT_EQ(events.size(), before) << "an event was delivered from inside publish()";
    }

    // A new service that reports to this delegate, published.
    std::unique_ptr<NetService> publishNew(NetServicePublisher &publisher, const QString &name, int port,
                                           const std::optional<QByteArray> &txt = std::nullopt)
    {
        auto service = publisher.createService(serviceDomain, serviceType, name, port);
        service->setDelegate(this);
        if (txt)
            service->setTXTRecordData(*txt);
        publish(*service);
        return service;
    }

    bool waitForEvents(size_t count, std::chrono::milliseconds timeout = 15s)
    {
        return waitUntil([&] { return events.size() >= count; }, timeout);
    }

    std::vector<Event> events;
    bool insidePublish = false;
    bool heardInsidePublish = false;
};

// Publishes fresh services under the name, as the update cycle would, until
// one is published: a client waiting for the daemon notices it only from the
// event loop. Null when none is published in time.
std::unique_ptr<NetService> publishUntilPublished(NetServicePublisher &publisher, RecordingDelegate &delegate,
                                                  const QString &name, int port)
{
    std::unique_ptr<NetService> service;
    const bool published = waitUntil([&] {
        if (!delegate.events.empty() && delegate.events.back().published)
            return true;
        if (service && delegate.events.empty())
            return false; // still publishing
        delegate.events.clear();
        service = delegate.publishNew(publisher, name, port);
        return false;
    }, 15s);
    return published ? std::move(service) : nullptr;
}

QByteArray txtRecord(const QList<QByteArray> &strings)
{
    QByteArray data;
    for (const QByteArray &string : strings) {
        data.append(char(string.size()));
        data.append(string);
    }
    return data;
}

ErrorDictionary avahiError(int code)
{
    return {{QStringLiteral("errorCode"), code}, {QStringLiteral("errorDomain"), 1}};
}

// Skips without root; fails when the LAN cannot be built.
#define REQUIRE_TEST_LAN(lan)                                                                                          \
    if (QString why; !TestLan::available(&why)) {                                                                       \
        GTEST_SKIP() << why.toStdString();                                                                             \
    }                                                                                                                  \
    TestLan lan;                                                                                                       \
    ASSERT_TRUE(lan.isUp()) << lan.error().toStdString();                                                              \
    if (!lan.useMacBus()) {                                                                                            \
        GTEST_SKIP() << "one test LAN per process (ctest runs each test alone)";                                      \
    }                                                                                                                  \
    static_assert(true)

struct RecordCase
{
    const char *what;
    const char *name;
    QList<QByteArray> txt;
    friend void PrintTo(const RecordCase &c, std::ostream *os) { *os << c.what; }
};

class AvahiPublisherRecord : public testing::TestWithParam<RecordCase>
{
};

TEST_P(AvahiPublisherRecord, PhoneResolvesTypeNamePortAndTxt)
{
    REQUIRE_TEST_LAN(lan);
    const RecordCase &c = GetParam();
    const QString name = QString::fromUtf8(c.name);
    auto phone = lan.startBrowser();
    AvahiPublisher publisher;
    RecordingDelegate delegate;
    auto service = delegate.publishNew(publisher, name, 8888, txtRecord(c.txt));

    ASSERT_TRUE(delegate.waitForEvents(1));
    EXPECT_FALSE(delegate.heardInsidePublish);
    EXPECT_EQ(delegate.events[0].sender, service.get());
    EXPECT_TRUE(delegate.events[0].published);

    const auto found = phone->waitForResolved(name, 15s);
    ASSERT_TRUE(found) << phone->errorOutput().toStdString();
    EXPECT_EQ(found->type, "_quillfen._tcp");
    EXPECT_EQ(found->domain, "local");
    EXPECT_EQ(found->host, TestLan::macHostName());
    EXPECT_EQ(found->port, 8888);
    EXPECT_EQ(found->txt, c.txt);
    EXPECT_EQ(found->interfaceName, TestLan::phoneInterface());
    EXPECT_TRUE(found->address == TestLan::macIPv4() || found->address == TestLan::macIPv6()
                || found->address.startsWith(QStringLiteral("fe80:")))
        << found->address.toStdString();

    // A phone that looks just now finds the same record.
    bool seenOnce = false;
    for (const BrowsedService &once : lan.browse()) {
        if (once.name == name) {
            seenOnce = true;
            EXPECT_EQ(once.port, 8888);
            EXPECT_EQ(once.txt, c.txt);
        }
    }
    EXPECT_TRUE(seenOnce) << lan.error().toStdString();

    EXPECT_EQ(delegate.events.size(), 1u); // no second event for a healthy service
}

INSTANTIATE_TEST_SUITE_P(
    Records, AvahiPublisherRecord,
    testing::Values(
        RecordCase{"Typical", "Quillfen-1234ABCD",
                   {"id=1234ABCD-0000-4000-8000-00000000CAFE", "name=Lab Mac", "version=1",
                    "addresses=192.0.2.10,2001:db8::10"}},
        // No TXT data: Avahi publishes the empty record itself.
        RecordCase{"EmptyTxt", "Quillfen-00000000", {}},
        // Bytes that avahi-browse escapes, in the name and in the TXT strings.
        RecordCase{"EscapedBytes", "Quillfen Jürgen's \"Mac\"; 1.2\\3",
                   {"name=J\xc3\xbcrgen \"Mac\" a;b\\c", "empty=", "flag", "addresses=fe80::1%en0"}}),
    [](const testing::TestParamInfo<RecordCase> &info) { return std::string(info.param.what); });

struct WithdrawCase
{
    const char *what;
    bool waitForPublished; // withdraw once published, or right after publish()
    bool destroy;          // destroy the service instead of stop()
    friend void PrintTo(const WithdrawCase &c, std::ostream *os) { *os << c.what; }
};

class AvahiPublisherWithdraw : public testing::TestWithParam<WithdrawCase>
{
};

TEST_P(AvahiPublisherWithdraw, PhoneSeesTheServiceGoAndNoEventFollows)
{
    REQUIRE_TEST_LAN(lan);
    const WithdrawCase &c = GetParam();
    const QString name = QStringLiteral("Quillfen-570P5700");
    auto phone = lan.startBrowser();
    AvahiPublisher publisher;
    RecordingDelegate delegate;
    auto service = delegate.publishNew(publisher, name, 8888, txtRecord({"version=1"}));
    if (c.waitForPublished) {
        ASSERT_TRUE(delegate.waitForEvents(1));
        ASSERT_TRUE(delegate.events[0].published);
        ASSERT_TRUE(phone->waitForResolved(name, 15s));
    }
    const size_t eventsBefore = delegate.events.size();
    const qsizetype mark = phone->mark();

    if (c.destroy)
        service.reset();
    else
        service->stop();

    if (c.waitForPublished) {
        EXPECT_TRUE(phone->waitForRemoved(name, 15s, mark));
    }
    // The daemon would have finished probing within this time.
    runEventLoopFor(3s);
    EXPECT_EQ(delegate.events.size(), eventsBefore);
    EXPECT_FALSE(phone->isPresent(name));
}

INSTANTIATE_TEST_SUITE_P(Withdraw, AvahiPublisherWithdraw,
                         testing::Values(WithdrawCase{"StopWhenPublished", true, false},
                                         WithdrawCase{"DestroyWhenPublished", true, true},
                                         WithdrawCase{"StopWhilePublishing", false, false},
                                         WithdrawCase{"DestroyWhilePublishing", false, true}),
                         [](const testing::TestParamInfo<WithdrawCase> &info) {
                             return std::string(info.param.what);
                         });

TEST(AvahiPublisher, NoDaemonGivesNoDaemonErrorThenPublishesOnceTheDaemonRuns)
{
    REQUIRE_TEST_LAN(lan);
    ASSERT_TRUE(lan.killDaemon(TestLan::Side::Mac)) << lan.error().toStdString();
    AvahiPublisher publisher;
    RecordingDelegate delegate;

    // A failed service destroyed before its event is delivered says nothing.
    auto dropped = delegate.publishNew(publisher, QStringLiteral("Quillfen-D0000000"), 8888);
    dropped.reset();

    auto service = delegate.publishNew(publisher, QStringLiteral("Quillfen-D0000001"), 8888);
    ASSERT_TRUE(delegate.waitForEvents(1));
    runEventLoopFor(200ms);
    ASSERT_EQ(delegate.events.size(), 1u);
    EXPECT_EQ(delegate.events[0].sender, service.get());
    EXPECT_FALSE(delegate.events[0].published);
    EXPECT_EQ(delegate.events[0].error, avahiError(AVAHI_ERR_NO_DAEMON));
    EXPECT_FALSE(delegate.heardInsidePublish);

    ASSERT_TRUE(lan.startDaemon(TestLan::Side::Mac)) << lan.error().toStdString();
    auto phone = lan.startBrowser();
    RecordingDelegate later;
    const auto next = publishUntilPublished(publisher, later, QStringLiteral("Quillfen-D0000002"), 8888);
    ASSERT_TRUE(next);
    EXPECT_TRUE(phone->waitForResolved(QStringLiteral("Quillfen-D0000002"), 15s));
}

TEST(AvahiPublisher, DaemonKilledWhilePublishedGivesDisconnectedThenRecovers)
{
    REQUIRE_TEST_LAN(lan);
    AvahiPublisher publisher;
    RecordingDelegate delegate;
    auto service = delegate.publishNew(publisher, QStringLiteral("Quillfen-K1110000"), 8888);
    ASSERT_TRUE(delegate.waitForEvents(1));
    ASSERT_TRUE(delegate.events[0].published);

    ASSERT_TRUE(lan.killDaemon(TestLan::Side::Mac, SIGKILL)) << lan.error().toStdString();
    ASSERT_TRUE(delegate.waitForEvents(2));
    EXPECT_EQ(delegate.events[1].sender, service.get());
    EXPECT_FALSE(delegate.events[1].published);
    EXPECT_EQ(delegate.events[1].error, avahiError(AVAHI_ERR_DISCONNECTED));
    service.reset();

    // While the daemon is away: no daemon.
    RecordingDelegate meanwhile;
    auto orphan = meanwhile.publishNew(publisher, QStringLiteral("Quillfen-K1110001"), 8888);
    ASSERT_TRUE(meanwhile.waitForEvents(1));
    EXPECT_EQ(meanwhile.events[0].error, avahiError(AVAHI_ERR_NO_DAEMON));

    ASSERT_TRUE(lan.startDaemon(TestLan::Side::Mac)) << lan.error().toStdString();
    auto phone = lan.startBrowser();
    RecordingDelegate after;
    const auto again = publishUntilPublished(publisher, after, QStringLiteral("Quillfen-K1110002"), 9999);
    ASSERT_TRUE(again);
    const auto found = phone->waitForResolved(QStringLiteral("Quillfen-K1110002"), 15s);
    ASSERT_TRUE(found);
    EXPECT_EQ(found->port, 9999);
}

struct CollisionCase
{
    const char *what;
    bool fromPhone; // the name is taken by the phone's daemon, or by ourselves
    friend void PrintTo(const CollisionCase &c, std::ostream *os) { *os << c.what; }
};

class AvahiPublisherCollision : public testing::TestWithParam<CollisionCase>
{
};

TEST_P(AvahiPublisherCollision, TakenNameGivesCollision)
{
    REQUIRE_TEST_LAN(lan);
    const QString name = QStringLiteral("Quillfen-C0111DE0");
    AvahiPublisher publisher;
    RecordingDelegate first;
    std::unique_ptr<NetService> ours;
    QProcess phonePublisher;
    if (GetParam().fromPhone) {
        // The phone holds the name first; the mac's probe meets its answer.
        const QStringList command =
            lan.phoneCommand({QStringLiteral("avahi-publish"), QStringLiteral("-s"), name,
                              QStringLiteral("_quillfen._tcp"), QStringLiteral("7777"), QStringLiteral("x=phone")});
        phonePublisher.setProcessChannelMode(QProcess::MergedChannels);
        phonePublisher.start(command.value(0), command.mid(1));
        QByteArray said;
        ASSERT_TRUE(waitUntil(
            [&] {
                said += phonePublisher.readAll();
                return said.contains("Established");
            },
            15s))
            << said.toStdString();
    } else {
        ours = first.publishNew(publisher, name, 8888);
        ASSERT_TRUE(first.waitForEvents(1));
        ASSERT_TRUE(first.events[0].published);
    }

    // Another port: records equal to the holder's would merely be shared.
    RecordingDelegate delegate;
    auto service = delegate.publishNew(publisher, name, 9999);
    ASSERT_TRUE(delegate.waitForEvents(1));
    EXPECT_EQ(delegate.events[0].sender, service.get());
    EXPECT_FALSE(delegate.events[0].published);
    EXPECT_EQ(delegate.events[0].error, avahiError(AVAHI_ERR_COLLISION));
    runEventLoopFor(500ms);
    EXPECT_EQ(delegate.events.size(), 1u);
    EXPECT_EQ(first.events.size(), GetParam().fromPhone ? 0u : 1u); // the holder keeps its name

    if (phonePublisher.state() != QProcess::NotRunning) {
        phonePublisher.kill();
        phonePublisher.waitForFinished();
    }
}

INSTANTIATE_TEST_SUITE_P(Collision, AvahiPublisherCollision,
                         testing::Values(CollisionCase{"TakenByThePhone", true},
                                         CollisionCase{"TakenInThisDaemon", false}),
                         [](const testing::TestParamInfo<CollisionCase> &info) {
                             return std::string(info.param.what);
                         });

TEST(AvahiPublisher, RegistrationThatDoesNotFinishTimesOut)
{
    REQUIRE_TEST_LAN(lan);
    AvahiPublisher publisher(500ms);
    RecordingDelegate delegate;
    auto service = delegate.publishNew(publisher, QStringLiteral("Quillfen-71E00000"), 8888);
    // Probing takes the daemon most of a second; frozen now, it never ends.
    const qint64 daemon = lan.daemonPid(TestLan::Side::Mac);
    ASSERT_GT(daemon, 0);
    ASSERT_EQ(::kill(pid_t(daemon), SIGSTOP), 0);
    const bool heard = delegate.waitForEvents(1, 10s);
    ::kill(pid_t(daemon), SIGCONT);
    ASSERT_TRUE(heard);
    EXPECT_EQ(delegate.events[0].sender, service.get());
    EXPECT_FALSE(delegate.events[0].published);
    EXPECT_EQ(delegate.events[0].error, avahiError(AVAHI_ERR_TIMEOUT));
    runEventLoopFor(2s); // the daemon, running again, may finish: nothing more is said
    EXPECT_EQ(delegate.events.size(), 1u);
}

TEST(AvahiPublisher, HostNameChangeFailsThePublishedServiceAndRepublishes)
{
    REQUIRE_TEST_LAN(lan);
    AvahiPublisher publisher;
    auto phone = lan.startBrowser();
    RecordingDelegate delegate;
    auto service = delegate.publishNew(publisher, QStringLiteral("Quillfen-4057C4A6"), 8888);
    ASSERT_TRUE(delegate.waitForEvents(1));
    ASSERT_TRUE(delegate.events[0].published);

    QByteArray output;
    ASSERT_EQ(TestLan::run(lan.macCommand({QStringLiteral("avahi-set-host-name"), QStringLiteral("qf-mac2")}),
                           &output),
              0)
        << output.toStdString();
    ASSERT_TRUE(delegate.waitForEvents(2));
    EXPECT_FALSE(delegate.events[1].published);
    EXPECT_EQ(delegate.events[1].error, avahiError(AVAHI_ERR_BAD_STATE));
    service.reset();

    RecordingDelegate after;
    auto again = after.publishNew(publisher, QStringLiteral("Quillfen-4057C4A6"), 8888);
    ASSERT_TRUE(after.waitForEvents(1));
    EXPECT_TRUE(after.events[0].published);
    // The phone may still hold the old record for a moment; the new one names
    // the new host.
    EXPECT_TRUE(waitUntil(
        [&] {
            for (const PhoneBrowser::Event &event : phone->events()) {
                if (event.kind == AvahiBrowseLine::Kind::Resolved && event.service.name == "Quillfen-4057C4A6"
                    && event.service.host == "qf-mac2.local")
                    return true;
            }
            return false;
        },
        15s));
}

} // namespace
