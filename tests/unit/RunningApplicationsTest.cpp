// How a process is recognised: its bundle folder, its application id, and
// Charles for Linux running as a Java VM. Fixture trees stand in for /proc.

#include "platform/ProcessIdentity.h"
#include "platform/RunningApplications.h"
#include "support/CharlesCommandLines.h"
#include "support/QtPrinters.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <ctime>
#include <unistd.h>

namespace {

TEST(ProcessIdentity, ApplicationIdFromUnit)
{
    const struct
    {
        QString unit;
        std::optional<QString> id;
    } cases[] = {
        {"app-gnome-org.gnome.Terminal-1234.scope", "org.gnome.Terminal"},
        {"app-org.gnome.Terminal-1234.scope", "org.gnome.Terminal"},
        {"app-flatpak-com.xk72.Charles-98765.scope", "com.xk72.Charles"},
        {"app-gnome-com.xk72.Charles@12.service", "com.xk72.Charles"},
        {"app-com.xk72.Charles.service", "com.xk72.Charles"},
        {"app-kde-org.example.My\\x2dTool-7.scope", "org.example.My-Tool"},
        {"session-2.scope", std::nullopt},
        {"user@1000.service", std::nullopt},
        {"app.slice", std::nullopt},
        {"", std::nullopt},
    };
    for (const auto &c : cases)
        EXPECT_EQ(ProcessIdentity::applicationIdFromUnit(c.unit), c.id) << c.unit.toStdString();
}

TEST(ProcessIdentity, CharlesAndInterpretedPrograms)
{
    for (const CharlesCommandLine &c : charlesCommandLines)
        EXPECT_EQ(ProcessIdentity::charlesIdentifier(c.executable, c.arguments()),
                  c.isCharles ? std::optional<QString>("com.xk72.Charles") : std::nullopt)
            << c.commandLine.toStdString();

    EXPECT_EQ(ProcessIdentity::interpretedProgram("/usr/bin/java", {"java", "-jar", "/x/A.app/a.jar"}), "/x/A.app/a.jar");
    EXPECT_EQ(ProcessIdentity::interpretedProgram("/usr/bin/bash", {"bash", "-e", "run.sh", "arg"}), "run.sh");
    EXPECT_EQ(ProcessIdentity::interpretedProgram("/usr/bin/python3.11", {"python3", "-u", "/o/s.py"}), "/o/s.py");
    EXPECT_EQ(ProcessIdentity::interpretedProgram("/usr/bin/dash", {"sh", "-c", "/x/Charles.app/run"}), std::nullopt);
    EXPECT_EQ(ProcessIdentity::interpretedProgram("/usr/bin/sleep", {"sleep", "10"}), std::nullopt);

    EXPECT_EQ(ProcessIdentity::enclosingBundle("/opt/Charles.app/Contents/MacOS/Charles"), "/opt/Charles.app");
    EXPECT_EQ(ProcessIdentity::enclosingBundle("/a/Outer.app/b/Inner.app/bin/x"), "/a/Outer.app/b/Inner.app");
    EXPECT_EQ(ProcessIdentity::enclosingBundle("/usr/bin/x"), std::nullopt);
    EXPECT_EQ(ProcessIdentity::enclosingBundle("/opt/Charles.application/x"), std::nullopt);
}

class ProcFixture : public ::testing::Test
{
protected:
    QTemporaryDir root;

    void addProcess(int pid, const QString &exe, const QStringList &args, const QString &cgroupUnit = {},
                    const QString &cwd = QStringLiteral("/"))
    {
        const QString dir = root.path() + QLatin1Char('/') + QString::number(pid);
        QDir().mkpath(dir);
        QFile::link(exe, dir + QStringLiteral("/exe"));
        QFile::link(cwd, dir + QStringLiteral("/cwd"));
        QFile cmdline(dir + QStringLiteral("/cmdline"));
        cmdline.open(QIODevice::WriteOnly);
        for (const QString &a : args)
            cmdline.write(a.toUtf8() + '\0');
        QFile cgroup(dir + QStringLiteral("/cgroup"));
        cgroup.open(QIODevice::WriteOnly);
        cgroup.write("0::/user.slice/user-1000.slice/user@1000.service/app.slice/" + cgroupUnit.toUtf8() + "\n");
        writeStat(pid, args.value(0), 100, 0);
    }

