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

#include <unistd.h>

using namespace ProcessIdentity;

// A process directory under root: exe, cwd, cmdline, cgroup, and a stat line
// with a name and a start time (field 22), every other field 0.
static void addProcess(const QTemporaryDir &root, int pid, const QString &exe, const QStringList &args,
                       const QString &unit = {}, const QString &name = "bash", qint64 startTime = 100)
{
    const QString dir = root.filePath(QString::number(pid)) + '/';
    QDir().mkpath(dir);
    QFile::remove(dir + "exe");
    QFile::link(exe, dir + "exe");
    QFile::link("/home/me/Tool.app/bin", dir + "cwd");
    QByteArray stat = QByteArray::number(pid) + " (" + name.toUtf8() + ") S";
    for (int field = 4; field <= 52; ++field)
        stat += ' ' + QByteArray::number(field == 22 ? startTime : 0);
    for (const auto &[file, bytes] : {std::pair<QString, QByteArray>("cmdline", args.isEmpty() ? "" : args.join(QChar(0)).toUtf8() + '\0'),
                                      {"stat", stat + '\n'}, {"cgroup", "0::/user.slice/app.slice/" + unit.toUtf8()}}) {
        QFile out(dir + file);
        ASSERT_TRUE(out.open(QIODevice::WriteOnly) && out.write(bytes) == bytes.size());
    }
}

