// The executable as a user starts it: from the build tree, from its bundle,
// installed into a prefix by `cmake --install`, and from the .deb that cpack
// makes, installed by dpkg into a throwaway root and checked by Debian's tools.

#include "app/CommandLine.h"
#include "app/MainBundle.h"
#include "companion/HelpPage.h"
#include "support/QtPrinters.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

const QString buildDir = QStringLiteral(QUILLFEN_BINARY_DIR);
const QString executable = buildDir + QStringLiteral("/QuillfenMac");
const QString bundleExecutable = buildDir + QStringLiteral("/Quillfen Mac 助手.app/Contents/MacOS/QuillfenMac");
// With no arguments a bundle starts the menu-bar mode, which without a display says so.
const QByteArray noDesktop("没有找到图形桌面");

struct Outcome
{
    int exitCode = -1; // -1: still running when the wait ended, then killed
    QByteArray out, err;
};

// Runs with no display, no system bus and an empty configuration, so nothing
// reaches the real desktop or network.
Outcome run(const QString &program, const QStringList &args, int waitMs = 120000)
{
    QTemporaryDir config;
    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        env.remove(QString::fromLatin1(name));
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), config.path());
    env.insert(QStringLiteral("DBUS_SYSTEM_BUS_ADDRESS"), QStringLiteral("unix:path=/nonexistent/quillfen-test-bus"));
    process.setProcessEnvironment(env);
    process.start(program, args);
    const bool ended = process.waitForFinished(waitMs);
    if (!ended) {
        process.kill();
        process.waitForFinished();
    }
    return {ended && process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
            process.readAllStandardOutput(), process.readAllStandardError()};
}

// Which command line means what is decided (and tested) in CommandLine; here
// one of each kind proves the streams, the texts and the exit codes. The
// command-line mode keeps running and says its first line at once.
TEST(Executable, StreamsTextsAndExitCodes)
{
    QTemporaryDir dir; // "App" is no bundle extension: no arguments mean the command-line mode
    const QString almost = dir.filePath(QStringLiteral("Quillfen.App/Contents/MacOS/QuillfenMac"));
    ASSERT_TRUE(QDir().mkpath(QFileInfo(almost).path()) && QFile::copy(executable, almost));
    const QByteArray waiting("等待 Charles 启动\n");
    const struct
    {
        QString program;
        QStringList args;
        int exitCode;
        QByteArray out, err;
    } cases[] = {
        {executable, {"--help"}, 0, CommandLine::fullUsage.toUtf8(), ""},
        {executable, {"--port", "65536"}, 2, "", CommandLine::shortUsage.toUtf8()},
        {bundleExecutable, {}, 2, "", noDesktop},
        {bundleExecutable, {"--cli"}, -1, waiting, ""},
        {almost, {}, -1, waiting, ""},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE((c.program + QLatin1Char(' ') + c.args.join(QLatin1Char(' '))).toStdString());
        const Outcome r = run(c.program, c.args, c.exitCode < 0 ? 1500 : 30000);
        EXPECT_EQ(r.exitCode, c.exitCode);
        EXPECT_EQ(r.out, c.out);
        EXPECT_TRUE(c.err.isEmpty() ? r.err.isEmpty() : r.err.contains(c.err)) << r.err.toStdString();
    }
}

