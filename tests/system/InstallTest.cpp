// The bundle in the build tree, `cmake --install` into a temporary prefix,
// and the .deb that cpack makes, installed by dpkg.

#include "app/MainBundle.h"
#include "companion/HelpPage.h"
#include "support/QtPrinters.h"

#include "app/CommandLine.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

const QString buildDir = QStringLiteral(QUILLFEN_BINARY_DIR);
const QString bundleExecutable = buildDir + QStringLiteral("/Quillfen Mac 助手.app/Contents/MacOS/QuillfenMac");

// The page that the help entry of this executable opens by default.
QString helpPage(const QString &executable)
{
    return helpPageUrl(QString(), MainBundle::locationFor(executable)).toLocalFile();
}

struct Outcome
{
    int exitCode = -1;
    QByteArray out, err;
};

// Runs to the end (at most two minutes) with no display, no system bus and
// an empty configuration, so nothing reaches the real desktop or network.
Outcome run(const QString &program, const QStringList &args, const QString &configHome)
{
    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        env.remove(QString::fromLatin1(name));
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), configHome);
    env.insert(QStringLiteral("DBUS_SYSTEM_BUS_ADDRESS"), QStringLiteral("unix:path=/nonexistent/quillfen-test-bus"));
    process.setProcessEnvironment(env);
    process.start(program, args);
    if (!process.waitForFinished(120000)) {
        process.kill();
        process.waitForFinished();
    }
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1, process.readAllStandardOutput(),
            process.readAllStandardError()};
}

QByteArray sha256(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QCryptographicHash::hash(file.readAll(), QCryptographicHash::Sha256);
}

