// The two probes against the real host: lsof on sockets this test opens, and
// the interface enumeration inside a network namespace this test creates.

#include "advertiser/ListeningPorts.h"
#include "advertiser/PhysicalAddresses.h"
#include "support/QtPrinters.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryFile>
#include <QThread>
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sched.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// A listening socket on a free port; returns the port.
int listenOn(int family, int port, int *fd)
{
    *fd = socket(family, SOCK_STREAM, 0);
    const int on = 1;
    if (family == AF_INET6) {
        setsockopt(*fd, IPPROTO_IPV6, IPV6_V6ONLY, &on, sizeof on);
        sockaddr_in6 a{};
        a.sin6_family = AF_INET6;
        a.sin6_addr = in6addr_loopback;
        a.sin6_port = htons(uint16_t(port));
        if (bind(*fd, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0)
            return -1;
    } else {
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        a.sin_port = htons(uint16_t(port));
        if (bind(*fd, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0)
            return -1;
    }
    listen(*fd, 4);
    sockaddr_storage bound{};
    socklen_t length = sizeof bound;
    getsockname(*fd, reinterpret_cast<sockaddr *>(&bound), &length);
    return family == AF_INET6 ? ntohs(reinterpret_cast<sockaddr_in6 *>(&bound)->sin6_port)
                              : ntohs(reinterpret_cast<sockaddr_in *>(&bound)->sin_port);
}

TEST(ListeningPortsSystem, RealLsofOnRealSockets)
{
    ListeningPortProbe probe;
    const qint32 self = qint32(QCoreApplication::applicationPid());
    EXPECT_EQ(probe.listeningPorts(self), QList<qint64>{}) << "this process listens on nothing yet";

    int v4 = -1, v6 = -1;
    const int port = listenOn(AF_INET, 0, &v4);
    ASSERT_GT(port, 0);
    ASSERT_EQ(listenOn(AF_INET6, port, &v6), port);
    EXPECT_EQ(probe.listeningPorts(self), (QList<qint64>{port, port}));
    close(v4);
    close(v6);

    EXPECT_EQ(probe.listeningPorts(self), QList<qint64>{});
    EXPECT_EQ(probe.listeningPorts(0x7ffffff0), QList<qint64>{}) << "no such process";
}

TEST(ListeningPortsSystem, MissingOrHangingToolGivesNothing)
{
    EXPECT_EQ(ListeningPortProbe(QStringLiteral("/nonexistent/lsof")).listeningPorts(1), QList<qint64>{});
    EXPECT_EQ(ListeningPortProbe(QStringLiteral("/etc/hostname")).listeningPorts(1), QList<qint64>{}); // not executable

    // The tool outlives its kill until this test lets go of the lock.
    QTemporaryFile lock;
    ASSERT_TRUE(lock.open());
    ASSERT_EQ(flock(lock.handle(), LOCK_EX), 0);
    qputenv("HANG_TOOL_HOLD", QFile::encodeName(lock.fileName()));
    const auto bound = std::chrono::seconds(1);
    ListeningPortProbe probe(QStringLiteral(QUILLFEN_BINARY_DIR "/tests/tools/hang_tool"), bound);
    QElapsedTimer clock;
    clock.start();
    EXPECT_EQ(probe.listeningPorts(1), QList<qint64>{});
    EXPECT_EQ(probe.listeningPorts(1), QList<qint64>{}) << "no second tool while the first is stuck";
    EXPECT_LT(clock.elapsed(), 4000) << "the bound did not hold";
    EXPECT_EQ(probe.unreapedTools(), 1);

    // Let go: the next call reaps it, then runs a tool that dies at its kill.
    flock(lock.handle(), LOCK_UN);
    qunsetenv("HANG_TOOL_HOLD");
    QElapsedTimer released;
    released.start();
    while (probe.unreapedTools() > 0 && released.elapsed() < 20000) {
        QThread::msleep(20);
        EXPECT_EQ(probe.listeningPorts(1), QList<qint64>{});
    }
    EXPECT_EQ(probe.unreapedTools(), 0);
    EXPECT_EQ(waitpid(-1, nullptr, WNOHANG), -1) << "a child was left behind";
}

// Runs `body` in a child process inside a fresh network namespace and returns
// what it wrote, or nothing when namespaces are not available here.
std::optional<QByteArray> inNetworkNamespace(const std::function<QByteArray()> &body)
{
    int pipeFds[2];
    if (pipe(pipeFds) != 0)
        return std::nullopt;
    const pid_t child = fork();
    if (child == 0) {
        close(pipeFds[0]);
        QByteArray out = unshare(CLONE_NEWNET) == 0 ? body() : QByteArray("unshare failed");
        if (write(pipeFds[1], out.constData(), size_t(out.size())) < 0)
            _exit(2);
        _exit(0);
    }
    close(pipeFds[1]);
    QByteArray result;
    char buffer[4096];
    ssize_t n;
    while ((n = read(pipeFds[0], buffer, sizeof buffer)) > 0)
        result.append(buffer, n);
    close(pipeFds[0]);
    waitpid(child, nullptr, 0);
    if (result == "unshare failed")
        return std::nullopt;
    return result;
}

QByteArray setUpAndList(const char *script)
{
    if (system(script) != 0)
        return "setup failed";
    return physicalAddresses().join(QLatin1Char(' ')).toUtf8();
}

TEST(PhysicalAddressesSystem, RealInterfacesInANamespace)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root for network namespaces";
    const std::optional<QByteArray> routable = inNetworkNamespace([] {
        return setUpAndList(
            "set -e; ip link set lo up;"
            // veth pairs: an interface has carrier only while its peer is up.
            "ip link add en0 type veth peer name p0; ip link set p0 up; ip link set en0 up;"
            "ip addr add 198.51.100.7/24 dev en0; ip addr add 192.0.2.10/24 dev en0;"
            "ip -6 addr add 2001:db8::10/64 dev en0 nodad; ip -6 addr add fe80::1/64 dev en0 nodad;"
            "ip link add docker0 type veth peer name p1; ip link set p1 up; ip link set docker0 up;"
            "ip addr add 203.0.113.1/24 dev docker0;"
            "ip link add wlan0 type veth peer name p2; ip link set p2 up; ip link set wlan0 up;"
            "ip addr add 192.0.2.30/24 dev wlan0;"
            "ip link add eth1 type veth peer name p3; ip link set eth1 up;" // peer down: no carrier
            "ip addr add 192.0.2.40/24 dev eth1;"
            "ip link add eth2 type veth peer name p4; ip link set p4 up; ip addr add 192.0.2.50/24 dev eth2");
    });
    if (!routable)
        GTEST_SKIP() << "network namespaces are not available";
    // docker0 and lo give nothing; eth1 is not running and eth2 is down; the
    // link-local fe80::1 is left out because routable addresses exist.
    EXPECT_EQ(*routable, QByteArray("192.0.2.10 192.0.2.30 198.51.100.7 2001:db8::10"));

    const std::optional<QByteArray> linkLocal = inNetworkNamespace([] {
        return setUpAndList("set -e; ip link add en0 type veth peer name p0; ip link set p0 up; ip link set en0 up;"
                            "ip addr add 169.254.10.20/16 dev en0; ip -6 addr add fe80::1/64 dev en0 nodad");
    });
    ASSERT_TRUE(linkLocal);
    // Whatever fe80:: address the kernel added itself may come too; none has a zone.
    EXPECT_TRUE(linkLocal->startsWith("169.254.10.20 fe80::")) << linkLocal->toStdString();
    EXPECT_FALSE(linkLocal->contains('%'));

    const std::optional<QByteArray> none = inNetworkNamespace([] { return setUpAndList("true"); });
    ASSERT_TRUE(none);
    EXPECT_EQ(*none, QByteArray());
}

} // namespace
