#pragma once

// A fixture for tests that run the whole program in command-line mode on the
// mac side of the test LAN, beside a stand-in Charles, watched by the phone.

#include "advertiser/ServiceRecord.h"
#include "platform/Preferences.h"
#include "support/EventLoopWait.h"
#include "support/QtPrinters.h"
#include "support/RunningProgram.h"
#include "support/TemporaryConfigHome.h"
#include "support/TestLan.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace LanTexts {
inline const QString waitingForLaunch = QStringLiteral("等待 Charles 启动");
inline const QString proxyQuit = QStringLiteral("Charles 已关闭，等待重新启动。");
inline const QString noAddress = QStringLiteral("未找到可用的 Wi-Fi 或有线地址");
inline const QString publishFailedPrefix = QStringLiteral("设备发现发布失败，请检查本地网络权限（");
inline QString publishing(int port) { return QStringLiteral("正在发布设备发现信息 · Charles :%1").arg(port); }
inline QString published(int port) { return QStringLiteral("可被 iPhone 发现 · Charles :%1").arg(port); }
} // namespace LanTexts

class ProgramOnTheLan : public ::testing::Test
{
protected:
    static inline const QString program = QStringLiteral(QUILLFEN_BINARY_DIR "/QuillfenMac");
    static inline const QString proxyTool = QStringLiteral(QUILLFEN_BINARY_DIR "/tests/tools/fake_proxy");

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

    std::unique_ptr<RunningProgram> startCharles(int port = 8888)
    {
        return startOnMac({stageProxy(QStringLiteral("Charles.app")), QString::number(port)});
    }

    // Charles and the program started, and the program saying it is published.
    void startPublished()
    {
        charles = startCharles();
        quillfen = startProgram();
        ASSERT_TRUE(quillfen->waitForLine(LanTexts::published(8888), std::chrono::seconds(20)))
            << transcript(*quillfen);
    }

    // What a program printed, for a failure message.
    static std::string transcript(RunningProgram &program)
    {
        return program.lines().join(QLatin1Char('\n')).toStdString() + "\n" + program.errorOutput().toStdString();
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
    std::unique_ptr<RunningProgram> charles;
    std::unique_ptr<RunningProgram> quillfen;
};