QString readText(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

const QString desktopFile = QStringLiteral("share/applications/quillfen-mac.desktop");
const QString unitFile = QStringLiteral("lib/systemd/user/quillfen-mac.service");
const QString manPage = QStringLiteral("share/man/man1/QuillfenMac.1.gz");
const QString metainfo = QStringLiteral("share/metainfo/quillfen-mac.metainfo.xml");
const QString bundleInPrefix = QStringLiteral("lib/quillfen-mac/Quillfen Mac 助手.app/Contents/MacOS/QuillfenMac");
// Under the prefix (/usr in the package).
const QStringList installed = {QStringLiteral("bin/QuillfenMac"), desktopFile, unitFile, manPage, metainfo, bundleInPrefix,
                               QStringLiteral("share/icons/hicolor/scalable/apps/quillfen-mac.svg"),
                               QStringLiteral("lib/quillfen-mac/Quillfen Mac 助手.app/Contents/Resources/quillfen-mac.svg"),
                               QStringLiteral("share/doc/quillfen-mac/copyright"),
                               QStringLiteral("share/doc/quillfen-mac/changelog.gz")};

// The files, the command (a link to the bundle's executable, so the menu-bar
// mode), the help page where the program looks for it, the desktop entry and
// the user unit starting that command, a man page offering exactly the
// program's options, and Debian's checkers finding nothing to warn about.
TEST(Install, IntoATemporaryPrefix)
{
    QTemporaryDir prefix;
    const auto at = [&](const QString &path) { return prefix.filePath(path); };
    const Outcome install = run(QStringLiteral("cmake"), {"--install", buildDir, "--prefix", prefix.path()});
    ASSERT_EQ(install.exitCode, 0) << install.err.toStdString();
    for (const QString &path : installed)
        EXPECT_TRUE(QFileInfo::exists(at(path))) << path.toStdString();

    const QString command = at(QStringLiteral("bin/QuillfenMac"));
    EXPECT_EQ(QFileInfo(command).canonicalFilePath(), QFileInfo(at(bundleInPrefix)).canonicalFilePath());
    EXPECT_TRUE(run(command, {}).err.contains(noDesktop));
    EXPECT_TRUE(QFileInfo(helpPageUrl(QString(), MainBundle::locationFor(at(bundleInPrefix))).toLocalFile()).isFile());
    const std::pair<QString, QString> lines[] = {
        {desktopFile, "Name=Quillfen Mac 助手"}, {desktopFile, "Exec=" + command}, {desktopFile, "Icon=quillfen-mac"},
        {unitFile, "Type=exec"}, {unitFile, "ExecStart=" + command + " --cli"}, {unitFile, "Restart=on-failure"},
        {unitFile, "WantedBy=default.target"}};
    for (const auto &[file, line] : lines)
        EXPECT_TRUE(readText(at(file)).split(QLatin1Char('\n')).contains(line)) << line.toStdString();

    QStringList offered; // in the synopsis and the options, before the status section
    const QString man = QString::fromUtf8(run(QStringLiteral("gzip"), {"-dc", at(manPage)}).out);
    for (const QRegularExpressionMatch &option : QRegularExpression(QStringLiteral(R"((?<!\w)(\\-)+[a-z]+)"))
                                                     .globalMatch(man.section(QStringLiteral(".SH 状态"), 0, 0)))
        offered << option.captured().remove(QLatin1Char('\\'));
    offered.removeDuplicates();
    EXPECT_EQ(offered, (QStringList{"--cli", "--port", "--help"}));

    qputenv("MANPATH", QFile::encodeName(at(QStringLiteral("share/man")))); // for the unit's Documentation=man:
    for (const QStringList &check : {QStringList{"appstreamcli", "validate", "--no-net", at(metainfo)},
                                     QStringList{"mandoc", "-Tlint", at(manPage)},
                                     QStringList{"desktop-file-validate", at(desktopFile)},
                                     QStringList{"systemd-analyze", "verify", at(unitFile)}}) {
        const Outcome result = run(check.first(), check.mid(1));
        EXPECT_EQ(result.exitCode, 0) << check.join(QLatin1Char(' ')).toStdString() << "\n"
                                      << result.out.toStdString() << result.err.toStdString();
    }
}

// The .deb as `make package` makes it: its files under /usr, a command that
// answers --help, its relations, and lintian.
TEST(Install, DebianPackage)
{
#ifdef __SANITIZE_ADDRESS__
    GTEST_SKIP() << "packaged from the ordinary build only";
#endif
    QTemporaryDir out;
    const QString root = out.filePath(QStringLiteral("root"));
    const Outcome pack = run(QStringLiteral("cpack"), {"--config", buildDir + "/CPackConfig.cmake", "-B", out.path()});
    ASSERT_EQ(pack.exitCode, 0) << pack.out.toStdString() << pack.err.toStdString();
    const QString deb = out.filePath(QDir(out.path()).entryList({QStringLiteral("*.deb")}).value(0));
    ASSERT_TRUE(QDir().mkpath(root + "/var/lib/dpkg/updates") && QDir().mkpath(root + "/var/lib/dpkg/info"));
    QFile(root + "/var/lib/dpkg/status").open(QIODevice::WriteOnly);
    const Outcome install = run(QStringLiteral("dpkg"), {"--root", root, "--force-depends", "--force-not-root", "-i", deb});
    ASSERT_EQ(install.exitCode, 0) << install.err.toStdString();
    for (const QString &path : installed)
        EXPECT_TRUE(QFileInfo::exists(root + "/usr/" + path)) << path.toStdString();
    EXPECT_EQ(run(root + "/usr/bin/QuillfenMac", {"--help"}).out, CommandLine::fullUsage.toUtf8());

    const QString relations = QString::fromUtf8(
        run(QStringLiteral("dpkg-deb"), {"--showformat=${Depends}, ${Recommends}", "-W", deb}).out);
    for (const char *name : {"avahi-daemon", "lsof", "libavahi-client3", "libqt6widgets6", "qt6-wayland",
                             "qt6-translations-l10n"})
        EXPECT_TRUE(relations.contains(QRegularExpression(QStringLiteral("(^|, )%1( |,|$)").arg(QLatin1String(name)))))
            << name << " not in " << relations.toStdString();
    const Outcome lintian = run(QStringLiteral("lintian"), {"--fail-on", "error,warning", deb});
    EXPECT_EQ(lintian.exitCode, 0) << lintian.out.toStdString() << lintian.err.toStdString();
}

} // namespace
