// The program against the real host: the executable as a user starts it,
// installed into a prefix and from its .deb, checked by Debian's own tools;
// processes in the real /proc and their sockets through the real lsof, tools
// that fail in each way lsof can; the interfaces of a network namespace.

#include "advertiser/ListeningPorts.h"
#include "advertiser/PhysicalAddresses.h"
#include "app/CommandLine.h"
#include "platform/MainBundle.h"
#include "companion/HelpPage.h"
#include "platform/RunningApplications.h"
#include "support/CharlesCommandLines.h"
#include "support/QtPrinters.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QTemporaryFile>
#include <gtest/gtest.h>

#include <future>

#include <pwd.h>
#include <sched.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/file.h>
#include <sys/wait.h>

namespace {

const QString buildDir = QStringLiteral(QUILLFEN_BINARY_DIR), executable = buildDir + "/QuillfenMac",
              tools = buildDir + "/tests/tools/";

struct Outcome { int exitCode = -1; QByteArray out, err; };

// Runs with no display, no system bus and an empty configuration, so nothing
// reaches the real desktop or network; killed after two minutes (status 137).
Outcome run(const QString &program, const QStringList &args)
{
    QTemporaryDir config;
    QProcess process;
    process.start("env", QStringList{"-u", "DISPLAY", "-u", "WAYLAND_DISPLAY", "-u", "QT_QPA_PLATFORM",
        "XDG_CONFIG_HOME=" + config.path(), "DBUS_SYSTEM_BUS_ADDRESS=unix:path=/nonexistent", "timeout",
        "--foreground", "-s", "KILL", "120", program} + args);
    process.waitForFinished(-1);
    return {process.exitCode(), process.readAllStandardOutput(), process.readAllStandardError()};
}

// Which command line means what is decided (and tested) in CommandLine; here
// one of each kind proves the streams, the texts and the exit codes. What the
// command-line mode says as it runs, the LAN scenarios check.
TEST(Executable, StreamsTextsAndExitCodes)
{
    const Outcome help = run(executable, {"--help"}), wrong = run(executable, {"--port", "65536"});
    EXPECT_EQ(std::tuple(help.exitCode, help.out, help.err), std::tuple(0, CommandLine::fullUsage.toUtf8(), ""));
    EXPECT_EQ(std::tuple(wrong.exitCode, wrong.out, wrong.err), std::tuple(2, "", CommandLine::shortUsage.toUtf8()));
}

// `cmake --install` into a prefix (work/usr), and the .deb as `make package`
// makes it installed by dpkg into a throwaway root (work/root): the files of
// both, Debian's checkers finding nothing to warn about, the command a link to
// the bundle's executable (so the menu-bar mode) that answers --help, the help
// page where the program looks for it, the desktop entry and the user unit
// starting that command, a man page offering exactly the program's options,
// and the package's relations.
TEST(Install, IntoAPrefixAndFromTheDebianPackage)
{
#ifdef __SANITIZE_ADDRESS__
    GTEST_SKIP() << "installed and packaged from the ordinary build only";
#endif
    QTemporaryDir work;
    const auto at = [&](const QString &path) { return work.filePath(path); };
    const QString deb = at("quillfen-mac.deb"), command = at("usr/bin/QuillfenMac"),
                  man = at("usr/share/man/man1/QuillfenMac.1.gz"), bundle = at("usr/lib/quillfen-mac/Quillfen Mac 助手.app"),
                  desktop = at("usr/share/applications/" QUILLFEN_APP_ID ".desktop"),
                  unit = at("usr/lib/systemd/user/quillfen-mac.service"), icons = at("usr/share/icons/hicolor/");
    qputenv("MANPATH", QFile::encodeName(at("usr/share/man"))); // for the unit's Documentation=man:
    for (const QStringList &c : {
             QStringList{"cmake", "--install", buildDir, "--prefix", at("usr")},
             {"ls", icons + "scalable/apps/" QUILLFEN_APP_ID ".svg", icons + "symbolic/apps/" QUILLFEN_APP_ID "-symbolic.svg",
              helpPageUrl({}, MainBundle::locationFor(bundle + "/Contents/MacOS/QuillfenMac")).toLocalFile()},
             // The tray item's theme folder in the bundle holds the same icons.
             {"diff", "-r", icons, bundle + "/Contents/Resources/icons/hicolor"},
             {"grep", "-qxF", "StartupWMClass=" QUILLFEN_APP_ID, desktop},
             {"grep", "-qxF", "Exec=" + command, desktop},
             {"grep", "-qxF", "ExecStart=" + command + " --cli", unit},
             {"appstreamcli", "validate-tree", "--no-net", at("usr")},
             {"mandoc", "-Tlint", man},
             {"desktop-file-validate", desktop},
             {"systemd-analyze", "verify", unit},
             {"cpack", "--config", buildDir + "/CPackConfig.cmake", "-B", at("."), "-D", "CPACK_DEBIAN_FILE_NAME=quillfen-mac.deb"},
             {"install", "-D", "/dev/null", at("root/var/lib/dpkg/status")}, // an empty package database
             {"dpkg", "--root", at("root"), "--force-depends", "--force-not-root", "-i", deb},
             // The same files, but for the stripped executable and the two naming the command.
             {"diff", "-r", "--exclude=QuillfenMac", "--exclude=*.desktop", "--exclude=*.service", at("usr"), at("root/usr")},
             // lintian leaves its ELF index in the temporary folder: keep it in ours.
             {"env", "TMPDIR=" + at("."), "lintian", "--fail-on", "error,warning", deb}}) {
        const Outcome r = run(c.first(), c.mid(1));
        EXPECT_EQ(r.exitCode, 0) << c.join(' ').toStdString() << "\n" << r.out.toStdString() << r.err.toStdString();
    }
    EXPECT_TRUE(run(command, {}).err.contains("没有找到图形桌面")); // the menu-bar mode, with no display here
    EXPECT_EQ(run(at("root/usr/bin/QuillfenMac"), {"--help"}).out, CommandLine::fullUsage.toUtf8());

    // The man page, up to its status section, offers exactly the program's options.
    const char *options = R"(zcat "$0" | sed '/^\.SH 状态/q' | grep -oP '(?<!\w)(\\-)+[a-z]+' | tr -d '\\' | sort -u)";
    EXPECT_EQ(run("sh", {"-c", options, man}).out, "--cli\n--help\n--port\n");
    const QByteArray relations = run("dpkg-deb", {"--showformat=, ${Depends}, ${Recommends}, ", "-W", deb}).out.replace(" (", ",");
    for (const QByteArray name : {"avahi-daemon", "lsof", "libavahi-client3", "libqt6widgets6", "qt6-wayland",
                                  "qt6-translations-l10n"})
        EXPECT_TRUE(relations.contains(", " + name + ",")) << name.toStdString() << " in " << relations.toStdString();
}


// The user that runs the stand-ins below and looks for them: nobody when the
// test runs as root (root may read any process's files; a user may not),
// otherwise the test's own.
const passwd *standInUser()
{
    return geteuid() == 0 ? getpwnam("nobody") : nullptr;
}

struct AsUser
{
    const passwd *user = standInUser();
    AsUser()
    {
        if (user && (setegid(user->pw_gid) != 0 || seteuid(user->pw_uid) != 0))
            ADD_FAILURE() << "cannot become nobody";
    }
    ~AsUser()
    {
        if (user && (seteuid(0) != 0 || setegid(0) != 0))
            std::abort();
    }
};

// Stand-ins run under each Charles command line, from an executable of the
// same file name, listening as Java does (the IPv6 wildcard only, IPv4 too); a
// bundled program listening over IPv4 and IPv6; a script run from a bundle
// folder; a Charles that is not dumpable (its files the kernel's root's); one
// that execs from another jar into Charles with address randomisation off,
// after the first look; one that ends and is left unreaped. All run as the
// user that looks for them. Each is found where it is, Charles's are
// recognised, lsof gives each one's sockets, and nothing once it has gone.
TEST(RunningApplicationsSystem, RealProcessesAndSockets)
{
    QTemporaryDir dir; // where the stand-ins run from
    const QString folder = QDir(dir.path()).canonicalPath() + QLatin1Char('/');
    ASSERT_TRUE(QDir::setCurrent(folder));
    ASSERT_EQ(chmod(QFile::encodeName(folder).constData(), 0755), 0);
    ASSERT_EQ(system("mkdir -p Something.app/Contents/MacOS Other.app && echo 'sleep 30' >Other.app/run.sh"), 0);
    const passwd *user = standInUser();
    const QStringList asUser = user ? QStringList{"setpriv", "--reuid=" + QString::number(user->pw_uid),
                                                  "--regid=" + QString::number(user->pw_gid), "--clear-groups"}
                                    : QStringList{};
    const std::optional<QString> charles("com.xk72.Charles");
    enum class Twist { None, Undumpable, Exec };
    struct StandIn { QString program; QStringList args; std::optional<QString> id, location; int sockets;
                     Twist twist = Twist::None; std::unique_ptr<QProcess> process = std::make_unique<QProcess>();
                     QByteArray output{}; };
    std::vector<StandIn> standIns;
    standIns.push_back({"/bin/sh", {"Other.app/run.sh"}, {}, folder + "Other.app", 0});
    standIns.push_back({folder + "Something.app/Contents/MacOS/Something", {"0"}, {}, folder + "Something.app", 2});
    for (const CharlesCommandLine &c : charlesCommandLines)
        standIns.push_back({folder + QFileInfo(c.executable).fileName(), QStringList{"--as", "0"} + c.arguments(),
                            c.isCharles ? charles : std::nullopt, std::nullopt, 1});
    standIns.push_back({folder + "java", {"--as", "0", "java", "-jar", "/x/charles.jar"}, charles, {}, 1, Twist::Undumpable});
    // The same length as the jar it becomes: the stat line stays as it was.
    standIns.push_back({folder + "java", {"--as", "0", "java", "-jar", "/x/helloes.jar"}, charles, {}, 1, Twist::Exec});
    const auto listening = [](StandIn &s, int times) {
        while (s.output.count("listening") < times && s.process->waitForReadyRead(5000))
            s.output += s.process->readAllStandardOutput();
        return s.output.count("listening") >= times;
    };
    for (StandIn &s : standIns) {
        QFile::copy(tools + "fake_proxy", s.program); // fails, as it should, for /bin/sh and a second "java"
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        QStringList command = asUser;
        if (s.twist == Twist::Undumpable)
            environment.insert("FAKE_PROXY_UNDUMPABLE", "1");
        if (s.twist == Twist::Exec) {
            environment.insert("FAKE_PROXY_THEN", "java -jar /x/charles.jar");
            command << "setarch" << "-R";
        }
        command << s.program << s.args;
        s.process->setProcessEnvironment(environment);
        s.process->start(command.takeFirst(), command);
        ASSERT_TRUE(s.sockets ? listening(s, 1) : s.process->waitForStarted()) << "not listening";
    }
    // The unreaped one: started without QProcess, which would reap it.
    const QByteArray program = QFile::encodeName(folder + "java");
    std::vector<QByteArray> words;
    for (const QString &word : asUser + QStringList{folder + "java", "--as", "0", "java", "-jar", "/x/charles.jar"})
        words.push_back(QFile::encodeName(word));
    std::vector<char *> vector;
    for (QByteArray &word : words)
        vector.push_back(word.data());
    vector.push_back(nullptr);
    pid_t unreaped = 0;
    ASSERT_EQ(posix_spawnp(&unreaped, vector[0], nullptr, nullptr, vector.data(), environ), 0);
    const auto procFile = [](qint64 pid, const char *file) {
        QFile in(QStringLiteral("/proc/%1/%2").arg(pid).arg(file));
        return in.open(QIODevice::ReadOnly) ? in.readAll() : QByteArray();
    };
    const auto waitFor = [](const std::function<bool()> &done) {
        for (int i = 0; i < 500 && !done(); ++i)
            usleep(10000);
        return done();
    };
    // Until it runs under the borrowed vector (its own command line names charles.jar too).
    ASSERT_TRUE(waitFor([&] { return procFile(unreaped, "cmdline").startsWith("java"); }));

    RunningApplicationScanner scanner;
    const auto find = [](const std::vector<RunningApplication> &apps, qint64 pid) {
        const auto app = std::ranges::find(apps, pid, &RunningApplication::processIdentifier);
        return app == apps.end() ? std::nullopt : std::optional<RunningApplication>(*app);
    };
    std::vector<RunningApplication> apps = (AsUser(), scanner.runningApplications());
    for (StandIn &s : standIns) {
        if (s.twist != Twist::None) { // Charles from the start, but for the one that execs into it
            EXPECT_EQ(find(apps, s.process->processId()).value_or(RunningApplication{}).bundleIdentifier,
                      s.twist == Twist::Exec ? std::nullopt : charles);
        }
    }
    ASSERT_EQ(find(apps, unreaped).value_or(RunningApplication{}).bundleIdentifier, charles);

    StandIn &exec = standIns.back();
    kill(pid_t(exec.process->processId()), SIGHUP);
    kill(unreaped, SIGKILL);
    ASSERT_TRUE(listening(exec, 2)) << "no exec";
    ASSERT_TRUE(waitFor([&] { return procFile(unreaped, "stat").contains(") Z "); }));
    apps = (AsUser(), scanner.runningApplications());
    EXPECT_FALSE(find(apps, unreaped)) << "a zombie runs no program";
    EXPECT_EQ(waitpid(unreaped, nullptr, 0), unreaped);
    for (StandIn &s : standIns) {
        SCOPED_TRACE((s.program + QLatin1Char(' ') + s.args.join(QLatin1Char(' '))).toStdString());
        const std::optional<RunningApplication> app = find(apps, s.process->processId());
        ASSERT_TRUE(app);
        EXPECT_EQ(std::pair(app->bundleIdentifier, app->bundleLocation), std::pair(s.id, s.location));
        const qint64 port = s.output.mid(s.output.lastIndexOf("listening") + 10).trimmed().toLongLong();
        EXPECT_EQ(ListeningPortProbe().listeningPorts(app->processIdentifier), QList<qint64>(s.sockets, port));
    } // the stand-ins are killed as they go
}

// A missing tool, one that is no executable, one that hangs and is killed at
// the bound, and one that outlives its kill (while this test holds a lock):
// nothing, within the bound; no second tool while one is stuck; the stuck one
// reaped by a later call once it can be.
TEST(ListeningPortsSystem, FailingToolsGiveNothingWithinTheBound)
{
    QTemporaryFile lock;
    ASSERT_TRUE(lock.open() && flock(lock.handle(), LOCK_EX) == 0);
    const struct { QString tool; bool outlivesKill = false; } cases[] = {
        {"/nonexistent/lsof"}, {"/etc/hostname"}, {tools + "hang_tool"}, {tools + "hang_tool", true}};
    std::unique_ptr<ListeningPortProbe> probe;
    for (const auto &c : cases) {
        SCOPED_TRACE(c.tool.toStdString());
        c.outlivesKill ? qputenv("HANG_TOOL_HOLD", QFile::encodeName(lock.fileName())) : qunsetenv("HANG_TOOL_HOLD");
        probe = std::make_unique<ListeningPortProbe>(c.tool, std::chrono::seconds(1));
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(probe->listeningPorts(1), QList<qint64>{});
        // While the killed tool lives on, nothing is known; otherwise the answer is empty.
        EXPECT_EQ(probe->listeningPorts(1), c.outlivesKill ? std::nullopt : std::optional(QList<qint64>{}));
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(4)) << "the bound did not hold";
        EXPECT_EQ(probe->unreapedTools(), c.outlivesKill ? 1 : 0) << "a second tool started, or one was not reaped";
    }
    flock(lock.handle(), LOCK_UN); // the stuck tool can die now
    for (int i = 0; i < 100 && probe->unreapedTools() > 0; ++i, usleep(200000))
        probe->listeningPorts(1);
    EXPECT_EQ(probe->unreapedTools(), 0);
    EXPECT_EQ(probe->listeningPorts(1), QList<qint64>{});
    EXPECT_EQ(waitpid(-1, nullptr, WNOHANG), -1) << "a child was left behind";
}