QString readText(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

// With no arguments the menu-bar mode starts; without a display it says so
// and ends with status 2 (the command-line mode would keep running).
const QByteArray noDesktop("没有找到图形桌面");

TEST(Install, BundleInTheBuildTreeStartsTheMenuBarMode)
{
    QTemporaryDir config;
    EXPECT_EQ(sha256(bundleExecutable), sha256(buildDir + QStringLiteral("/QuillfenMac")));
    EXPECT_TRUE(QFileInfo(helpPage(bundleExecutable)).isFile());
    const Outcome plain = run(bundleExecutable, {}, config.path());
    EXPECT_EQ(plain.exitCode, 2);
    EXPECT_TRUE(plain.err.contains(noDesktop)) << plain.err.toStdString();
    EXPECT_EQ(plain.out, QByteArray());
}

TEST(Install, IntoATemporaryPrefix)
{
    QTemporaryDir prefix, config;
    const Outcome install = run(QStringLiteral("cmake"), {"--install", buildDir, "--prefix", prefix.path()}, config.path());
    ASSERT_EQ(install.exitCode, 0) << install.err.toStdString();

    const QString command = prefix.filePath(QStringLiteral("bin/QuillfenMac"));
    const QString installedBundle =
        prefix.filePath(QStringLiteral("lib/quillfen-mac/Quillfen Mac 助手.app/Contents/MacOS/QuillfenMac"));
    EXPECT_TRUE(QFileInfo(command).isSymLink());
    EXPECT_EQ(QFileInfo(command).canonicalFilePath(), QFileInfo(installedBundle).canonicalFilePath());
    for (const char *file : {"share/applications/quillfen-mac.desktop", "share/icons/hicolor/scalable/apps/quillfen-mac.svg",
                             "lib/systemd/user/quillfen-mac.service", "share/man/man1/QuillfenMac.1.gz",
                             "lib/quillfen-mac/Quillfen Mac 助手.app/Contents/Resources/quillfen-mac.svg"}) {
        EXPECT_TRUE(QFileInfo::exists(prefix.filePath(QString::fromUtf8(file)))) << file;
    }
    EXPECT_TRUE(QFileInfo(helpPage(installedBundle)).isFile());

    // The command: the full usage, and with no arguments the menu-bar mode
    // (it resolves to the executable inside the bundle).
    const Outcome help = run(command, {"--help"}, config.path());
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_TRUE(help.out.startsWith("用法：QuillfenMac")) << help.out.toStdString();
    const Outcome plain = run(command, {}, config.path());
    EXPECT_EQ(plain.exitCode, 2);
    EXPECT_TRUE(plain.err.contains(noDesktop)) << plain.err.toStdString();

    const QString desktop = readText(prefix.filePath(QStringLiteral("share/applications/quillfen-mac.desktop")));
    const QString unit = readText(prefix.filePath(QStringLiteral("lib/systemd/user/quillfen-mac.service")));
    const QStringList expectedLines = {
        QStringLiteral("[Desktop Entry]"),
        QStringLiteral("Type=Application"),
        QStringLiteral("Name=Quillfen Mac 助手"),
        QStringLiteral("Exec=") + command,
        QStringLiteral("Icon=quillfen-mac"),
    };
    const QStringList desktopLines = desktop.split(QLatin1Char('\n'));
    for (const QString &line : expectedLines)
        EXPECT_TRUE(desktopLines.contains(line)) << line.toStdString();
    const QStringList unitLines = unit.split(QLatin1Char('\n'));
    for (const QString &line : {QStringLiteral("Type=exec"), QStringLiteral("Restart=on-failure"),
                                QStringLiteral("WantedBy=default.target"),
                                QStringLiteral("ExecStart=") + command + QStringLiteral(" --cli")})
        EXPECT_TRUE(unitLines.contains(line)) << line.toStdString();
}

// The .deb as `make package` makes it, installed by dpkg into a throwaway
// root: the command there answers --help, every file the package lists is
// there, and Debian's own checkers find nothing to warn about.
TEST(Install, DebianPackageInstallsAndPassesTheLintTools)
{
#ifdef __SANITIZE_ADDRESS__
    GTEST_SKIP() << "packaged from the ordinary build only";
#endif
    QTemporaryDir out, config;
    const QString root = out.filePath(QStringLiteral("root"));
    const auto inRoot = [&](const char *path) { return root + QLatin1Char('/') + QString::fromUtf8(path); };
    const Outcome pack = run(QStringLiteral("cpack"),
                             {"--config", buildDir + QStringLiteral("/CPackConfig.cmake"), "-B", out.path()},
                             config.path());
    ASSERT_EQ(pack.exitCode, 0) << pack.out.toStdString() << pack.err.toStdString();
    const QStringList debs = QDir(out.path()).entryList({QStringLiteral("*.deb")});
    ASSERT_EQ(debs.size(), 1);
    const QString deb = out.filePath(debs.first());

    ASSERT_TRUE(QDir().mkpath(inRoot("var/lib/dpkg/updates")) && QDir().mkpath(inRoot("var/lib/dpkg/info")));
    QFile(inRoot("var/lib/dpkg/status")).open(QIODevice::WriteOnly);
    const Outcome install = run(QStringLiteral("dpkg"), {"--root", root, "--force-depends", "--force-not-root", "-i", deb},
                                config.path());
    ASSERT_EQ(install.exitCode, 0) << install.err.toStdString();
    const QStringList listed = QString::fromUtf8(run(QStringLiteral("dpkg"), {"--root", root, "-L", "quillfen-mac"},
                                                     config.path()).out).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    for (const QString &path : listed)
        EXPECT_TRUE(QFileInfo(root + path).exists() || QFileInfo(root + path).isSymLink()) << path.toStdString();
    for (const char *path : {"/usr/bin/QuillfenMac", "/usr/share/applications/quillfen-mac.desktop",
                             "/usr/share/icons/hicolor/scalable/apps/quillfen-mac.svg",
                             "/usr/share/man/man1/QuillfenMac.1.gz", "/usr/share/metainfo/quillfen-mac.metainfo.xml",
                             "/usr/lib/systemd/user/quillfen-mac.service", "/usr/share/doc/quillfen-mac/copyright",
                             "/usr/share/doc/quillfen-mac/changelog.gz"})
        EXPECT_TRUE(listed.contains(QString::fromUtf8(path))) << path;

    const Outcome help = run(inRoot("usr/bin/QuillfenMac"), {"--help"}, config.path());
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_EQ(help.out, CommandLine::fullUsage.toUtf8());
    const QString relations = QString::fromUtf8(
        run(QStringLiteral("dpkg-deb"), {"--showformat=${Depends}, ${Recommends}", "-W", deb}, config.path()).out);
    for (const char *name : {"avahi-daemon", "lsof", "libavahi-client3", "libqt6widgets6", "qt6-wayland",
                             "qt6-translations-l10n"})
        EXPECT_TRUE(relations.contains(QRegularExpression(QStringLiteral("(^|, )%1( |,|$)").arg(QLatin1String(name)))))
            << name << " not in " << relations.toStdString();
    // The man page's synopsis and options offer exactly what the program accepts.
    const QString man = QString::fromUtf8(
        run(QStringLiteral("gzip"), {"-dc", inRoot("usr/share/man/man1/QuillfenMac.1.gz")}, config.path()).out);
    QStringList offered;
    for (const QRegularExpressionMatch &option : QRegularExpression(QStringLiteral(R"((?<!\w)(\\-)+[a-z]+)"))
                                                     .globalMatch(man.section(QStringLiteral(".SH 状态"), 0, 0)))
        offered << option.captured().remove(QLatin1Char('\\'));
    offered.removeDuplicates();
    EXPECT_EQ(offered, (QStringList{"--cli", "--port", "--help"}));

    // The unit names the command in /usr/bin, which systemd-analyze wants to
    // find: a copy points into the root. Documentation=man: is looked up
    // through MANPATH.
    QFile unit(inRoot("usr/lib/systemd/user/quillfen-mac.service"));
    QFile unitCopy(out.filePath(QStringLiteral("quillfen-mac.service")));
    ASSERT_TRUE(unit.open(QIODevice::ReadOnly) && unitCopy.open(QIODevice::WriteOnly));
    unitCopy.write(unit.readAll().replace("=/usr/bin/", (QLatin1Char('=') + inRoot("usr/bin/")).toUtf8()));
    unitCopy.close();
    qputenv("MANPATH", inRoot("usr/share/man").toUtf8());
    const std::vector<QStringList> checks = {
        {"lintian", "--fail-on", "error,warning", deb},
        {"appstreamcli", "validate", "--no-net", inRoot("usr/share/metainfo/quillfen-mac.metainfo.xml")},
        {"mandoc", "-Tlint", inRoot("usr/share/man/man1/QuillfenMac.1.gz")},
        {"desktop-file-validate", inRoot("usr/share/applications/quillfen-mac.desktop")},
        {"systemd-analyze", "verify", unitCopy.fileName()},
    };
    for (const QStringList &check : checks) {
        const Outcome result = run(check.first(), check.mid(1), config.path());
        EXPECT_EQ(result.exitCode, 0) << check.join(QLatin1Char(' ')).toStdString() << "\n"
                                      << result.out.toStdString() << result.err.toStdString();
    }
}

} // namespace
