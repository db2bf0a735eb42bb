// What real machines do to the program, end to end in the test LAN: the
// daemon absent or killed, the proxy killed, addresses coming and going, the
// program itself killed, a second copy with the same name. Each case ends with
// the phone seeing the right record again once the cause is gone.

#include "ProgramOnTheLan.h"

#include <algorithm>

using namespace std::chrono_literals;
using namespace LanTexts;

namespace {

using Fault = ProgramOnTheLan;

// What finds the instance now: a phone that starts looking (its daemon's
// cache included), or on the mac side the daemon that holds it. A continuous
// browser resolves an instance once and misses a record replaced under the
// same name, so changes are checked with fresh looks.
QList<BrowsedService> foundNow(TestLan &lan, const QString &name, TestLan::Side side = TestLan::Side::Phone)
{
    QList<BrowsedService> found;
    for (const BrowsedService &service : lan.browse(QStringLiteral("_quillfen._tcp"), side))
        if (service.name == name)
            found.append(service);
    return found;
}

std::string describe(const QList<BrowsedService> &found)
{
    if (found.isEmpty())
        return "(nothing found)";
    std::string text;
    for (const BrowsedService &service : found)
        text += (service.interfaceName + QLatin1Char('/') + service.protocol + QLatin1Char(' ')
                 + QString::number(service.port) + QStringLiteral(" addresses=")
                 + QString::fromUtf8(service.txtValue("addresses").value_or("(none)")) + QLatin1Char('\n'))
                    .toStdString();
    return text;
}

// Looks again and again until something is found and every entry passes.
template <typename Check>
bool waitUntilFound(TestLan &lan, const QString &name, Check check, std::chrono::milliseconds timeout,
                    QList<BrowsedService> *last, TestLan::Side side = TestLan::Side::Phone)
{
    return waitUntil([&] {
        *last = foundNow(lan, name, side);
        return !last->isEmpty() && std::all_of(last->cbegin(), last->cend(), check);
    }, timeout);
}

auto addressesAre(const QByteArray &expected)
{
    return [expected](const BrowsedService &service) { return service.txtValue("addresses") == expected; };
}

auto portIs(int port)
{
    return [port](const BrowsedService &service) { return service.port == port; };
}

const QByteArray routable = "192.0.2.10,2001:db8::10";

TEST_F(Fault, DaemonNotRunningAtStartThenStarted)
{
    ASSERT_TRUE(lan->killDaemon(TestLan::Side::Mac, SIGTERM));
    charles = startCharles();
    quillfen = startProgram();
    ASSERT_TRUE(quillfen->waitForLineStartingWith(publishFailedPrefix, 15s)) << transcript(*quillfen);
    EXPECT_TRUE(quillfen->lines().last().contains(QStringLiteral("-26"))) << transcript(*quillfen);

    const qsizetype mark = quillfen->lines().size();
    ASSERT_TRUE(lan->startDaemon(TestLan::Side::Mac));
    ASSERT_TRUE(quillfen->waitForLine(published(8888), 15s, mark)) << transcript(*quillfen);
    EXPECT_TRUE(phone->waitForResolved(instanceName(), 15s));
    EXPECT_TRUE(quillfen->isRunning());
}

TEST_F(Fault, DaemonKilledWhilePublishedThenStartedAgain)
{
    ASSERT_NO_FATAL_FAILURE(startPublished());
    const QString name = instanceName();
    ASSERT_TRUE(phone->waitForResolved(name, 15s));

    qsizetype mark = quillfen->lines().size();
    ASSERT_TRUE(lan->killDaemon(TestLan::Side::Mac, SIGKILL));
    ASSERT_TRUE(quillfen->waitForLineStartingWith(publishFailedPrefix, 15s, mark)) << transcript(*quillfen);
    EXPECT_TRUE(quillfen->lines().last().contains(QStringLiteral("-23"))) << transcript(*quillfen);

    // A killed daemon sends no goodbye, so the phone still remembers the
    // service; the new daemon must hold it again.
    mark = quillfen->lines().size();
    ASSERT_TRUE(lan->startDaemon(TestLan::Side::Mac));
    ASSERT_TRUE(quillfen->waitForLine(published(8888), 15s, mark)) << transcript(*quillfen);
    QList<BrowsedService> found;
    EXPECT_TRUE(waitUntilFound(*lan, name, portIs(8888), 10s, &found, TestLan::Side::Mac)) << describe(found);
    EXPECT_TRUE(waitUntilFound(*lan, name, addressesAre(routable), 10s, &found)) << describe(found);
    EXPECT_TRUE(quillfen->isRunning());
}

TEST_F(Fault, ProxyKilledAndStartedUnderANewProcess)
{
    ASSERT_NO_FATAL_FAILURE(startPublished());
    const QString name = instanceName();
    ASSERT_TRUE(phone->waitForResolved(name, 15s));

    qsizetype phoneMark = phone->mark();
    charles->kill(SIGKILL);
    ASSERT_TRUE(quillfen->waitForLine(proxyQuit, 10s)) << transcript(*quillfen);
    EXPECT_TRUE(phone->waitForRemoved(name, 10s, phoneMark));

    const qsizetype mark = quillfen->lines().size();
    phoneMark = phone->mark();
    charles = startCharles();
    ASSERT_TRUE(quillfen->waitForLine(published(8888), 15s, mark)) << transcript(*quillfen);
    EXPECT_TRUE(phone->waitForResolved(name, 15s, phoneMark));
}

TEST_F(Fault, AddressesOfEn0AreFollowed)
{
    ASSERT_NO_FATAL_FAILURE(startPublished());
    const QString name = instanceName();
    QList<BrowsedService> found;
    ASSERT_TRUE(waitUntilFound(*lan, name, addressesAre(routable), 15s, &found)) << describe(found);

    // One added, then taken away again.
    ASSERT_TRUE(lan->addMacAddress(QStringLiteral("198.51.100.7/24")));
    EXPECT_TRUE(waitUntilFound(*lan, name, [](const BrowsedService &service) {
        return service.txtValue("addresses").value_or("").contains("198.51.100.7");
    }, 20s, &found)) << describe(found);
    ASSERT_TRUE(lan->removeMacAddress(QStringLiteral("198.51.100.7/24")));
    EXPECT_TRUE(waitUntilFound(*lan, name, addressesAre(routable), 20s, &found)) << describe(found);

    // Only the link-local address left: it is published, without its zone.
    // The mac has no IPv4 left to send its goodbye over, so what the phone
    // heard over IPv4 stays in its cache until it expires; IPv6 carries the
    // new record.
    ASSERT_TRUE(lan->removeMacAddress(QStringLiteral("192.0.2.10/24")));
    ASSERT_TRUE(lan->removeMacAddress(QStringLiteral("2001:db8::10/64")));
    EXPECT_TRUE(waitUntil([&] {
        found = foundNow(*lan, name);
        return std::any_of(found.cbegin(), found.cend(), [](const BrowsedService &service) {
            const QByteArray seen = service.txtValue("addresses").value_or("");
            return service.protocol == QStringLiteral("IPv6") && seen.startsWith("fe80::") && !seen.contains(',')
                   && !seen.contains('%');
        });
    }, 25s)) << describe(found) << transcript(*quillfen);

    // Back to the routable addresses.
    ASSERT_TRUE(lan->addMacAddress(QStringLiteral("192.0.2.10/24")));
    ASSERT_TRUE(lan->addMacAddress(QStringLiteral("2001:db8::10/64")));
    EXPECT_TRUE(waitUntilFound(*lan, name, addressesAre(routable), 25s, &found)) << describe(found);
    EXPECT_TRUE(quillfen->isRunning());
}

TEST_F(Fault, EveryAddressGoneThenBack)
{
    ASSERT_NO_FATAL_FAILURE(startPublished());
    const QString name = instanceName();

    // en0 down: no address at all, and nothing left to publish.
    qsizetype mark = quillfen->lines().size();
    ASSERT_EQ(TestLan::run(lan->macCommand({"ip", "link", "set", "en0", "down"})), 0);
    ASSERT_TRUE(quillfen->waitForLine(noAddress, 10s, mark)) << transcript(*quillfen);
    EXPECT_TRUE(foundNow(*lan, name, TestLan::Side::Mac).isEmpty());

    mark = quillfen->lines().size();
    ASSERT_EQ(TestLan::run(lan->macCommand({"ip", "link", "set", "en0", "up"})), 0);
    // The kernel drops IPv6 addresses with the link; put ours back.
    lan->addMacAddress(QStringLiteral("2001:db8::10/64"));
    ASSERT_TRUE(quillfen->waitForLine(published(8888), 25s, mark)) << transcript(*quillfen);
    QList<BrowsedService> found;
    EXPECT_TRUE(waitUntilFound(*lan, name, portIs(8888), 10s, &found, TestLan::Side::Mac)) << describe(found);
    EXPECT_TRUE(waitUntilFound(*lan, name, addressesAre(routable), 20s, &found)) << describe(found);
}

TEST_F(Fault, ProgramKilledWhilePublished)
{
    ASSERT_NO_FATAL_FAILURE(startPublished());
    const QString name = instanceName();
    ASSERT_TRUE(phone->waitForResolved(name, 15s));

    const qsizetype phoneMark = phone->mark();
    quillfen->kill(SIGKILL);
    // The daemon withdraws what a vanished client registered.
    EXPECT_TRUE(phone->waitForRemoved(name, 15s, phoneMark));
}

// Another machine on the LAN holds our instance name (a copied preferences
// file carries the identifier along). Ours fails with a collision on every
// cycle, keeps running, and takes the name once the holder leaves.
TEST_F(Fault, NameHeldByAnotherMachineUntilItLeaves)
{
    Preferences::setString(Preferences::machineIdKey, QStringLiteral("C0111DE0-0000-4000-8000-000000000001"));
    const QString name = instanceName();
    ASSERT_EQ(name, QStringLiteral("Quillfen-C0111DE0"));
    RunningProgram holder(lan->phoneCommand({QStringLiteral("avahi-publish"), QStringLiteral("-s"), name,
                                             QStringLiteral("_quillfen._tcp"), QStringLiteral("7777"),
                                             QStringLiteral("x=other")}));
    ASSERT_TRUE(waitUntil([&] {
        return holder.errorOutput().contains("Established") || holder.lines().join(' ').contains("Established");
    }, 15s)) << transcript(holder);

    charles = startCharles();
    quillfen = startProgram();
    ASSERT_TRUE(quillfen->waitForLineStartingWith(publishFailedPrefix, 20s)) << transcript(*quillfen);
    EXPECT_TRUE(quillfen->lines().last().contains(QStringLiteral("-8"))) << transcript(*quillfen);
    runEventLoopFor(7s); // more cycles of trying
    ASSERT_TRUE(quillfen->isRunning());
    EXPECT_FALSE(quillfen->lines().contains(published(8888))) << transcript(*quillfen);

    const qsizetype mark = quillfen->lines().size();
    holder.kill(SIGTERM);
    ASSERT_TRUE(quillfen->waitForLine(published(8888), 20s, mark)) << transcript(*quillfen);
    QList<BrowsedService> found;
    EXPECT_TRUE(waitUntilFound(*lan, name, portIs(8888), 15s, &found)) << describe(found);
}

} // namespace
