// The test LAN itself: the helpers that the LAN and end-to-end tests lean on.
#include "support/TestLan.h"

#include <QFile>
#include <QFileInfo>
#include <gtest/gtest.h>

namespace {

QString output(const QStringList &argv)
{
    QByteArray text;
    EXPECT_EQ(TestLan::run(argv, &text), 0) << argv.join(' ').toStdString() << ": " << text.toStdString();
    return QString::fromUtf8(text);
}

TEST(TestLan, CommandsRunInTheirNamespaceOnTheirBusAndAddressesChange)
{
    if (QString why; !TestLan::available(&why)) {
        GTEST_SKIP() << why.toStdString();
    }
    TestLan lan;
    ASSERT_TRUE(lan.isUp()) << lan.error().toStdString();

    struct Side
    {
        TestLan::Side side;
        QString interface;
        QString bus;
        QString ipv4;
    };
    for (const Side &side : {Side{TestLan::Side::Mac, TestLan::macInterface(), lan.macBusAddress(), TestLan::macIPv4()},
                             Side{TestLan::Side::Phone, TestLan::phoneInterface(), lan.phoneBusAddress(),
                                  TestLan::phoneIPv4()}}) {
        const QString addresses = output(lan.command(side.side, {"ip", "-o", "addr", "show", "dev", side.interface}));
        EXPECT_TRUE(addresses.contains(side.ipv4 + "/24")) << addresses.toStdString();
        EXPECT_TRUE(output(lan.command(side.side, {"env"})).contains("DBUS_SYSTEM_BUS_ADDRESS=" + side.bus));
        EXPECT_GT(lan.daemonPid(side.side), 0);
    }

    ASSERT_TRUE(lan.addMacAddress("198.51.100.7/24")) << lan.error().toStdString();
    ASSERT_TRUE(lan.addMacAddress("2001:db8:1::7/64")) << lan.error().toStdString();
    QString addresses = output(lan.macCommand({"ip", "-o", "addr", "show", "dev", "en0"}));
    EXPECT_TRUE(addresses.contains("198.51.100.7/24"));
    EXPECT_TRUE(addresses.contains("2001:db8:1::7/64"));
    ASSERT_TRUE(lan.removeMacAddress("198.51.100.7/24")) << lan.error().toStdString();
    addresses = output(lan.macCommand({"ip", "-o", "addr", "show", "dev", "en0"}));
    EXPECT_FALSE(addresses.contains("198.51.100.7"));

    ASSERT_TRUE(lan.killDaemon(TestLan::Side::Phone)) << lan.error().toStdString();
    EXPECT_EQ(lan.daemonPid(TestLan::Side::Phone), 0);
    ASSERT_TRUE(lan.startDaemon(TestLan::Side::Phone)) << lan.error().toStdString();
    EXPECT_GT(lan.daemonPid(TestLan::Side::Phone), 0);
}

TEST(TestLan, TeardownLeavesNothingBehind)
{
    if (QString why; !TestLan::available(&why)) {
        GTEST_SKIP() << why.toStdString();
    }
    QString directory, macNamespace;
    qint64 daemons[2] = {0, 0};
    {
        TestLan lan;
        ASSERT_TRUE(lan.isUp()) << lan.error().toStdString();
        directory = lan.directory();
        macNamespace = lan.macNamespace();
        daemons[0] = lan.daemonPid(TestLan::Side::Mac);
        daemons[1] = lan.daemonPid(TestLan::Side::Phone);
        auto phone = lan.startBrowser();
        EXPECT_TRUE(phone->isRunning());
    }
    EXPECT_FALSE(QFileInfo::exists(directory));
    EXPECT_FALSE(output({"ip", "netns", "list"}).contains(macNamespace));
    for (qint64 pid : daemons) {
        QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
        const bool running = stat.open(QIODevice::ReadOnly) && !stat.readAll().contains(") Z");
        EXPECT_FALSE(running) << pid;
    }
}

} // namespace
