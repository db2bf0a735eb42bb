// The probes against the real host: processes in the real /proc and their
// sockets through the real lsof, tools that fail in each way lsof can, and the
// interfaces of a network namespace made here.

#include "advertiser/ListeningPorts.h"
#include "advertiser/PhysicalAddresses.h"
#include "platform/RunningApplications.h"
#include "support/CharlesCommandLines.h"
#include "support/QtPrinters.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <QTemporaryFile>
#include <QThread>
#include <gtest/gtest.h>

#include <future>
#include <list>

#include <sched.h>
#include <sys/file.h>
#include <sys/wait.h>

namespace {

const QString tools = QStringLiteral(QUILLFEN_BINARY_DIR "/tests/tools/");

// Stand-ins run under each Charles command line, from an executable of the
// same file name, listening as Java does (the IPv6 wildcard only, IPv4 too); a
// bundled program listening over IPv4 and IPv6; a script run from a bundle
// folder. Each is found where it is, Charles's are recognised, lsof gives
// each one's sockets, and nothing once it has gone.
TEST(RunningApplicationsSystem, RealProcessesAndSockets)
{
    QTemporaryDir dir;
    const QString folder = QDir(dir.path()).canonicalPath() + QLatin1Char('/');
    QFile script(folder + "Other.app/run.sh");
    ASSERT_TRUE(QDir().mkpath(folder + "Something.app/Contents/MacOS") && QDir().mkpath(folder + "Other.app"));
    ASSERT_TRUE(script.open(QIODevice::WriteOnly) && script.write("sleep 30\n") > 0);
    script.close();
    struct StandIn
    {
        QString program;
        QStringList args;
        std::optional<QString> id, location;
        int sockets;
        std::unique_ptr<QProcess> process = std::make_unique<QProcess>();
    };
    std::vector<StandIn> standIns;
    standIns.push_back({"/bin/sh", {"Other.app/run.sh"}, std::nullopt, folder + "Other.app", 0});
    standIns.push_back({folder + "Something.app/Contents/MacOS/Something", {"0"}, std::nullopt, folder + "Something.app", 2});
    for (const CharlesCommandLine &c : charlesCommandLines)
        standIns.push_back({folder + QFileInfo(c.executable).fileName(), QStringList{"--as", "0"} + c.arguments(),
                            c.isCharles ? std::optional<QString>("com.xk72.Charles") : std::nullopt, std::nullopt, 1});
    for (StandIn &s : standIns) {
        QFile::copy(tools + "fake_proxy", s.program); // fails, as it should, for /bin/sh and a second "java"
        s.process->setWorkingDirectory(folder);
        s.process->start(s.program, s.args);
        ASSERT_TRUE(s.sockets ? s.process->waitForReadyRead(5000) : s.process->waitForStarted()) << "no \"listening PORT\"";
    }

    const std::vector<RunningApplication> apps = RunningApplicationScanner().runningApplications();
    const auto find = [&](qint64 pid) {
        const auto app = std::find_if(apps.begin(), apps.end(), [&](const auto &a) { return a.processIdentifier == pid; });
        return app == apps.end() ? nullptr : &*app;
    };
    EXPECT_TRUE(std::is_sorted(apps.begin(), apps.end(), [](const auto &a, const auto &b) {
        return a.processIdentifier < b.processIdentifier;
    }));
    EXPECT_TRUE(find(QCoreApplication::applicationPid()));
    ListeningPortProbe probe;
    for (StandIn &s : standIns) {
        SCOPED_TRACE((s.program + QLatin1Char(' ') + s.args.join(QLatin1Char(' '))).toStdString());
        const RunningApplication *app = find(s.process->processId());
        ASSERT_TRUE(app);
        EXPECT_EQ(app->bundleIdentifier, s.id);
        EXPECT_EQ(app->bundleLocation, s.location);
        const qint64 port = s.process->readAllStandardOutput().mid(10).trimmed().toLongLong();
        EXPECT_EQ(probe.listeningPorts(app->processIdentifier), QList<qint64>(s.sockets, port));
        s.process->kill();
        s.process->waitForFinished();
        EXPECT_EQ(probe.listeningPorts(app->processIdentifier), QList<qint64>{}) << "gone";
    }
}

// A missing tool, one that is no executable, one that hangs and is killed at
// the bound, and one that outlives its kill (while this test holds a lock):
// nothing, within the bound; no second tool while one is stuck; the stuck one
// reaped by a later call once it can be.
TEST(ListeningPortsSystem, FailingToolsGiveNothingWithinTheBound)
{
    QTemporaryFile lock;
    ASSERT_TRUE(lock.open() && flock(lock.handle(), LOCK_EX) == 0);
    const struct
    {
        QString tool;
        bool outlivesKill;
    } cases[] = {{"/nonexistent/lsof", false}, {"/etc/hostname", false}, {tools + "hang_tool", false}, {tools + "hang_tool", true}};
    std::list<ListeningPortProbe> probes;
    for (const auto &c : cases) {
        SCOPED_TRACE(c.tool.toStdString());
        c.outlivesKill ? qputenv("HANG_TOOL_HOLD", QFile::encodeName(lock.fileName())) : qunsetenv("HANG_TOOL_HOLD");
        ListeningPortProbe &probe = probes.emplace_back(c.tool, std::chrono::seconds(1));
        QElapsedTimer clock;
        clock.start();
        EXPECT_EQ(probe.listeningPorts(1), QList<qint64>{});
        EXPECT_EQ(probe.listeningPorts(1), QList<qint64>{});
        EXPECT_LT(clock.elapsed(), 4000) << "the bound did not hold";
        EXPECT_EQ(probe.unreapedTools(), c.outlivesKill ? 1 : 0) << "a second tool started, or one was not reaped";
    }

    flock(lock.handle(), LOCK_UN);
    qunsetenv("HANG_TOOL_HOLD");
    for (int i = 0; i < 100 && probes.back().unreapedTools() > 0; ++i) {
        QThread::msleep(200);
        EXPECT_EQ(probes.back().listeningPorts(1), QList<qint64>{});
    }
    EXPECT_EQ(probes.back().unreapedTools(), 0);
    EXPECT_EQ(waitpid(-1, nullptr, WNOHANG), -1) << "a child was left behind";
}

// physicalAddresses() in a network namespace of its own after `script` has
// set it up; nullopt when there are no namespaces here. A thread of its own
// goes into the namespace: it belongs to the thread, and goes with it.
std::optional<QString> addressesAfter(const QByteArray &script)
{
    return std::async(std::launch::async, [&]() -> std::optional<QString> {
        if (unshare(CLONE_NEWNET) != 0)
            return std::nullopt;
        return system(script.constData()) == 0 ? physicalAddresses().join(QLatin1Char(' ')) : QStringLiteral("no set-up");
    }).get();
}

TEST(PhysicalAddressesSystem, RealInterfacesInANamespace)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root for network namespaces";
    // l NAME PEER-STATE STATE ADDRESS: a veth pair (carrier only while the
    // peer is up), without the link-local address the kernel would add.
    const QByteArray link = "set -e; l() { ip link add $1 type veth peer name p$1; ip link set $1 addrgenmode none;"
                            "ip link set p$1 $2; ip link set $1 $3; ip addr add $4 dev $1; };";
    const struct
    {
        QByteArray script;
        QString addresses;
    } cases[] = {
        {"true", ""},
        // lo and docker0 are no wired or Wi-Fi interfaces, eth1 has no carrier
        // and eth2 is down; fe80::1 is left out as routable addresses exist.
        {"ip link set lo up; l en0 up up 198.51.100.7/24; l wlan0 up up 192.0.2.30/24; l docker0 up up 203.0.113.1/24;"
         "l eth1 down up 192.0.2.40/24; l eth2 up down 192.0.2.50/24; ip addr add 192.0.2.10/24 dev en0;"
         "ip addr add 2001:db8::10/64 dev en0 nodad; ip addr add fe80::1/64 dev en0 nodad",
         "192.0.2.10 192.0.2.30 198.51.100.7 2001:db8::10"},
        {"l en0 up up 169.254.10.20/16; ip addr add fe80::1/64 dev en0 nodad", "169.254.10.20 fe80::1"}, // no zone
    };
    for (const auto &c : cases) {
        const std::optional<QString> found = addressesAfter(link + c.script);
        if (!found)
            GTEST_SKIP() << "network namespaces are not available";
        EXPECT_EQ(*found, c.addresses) << c.script.toStdString();
    }
}

} // namespace
