// The whole program in command-line mode on the mac side of the test LAN,
// beside a stand-in Charles, watched by the phone's DNS-SD browser.

#include "advertiser/ServiceRecord.h"
#include "platform/HostName.h"
#include "platform/Preferences.h"
#include "support/EventLoopWait.h"
#include "support/RunningProgram.h"
#include "support/TemporaryConfigHome.h"
#include "support/TestLan.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include "support/QtPrinters.h"

#include <gtest/gtest.h>

using namespace std::chrono_literals;

namespace {

const QString program = QStringLiteral(QUILLFEN_BINARY_DIR "/QuillfenMac");
const QString proxyTool = QStringLiteral(QUILLFEN_BINARY_DIR "/tests/tools/fake_proxy");

const QString waitingForLaunch = QStringLiteral("等待 Charles 启动");
const QString proxyQuit = QStringLiteral("Charles 已关闭，等待重新启动。");
QString publishing(int port) { return QStringLiteral("正在发布设备发现信息 · Charles :%1").arg(port); }
QString published(int port) { return QStringLiteral("可被 iPhone 发现 · Charles :%1").arg(port); }

class EndToEnd : public ::testing::Test
{
protected:
    void SetUp() override
    {
        if (QString why; !TestLan::available(&why))
            GTEST_SKIP() << why.toStdString();
        lan = std::make_unique<TestLan>();
        ASSERT_TRUE(lan->isUp()) << lan->error().toStdString();
        phone = lan->startBrowser();
    }

    // A copy of the stand-in proxy at <folder>/Contents/MacOS/Charles.
    QString stageProxy(const QString &folder)
    {
        const QString macos = work.path() + QLatin1Char('/') + folder + QStringLiteral("/Contents/MacOS");
        QDir().mkpath(macos);
        const QString path = macos + QStringLiteral("/Charles");
        QFile::copy(proxyTool, path);
        return path;
    }

    std::unique_ptr<RunningProgram> startOnMac(const QStringList &argv)
    {
        return std::make_unique<RunningProgram>(
            lan->macCommand(QStringList{QStringLiteral("env"), QStringLiteral("XDG_CONFIG_HOME=") + config.path()}
                            + argv));
    }

    std::unique_ptr<RunningProgram> startProgram(const QStringList &args = {QStringLiteral("--cli")})
    {
        return startOnMac(QStringList{program} + args);
    }

    QString instanceName()
    {
        // The test reads the same preferences file the program wrote.
        return ServiceRecord::instanceName(Preferences::stringForKey(Preferences::machineIdKey).value_or(QString()));
    }

    QTemporaryDir work;
    TemporaryConfigHome config;
    std::unique_ptr<TestLan> lan;
    std::unique_ptr<PhoneBrowser> phone;
};

TEST_F(EndToEnd, PhoneFindsCharlesAndSeesItGoWhenItQuits)
{
    auto quillfen = startProgram();
    ASSERT_TRUE(quillfen->waitForLine(waitingForLaunch, 10s)) << quillfen->errorOutput().toStdString();

    auto charles = startOnMac({stageProxy(QStringLiteral("Charles.app")), QStringLiteral("8888")});
    ASSERT_TRUE(quillfen->waitForLine(published(8888), 20s)) << quillfen->lines().join('\n').toStdString();
    EXPECT_EQ(quillfen->lines(), (QStringList{waitingForLaunch, publishing(8888), published(8888)}));

    const QString name = instanceName();
    const std::optional<QString> machineId = Preferences::stringForKey(Preferences::machineIdKey);
    ASSERT_TRUE(machineId);
    EXPECT_EQ(name, QStringLiteral("Quillfen-") + machineId->left(8));

    const std::optional<BrowsedService> found = phone->waitForResolved(name, 15s);
    ASSERT_TRUE(found) << phone->errorOutput().toStdString();
    EXPECT_EQ(found->type, QStringLiteral("_quillfen._tcp"));
    EXPECT_EQ(found->port, 8888);
    EXPECT_EQ(found->txt, (QList<QByteArray>{
                              "id=" + machineId->toUtf8(),
                              "name=" + ServiceRecord::displayName(hostDisplayName()).toUtf8(),
                              "version=1",
                              // en0's addresses, IPv4 first; its fe80:: address is left out.
                              "addresses=" + (TestLan::macIPv4() + QLatin1Char(',') + TestLan::macIPv6()).toUtf8(),
                          }));

    const qsizetype mark = phone->mark();
    charles->kill(SIGTERM);
    ASSERT_TRUE(quillfen->waitForLine(proxyQuit, 10s));
    EXPECT_TRUE(phone->waitForRemoved(name, 10s, mark));
    runEventLoopFor(4s); // more than one cycle: nothing else is said
    EXPECT_EQ(quillfen->lines(), (QStringList{waitingForLaunch, publishing(8888), published(8888), proxyQuit}));
}

TEST_F(EndToEnd, RequestedPortKeepsTheInstanceNameAndOtherFoldersAreIgnored)
{
    {
        auto quillfen = startProgram();
        auto charles = startOnMac({stageProxy(QStringLiteral("Charles.app")), QStringLiteral("8888")});
        ASSERT_TRUE(quillfen->waitForLine(published(8888), 20s)) << quillfen->lines().join('\n').toStdString();
    }
    const QString name = instanceName();
    // The first run's registration went with its process.
    ASSERT_TRUE(waitUntil([&] { return !phone->isPresent(name); }, 15s));

    auto quillfen = startProgram({QStringLiteral("--port"), QStringLiteral("9999")});
    auto impostor = startOnMac({stageProxy(QStringLiteral("Proxy.app")), QStringLiteral("9999")});
    ASSERT_TRUE(quillfen->waitForLine(waitingForLaunch, 10s));
    runEventLoopFor(4s);
    EXPECT_EQ(quillfen->lines(), QStringList{waitingForLaunch}) << "a listener outside Charles.app was taken";
    impostor.reset();

    auto charles = startOnMac({stageProxy(QStringLiteral("Charles.app")), QStringLiteral("9999")});
    ASSERT_TRUE(quillfen->waitForLine(published(9999), 20s)) << quillfen->lines().join('\n').toStdString();
    const std::optional<BrowsedService> found = phone->waitForResolved(name, 15s, 0);
    ASSERT_TRUE(found);
    EXPECT_EQ(instanceName(), name);
    EXPECT_TRUE(waitUntil([&] {
        for (const PhoneBrowser::Event &event : phone->events())
            if (event.kind == AvahiBrowseLine::Kind::Resolved && event.service.name == name
                && event.service.port == 9999)
                return true;
        return false;
    }, 15s));
}

} // namespace