    // /proc/PID/stat with a name, a start time (field 22) and where exec put
    // the arguments (field 48); every other field 0.
    void writeStat(int pid, const QString &name, int startTime, int argumentsStart)
    {
        QByteArray line = QByteArray::number(pid) + " (" + name.toUtf8() + ") S";
        for (int field = 4; field <= 52; ++field)
            line += ' ' + QByteArray::number(field == 22 ? startTime : field == 48 ? argumentsStart : 0);
        QFile stat(root.path() + QLatin1Char('/') + QString::number(pid) + QStringLiteral("/stat"));
        stat.open(QIODevice::WriteOnly);
        stat.write(line + '\n');
    }
};

TEST_F(ProcFixture, EveryRuleOnAFixtureTree)
{
    addProcess(100, "/opt/Charles.app/Contents/MacOS/Charles", {"Charles"});
    addProcess(9, "/usr/bin/java", {"java", "-jar", "/opt/charles/lib/charles.jar"});
    addProcess(10, "/usr/bin/bash", {"bash", "start.sh"}, {}, "/home/me/Tool.app/bin");
    addProcess(11, "/usr/bin/gnome-calculator (deleted)", {"gnome-calculator"},
               "app-gnome-org.gnome.Calculator-4242.scope");
    addProcess(12, "/srv/Old.app/bin/x (deleted)", {"x"});
    QDir().mkpath(root.path() + QStringLiteral("/13")); // gone: no cmdline
    QDir().mkpath(root.path() + QStringLiteral("/self"));
    if (geteuid() == 0) {
        addProcess(14, "/usr/bin/other", {"other"});
        ASSERT_EQ(chown(QFile::encodeName(root.path() + "/14").constData(), 4242, 4242), 0);
    }

    const std::vector<RunningApplication> apps = RunningApplicationScanner(root.path()).runningApplications();
    ASSERT_EQ(apps.size(), 5u);
    EXPECT_EQ(apps[0].processIdentifier, 9);
    EXPECT_EQ(apps[0].bundleIdentifier, QStringLiteral("com.xk72.Charles"));
    EXPECT_EQ(apps[1].processIdentifier, 10);
    EXPECT_EQ(apps[1].bundleLocation, QStringLiteral("/home/me/Tool.app"));
    EXPECT_EQ(apps[2].bundleIdentifier, QStringLiteral("org.gnome.Calculator"));
    EXPECT_EQ(apps[2].bundleLocation, std::nullopt);
    EXPECT_EQ(apps[3].bundleLocation, QStringLiteral("/srv/Old.app"));
    EXPECT_EQ(apps[4].processIdentifier, 100);
    EXPECT_EQ(apps[4].bundleLocation, QStringLiteral("/opt/Charles.app"));
    EXPECT_EQ(apps[4].bundleIdentifier, std::nullopt);
}

TEST_F(ProcFixture, KeepsWhatItLearntOnlyWhileTheProgramIsTheSame)
{
    addProcess(20, "/usr/bin/bash", {"bash", "charles"});
    RunningApplicationScanner scanner(root.path());
    const auto charlesSeen = [&] { return scanner.runningApplications().at(0).bundleIdentifier.has_value(); };
    ASSERT_FALSE(charlesSeen());
    const auto runCharles = [&] {
        addProcess(20, "/usr/bin/java", {"java", "-jar", "/opt/charles/lib/charles.jar"});
    };
    runCharles();
    writeStat(20, "bash", 100, 0);
    EXPECT_FALSE(charlesSeen()) << "kept while the stat line says it is the same program";
    // An exec into another name, an exec that keeps the name, and the pid
    // taken by a new process: each is read afresh.
    const struct { const char *name; int startTime, argumentsStart; } changes[] = {
        {"java", 100, 0}, {"bash", 100, 7}, {"bash", 200, 0}};
    for (const auto &change : changes) {
        addProcess(20, "/usr/bin/bash", {"bash", "charles"});
        writeStat(20, "bash", 100, 0);
        ASSERT_FALSE(charlesSeen());
        runCharles();
        writeStat(20, change.name, change.startTime, change.argumentsStart);
        EXPECT_TRUE(charlesSeen()) << change.name << change.startTime << change.argumentsStart;
    }

    // A process that has only just started may yet be moved into the unit
    // that names it.
    timespec now{};
    clock_gettime(CLOCK_BOOTTIME, &now);
    addProcess(20, "/usr/bin/bash", {"bash", "charles"});
    writeStat(20, "bash", int(now.tv_sec * sysconf(_SC_CLK_TCK)), 0);
    ASSERT_FALSE(charlesSeen());
    addProcess(20, "/usr/bin/bash", {"bash", "charles"}, "app-gnome-com.xk72.Charles-20.scope");
    writeStat(20, "bash", int(now.tv_sec * sysconf(_SC_CLK_TCK)), 0);
    EXPECT_TRUE(charlesSeen());
}

} // namespace
