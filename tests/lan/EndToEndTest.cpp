// The whole program in command-line mode on the mac side of the test LAN,
// beside a stand-in Charles, watched by the phone's DNS-SD browser.

#include "platform/HostName.h"
#include "ProgramOnTheLan.h"
#include "support/CharlesCommandLines.h"

using namespace std::chrono_literals;
using namespace LanTexts;

namespace {

using EndToEnd = ProgramOnTheLan;

TEST_F(EndToEnd, PhoneFindsCharlesAndSeesItGoWhenItQuits)
{
    auto quillfen = startProgram();
    ASSERT_TRUE(quillfen->waitForLine(waitingForLaunch, 10s)) << quillfen->errorOutput().toStdString();

    auto charles = startCharles();
    ASSERT_TRUE(quillfen->waitForLine(published(8888), 20s)) << transcript(*quillfen);
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
        auto charles = startCharles();
        ASSERT_TRUE(quillfen->waitForLine(published(8888), 20s)) << transcript(*quillfen);
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

    auto charles = startCharles(9999);
    ASSERT_TRUE(quillfen->waitForLine(published(9999), 20s)) << transcript(*quillfen);
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

// Charles 4.x as its .deb starts it: /usr/bin/charles, a bash script, runs the
// Java VM as a child without exec and stays, with the lower pid.
TEST_F(EndToEnd, CharlesStartedByItsLauncherIsPublishedFromItsJavaChild)
{
    QFile launcher(work.filePath(QStringLiteral("charles")));
    ASSERT_TRUE(launcher.open(QIODevice::WriteOnly));
    launcher.write(proxyTool.toUtf8() + " --as 8888 " + charlesCommandLines[0].commandLine.toUtf8() + "\nexit $?\n");
    launcher.close();
    charles = startOnMac({QStringLiteral("/bin/bash"), QStringLiteral("-e"), launcher.fileName()});
    quillfen = startProgram();
    ASSERT_TRUE(quillfen->waitForLine(published(8888), 20s)) << transcript(*quillfen);
    EXPECT_TRUE(phone->waitForResolved(instanceName(), 15s));
    EXPECT_TRUE(charles->isRunning());
}

} // namespace