TEST(PhysicalAddressesSystem, RealInterfacesInANamespace)
{
    // l NAME PEER-STATE STATE ADDRESS: a veth pair (carrier only while the
    // peer is up), without the link-local address the kernel would add.
    const QByteArray link = "set -e; l() { ip link add $1 type veth peer name p$1; ip link set $1 addrgenmode none;"
                            "ip link set p$1 $2; ip link set $1 $3; ip addr add $4 dev $1; };";
    const struct { QByteArray script; QString addresses; } cases[] = {
        // lo is no wired or Wi-Fi interface, eth1 has no carrier and eth2 is
        // down; fe80::1 is left out as routable addresses exist.
        {"ip link set lo up; l en0 up up 192.0.2.10/24; l wlan0 up up 192.0.2.3/24; l eth1 down up 192.0.2.40/24;"
         "l eth2 up down 192.0.2.5/24; ip addr add 2001:db8::10/64 dev en0 nodad; ip addr add fe80::1/64 dev en0 nodad",
         "192.0.2.10 192.0.2.3 2001:db8::10"},
        {"l en0 up up 169.254.10.20/16; ip addr add fe80::1/64 dev en0 nodad", "169.254.10.20 fe80::1"}, // no zone
    };
    for (const auto &c : cases) {
        // A thread of its own goes into a network namespace of its own: the
        // namespace belongs to the thread, and goes with it.
        const std::optional<QString> found = std::async(std::launch::async, [&]() -> std::optional<QString> {
            if (unshare(CLONE_NEWNET) != 0)
                return std::nullopt;
            return system((link + c.script).constData()) == 0 ? physicalAddresses().join(' ') : "no set-up";
        }).get();
        if (!found)
            GTEST_SKIP() << "no network namespaces here (they need root)";
        EXPECT_EQ(*found, c.addresses) << c.script.toStdString();
    }
}

} // namespace
