// The real executable's command line: texts on the right stream, exit codes,
// and the modes that keep running.

#include "support/TemporaryConfigHome.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include "support/QtPrinters.h"

#include <gtest/gtest.h>

namespace {

const QString executable = QStringLiteral(QUILLFEN_BINARY_DIR "/QuillfenMac");

struct ProgramRun
{
    int exitCode = -1;
    bool exited = false;
    QByteArray out, err;
};

// Runs the program; one that is still running after `waitMs` is killed.
ProgramRun run(const QString &program, const QStringList &args, int waitMs)
{
    TemporaryConfigHome config;
    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), config.path());
    // Never reach a real DNS-SD daemon from here.
    env.insert(QStringLiteral("DBUS_SYSTEM_BUS_ADDRESS"), QStringLiteral("unix:path=/nonexistent/quillfen-test-bus"));
    process.setProcessEnvironment(env);
    process.start(program, args);
    EXPECT_TRUE(process.waitForStarted());
    ProgramRun result;
    result.exited = process.waitForFinished(waitMs);
    if (!result.exited) {
        process.kill();
        process.waitForFinished();
    } else {
        result.exitCode = process.exitCode();
    }
    result.out = process.readAllStandardOutput();
    result.err = process.readAllStandardError();
    return result;
}

// Which command line means what is decided (and tested) in CommandLine; here
// one of each kind proves the streams, the texts and the exit codes.
TEST(Executable, HelpUsageAndRunningModes)
{
    const ProgramRun help = run(executable, {"--help"}, 10000);
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_EQ(help.out, QByteArray("用法：QuillfenMac [--cli | --port 8888]\n双击 Quillfen Mac 助手.app 可在菜单栏运行。\n"));
    EXPECT_EQ(help.err, QByteArray());

    for (const QStringList &args : QList<QStringList>{{"-h"}, {"--port", "65536"}, {"--cli", "--port", "8888"}}) {
        const ProgramRun r = run(executable, args, 10000);
        const std::string label = args.join(QLatin1Char('|')).toStdString();
        EXPECT_EQ(r.exitCode, 2) << label;
        EXPECT_EQ(r.err, QByteArray("用法：QuillfenMac [--cli | --port 8888]\n")) << label;
        EXPECT_EQ(r.out, QByteArray()) << label;
    }
    for (const QStringList &args : QList<QStringList>{{}, {"--cli"}, {"--port", "+08888"}}) {
        const ProgramRun r = run(executable, args, 1500);
        const std::string label = args.join(QLatin1Char('|')).toStdString();
        EXPECT_FALSE(r.exited) << label;
        // The first cycle runs before the event loop: one line at once.
        EXPECT_TRUE(r.out.endsWith('\n')) << label << ": " << r.out.toStdString();
        EXPECT_EQ(r.err, QByteArray()) << label;
    }
}

TEST(Executable, BundleExtensionIsExact)
{
    // In a folder whose extension is spelled "App" the program is no bundle
    // program, so no arguments mean the command-line mode.
    QTemporaryDir dir;
    const QString macos = dir.path() + QStringLiteral("/Quillfen.App/Contents/MacOS");
    ASSERT_TRUE(QDir().mkpath(macos));
    ASSERT_TRUE(QFile::copy(executable, macos + QStringLiteral("/QuillfenMac")));
    const ProgramRun r = run(macos + QStringLiteral("/QuillfenMac"), {}, 1500);
    EXPECT_FALSE(r.exited);
    EXPECT_TRUE(r.out.endsWith('\n'));

    // Inside a real bundle, --cli still selects the command-line mode.
    const QString app = dir.path() + QStringLiteral("/Quillfen Mac 助手.app/Contents/MacOS");
    ASSERT_TRUE(QDir().mkpath(app));
    ASSERT_TRUE(QFile::copy(executable, app + QStringLiteral("/QuillfenMac")));
    const ProgramRun cli = run(app + QStringLiteral("/QuillfenMac"), {"--cli"}, 1500);
    EXPECT_FALSE(cli.exited);
    EXPECT_TRUE(cli.out.endsWith('\n'));
    EXPECT_EQ(cli.err, QByteArray());
}

} // namespace
