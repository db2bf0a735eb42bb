// The running-application list against the real /proc.

#include "advertiser/ListeningPorts.h"
#include "platform/RunningApplications.h"
#include "support/CharlesCommandLines.h"
#include "support/QtPrinters.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <algorithm>

namespace {

const RunningApplication *find(const std::vector<RunningApplication> &apps, qint64 pid)
{
    for (const RunningApplication &app : apps)
        if (app.processIdentifier == pid)
            return &app;
    return nullptr;
}

TEST(RunningApplicationsSystem, FindsBundledAndScriptedProcesses)
{
    QTemporaryDir dir;
    const QString macos = dir.path() + QStringLiteral("/Something.app/Contents/MacOS");
    ASSERT_TRUE(QDir().mkpath(macos));
    ASSERT_TRUE(QFile::copy(QStringLiteral("/bin/sleep"), macos + QStringLiteral("/Something")));
    QProcess bundled;
    bundled.start(macos + QStringLiteral("/Something"), {"30"});
    ASSERT_TRUE(bundled.waitForStarted());

    const QString scriptDir = dir.path() + QStringLiteral("/Other.app");
    QDir().mkpath(scriptDir);
    QFile script(scriptDir + QStringLiteral("/run.sh"));
    script.open(QIODevice::WriteOnly);
    script.write("sleep 30\n");
    script.close();
    QProcess scripted;
    scripted.setWorkingDirectory(scriptDir);
    scripted.start(QStringLiteral("/bin/sh"), {"run.sh"});
    ASSERT_TRUE(scripted.waitForStarted());

    const std::vector<RunningApplication> apps = RunningApplicationScanner().runningApplications();
    EXPECT_TRUE(std::is_sorted(apps.begin(), apps.end(), [](const auto &a, const auto &b) {
        return a.processIdentifier < b.processIdentifier;
    }));
    EXPECT_TRUE(find(apps, QCoreApplication::applicationPid()));
    const RunningApplication *a = find(apps, bundled.processId());
    ASSERT_TRUE(a);
    EXPECT_EQ(a->bundleLocation, QDir(dir.path()).canonicalPath() + QStringLiteral("/Something.app"));
    const RunningApplication *b = find(apps, scripted.processId());
    ASSERT_TRUE(b);
    EXPECT_EQ(b->bundleLocation, QDir(dir.path()).canonicalPath() + QStringLiteral("/Other.app"));

    bundled.kill();
    scripted.kill();
    bundled.waitForFinished();
    scripted.waitForFinished();
}

// Each command line run by a stand-in that listens the way Java does, under
// an executable of the same file name: Charles's are found and probed.
TEST(RunningApplicationsSystem, CharlesUnderEachCommandLine)
{
    QTemporaryDir dir;
    std::vector<std::unique_ptr<QProcess>> standIns; // killed when they go
    for (const CharlesCommandLine &c : charlesCommandLines) {
        const QString executable = dir.filePath(QFileInfo(c.executable).fileName());
        QFile::copy(QStringLiteral(QUILLFEN_BINARY_DIR "/tests/tools/fake_proxy"), executable);
        standIns.push_back(std::make_unique<QProcess>());
        standIns.back()->start(executable, QStringList{"--as", "0"} + c.arguments());
        ASSERT_TRUE(standIns.back()->waitForReadyRead(5000)) << "no \"listening PORT\" line";
    }
    const std::vector<RunningApplication> apps = RunningApplicationScanner().runningApplications();
    for (size_t i = 0; i < standIns.size(); ++i) {
        const CharlesCommandLine &c = charlesCommandLines[i];
        SCOPED_TRACE(c.commandLine.toStdString());
        const RunningApplication *app = find(apps, standIns[i]->processId());
        ASSERT_TRUE(app);
        EXPECT_EQ(app->bundleIdentifier, c.isCharles ? std::optional<QString>("com.xk72.Charles") : std::nullopt);
        if (c.isCharles) { // *:PORT, in /proc/net/tcp6 only
            EXPECT_EQ(ListeningPortProbe().listeningPorts(app->processIdentifier),
                      QList<qint64>{standIns[i]->readAllStandardOutput().mid(10).trimmed().toLongLong()});
        }
    }
}

} // namespace