TEST(RunningApplications, EveryRuleAndWhatIsKept)
{
    const std::pair<QString, std::optional<QString>> units[] = {
        {"app-gnome-a.B-12.scope", "a.B"}, {"app-a.B-1.scope", "a.B"}, {"app-a.B.service", "a.B"}, {"init.scope", {}},
        {"app-gnome-com.xk72.Charles@12.service", "com.xk72.Charles"}, {"app-kde-org.a.My\\x2dB-7.scope", "org.a.My-B"},
        {"app-a.scope", {}}, {"app-a.B.mount", {}}, {"app--1.scope", {}}, // no launcher-id-number, no id
    };
    for (const auto &[unit, id] : units)
        EXPECT_EQ(applicationIdFromUnit(unit), id) << unit.toStdString();
    for (const CharlesCommandLine &c : charlesCommandLines)
        EXPECT_EQ(bool(charlesIdentifier(c.executable, c.arguments())), c.isCharles) << c.commandLine.toStdString();
    // Scripts and jars are found on the fixture tree below; these are the rest.
    EXPECT_EQ(interpretedProgram("/usr/bin/bash", {"bash", "-e", "run.sh", "arg"}), "run.sh");
    EXPECT_EQ(interpretedProgram("/usr/bin/python3.11", {"python3", "-u", "/o/s.py"}), "/o/s.py");
    EXPECT_EQ(interpretedProgram("/usr/bin/dash", {"sh", "-c", "/x/Charles.app/run"}), std::nullopt);
    for (const QStringList &args : {QStringList{"bash", "-i"}, {"bash", "--"}}) // no program file
        EXPECT_EQ(interpretedProgram("/usr/bin/bash", args), std::nullopt);

    // Java argument files: their words, and where the launcher reads them.
    const std::pair<QByteArray, QStringList> argumentFiles[] = {
        {"-Xmx1g  \"-Dname=a b\"\n# -jar x.jar\r\n-jar 'c d/charles.jar'", {"-Xmx1g", "-Dname=a b", "-jar", "c d/charles.jar"}},
        {"a#b \"x\\ty\" \"long \\\n    line\" '' 'it\"s'", {"a#b", "x\ty", "long line", "", "it\"s"}},
    };
    for (const auto &[text, words] : argumentFiles)
        EXPECT_EQ(javaArgumentFileWords(text), words) << text.toStdString();
    const auto read = [](const QString &file) { return file == "o" ? std::optional<QByteArray>("-jar x.jar") : std::nullopt; };
    EXPECT_EQ(withJavaArgumentFiles("/usr/bin/java", {"java", "@o", "@@o", "@gone", "--disable-@files", "@o"}, read),
              (QStringList{"java", "-jar", "x.jar", "@o", "@gone", "--disable-@files", "@o"}));
    EXPECT_EQ(withJavaArgumentFiles("/usr/bin/bash", {"bash", "@o"}, read), (QStringList{"bash", "@o"}));

    // Every rule on a fixture tree.
    QTemporaryDir root;
    // The innermost bundle; Charles as a VM known by argv[0] alone; a script
    // by the folder it runs from; the unit's id; a bundle whose executable
    // was replaced; .application is no bundle.
    addProcess(root, 100, "/opt/Tools.app/Charles.app/Contents/MacOS/Charles", {"Charles"});
    addProcess(root, 9, "", {"java", "-jar", "/opt/charles/lib/charles.jar"}); // no exe link: unreadable
    addProcess(root, 10, "/usr/bin/bash", {"bash", "start.sh"}); // in /home/me/Tool.app/bin
    addProcess(root, 11, "/usr/bin/calc (deleted)", {"calc"}, "app-gnome-org.gnome.Calc-4.scope");
    addProcess(root, 12, "/srv/Old.app/In.application/bin/x (deleted)", {"x"});
    QDir().mkpath(root.filePath("13")); // gone: no cmdline
    QFile options(root.filePath("charles.options")); // Charles started with a java argument file
    ASSERT_TRUE(options.open(QIODevice::WriteOnly) && options.write("-Xmx1024M\n-jar /opt/charles/lib/charles.jar\n") > 0);
    options.close();
    addProcess(root, 15, "/usr/bin/java", {"java", "@" + options.fileName()});
    if (geteuid() == 0) { // another user's process; the user's own, made not dumpable (its files root's)
        addProcess(root, 14, "/usr/bin/other", {"other"});
        ASSERT_EQ(chown(QFile::encodeName(root.filePath("14")).constData(), 4242, 4242), 0);
        addProcess(root, 16, "/usr/bin/java", {"java", "-jar", "/opt/charles/lib/charles.jar"});
    }
    RunningApplicationScanner scanner(root.path());
    const auto scan = [&] {
        QStringList seen;
        for (const RunningApplication &a : scanner.runningApplications())
            seen << QString("%1 %2 %3").arg(a.processIdentifier).arg(a.bundleIdentifier.value_or("-"),
                                                                      a.bundleLocation.value_or("-"));
        return seen;
    };
    QStringList expected{"9 com.xk72.Charles -", "10 - /home/me/Tool.app", "11 org.gnome.Calc -",
                         "12 - /srv/Old.app", "15 com.xk72.Charles -", "100 - /opt/Tools.app/Charles.app"};
    if (geteuid() == 0)
        expected.insert(5, "16 com.xk72.Charles -");
    EXPECT_EQ(scan(), expected);
    if (geteuid() == 0) { // pid 16 made not dumpable: the kernel gives its files to root, here someone else
        ASSERT_EQ(chown(QFile::encodeName(root.filePath("16/stat")).constData(), 4242, 4242), 0);
        EXPECT_EQ(scan(), expected);
    }

    // What was learnt about a process is kept while its folder is the same
    // one; a settled process (started long ago) is read again on its turn,
    // one that appeared since the first call on every call for a while
    // (an exec, a unit given late), and a reused pid (a new folder) at once.
    // A process without a command line (a zombie) is left out.
    RunningApplicationScanner kept(root.path());
    const auto charlesAt = [&](qint32 pid) {
        for (const RunningApplication &a : kept.runningApplications())
            if (a.processIdentifier == pid)
                return a.bundleIdentifier == "com.xk72.Charles";
        return false;
    };
    const auto moveAway = [&](int pid) { // kept until the new one exists, so that it has another inode
        ASSERT_EQ(rename(QFile::encodeName(root.filePath(QString::number(pid))).constData(),
                         QFile::encodeName(root.filePath("gone")).constData()), 0);
    };
    const QStringList charles{"java", "-jar", "/o/charles.jar"};
    addProcess(root, 20, "/usr/bin/java", {"java", "-jar", "/o/other.jar"});
    ASSERT_FALSE(charlesAt(20)); // call 1
    addProcess(root, 20, "/usr/bin/java", charles); // an exec, unseen until its turn
    int calls = 1;
    for (bool seen = false; !seen && calls < 2 * RunningApplicationScanner::rereadEvery;)
        seen = (++calls, charlesAt(20));
    EXPECT_EQ(calls, RunningApplicationScanner::rereadEvery); // (pid + call) % rereadEvery == 0
    moveAway(20);
    addProcess(root, 20, "/usr/bin/java", {"java", "-jar", "/o/other.jar"});
    QDir(root.filePath("gone")).removeRecursively();
    EXPECT_FALSE(charlesAt(20)) << "a reused pid is read afresh";
    addProcess(root, 21, "/usr/bin/java", {"java", "-jar", "/o/other.jar"}); // young: appeared after the first call
    ASSERT_FALSE(charlesAt(21));
    addProcess(root, 21, "/usr/bin/java", charles); // an exec that changes nothing in its stat line
    EXPECT_TRUE(charlesAt(21));
    addProcess(root, 21, "/usr/bin/java", {}); // a zombie
    EXPECT_FALSE(charlesAt(21));
    // Young at the first call by its stat line; a launcher moves it into the unit that names it.
    RunningApplicationScanner late(root.path());
    addProcess(root, 22, "/bin/bash", {"bash", "charles"}, {}, "bash", 1LL << 50);
    const auto unitFound = [&] { return std::ranges::count(late.runningApplications(), std::optional<QString>("com.xk72.Charles"),
                                                           &RunningApplication::bundleIdentifier); };
    const qsizetype before = unitFound();
    addProcess(root, 22, "/bin/bash", {"bash", "charles"}, "app-com.xk72.Charles-1.scope", "bash", 1LL << 50);
    EXPECT_EQ(unitFound(), before + 1);
    EXPECT_EQ(unitFound(), before + 1); // and stays found while its unit is read again
}
