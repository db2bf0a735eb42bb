// The bundle in the build tree, `cmake --install` into a temporary prefix,
// and the .deb that cpack makes.

#include "app/MainBundle.h"
#include "companion/HelpPage.h"
#include "support/QtPrinters.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
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
                             "lib/systemd/user/quillfen-mac.service", "share/man/man1/QuillfenMac.1",
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

    if (!QStandardPaths::findExecutable(QStringLiteral("desktop-file-validate")).isEmpty()) {
        const Outcome valid = run(QStringLiteral("desktop-file-validate"),
                              {prefix.filePath(QStringLiteral("share/applications/quillfen-mac.desktop"))},
                              config.path());
        EXPECT_EQ(valid.exitCode, 0) << valid.out.toStdString() << valid.err.toStdString();
    }
}

TEST(Install, DebianPackageDependsOnTheDaemonAndLsof)
{
    if (QStandardPaths::findExecutable(QStringLiteral("dpkg-deb")).isEmpty())
        GTEST_SKIP() << "no dpkg-deb here";
    QTemporaryDir out, config;
    const Outcome pack = run(QStringLiteral("cpack"),
                         {"--config", buildDir + QStringLiteral("/CPackConfig.cmake"), "-G", "DEB", "-B", out.path()},
                         config.path());
    ASSERT_EQ(pack.exitCode, 0) << pack.out.toStdString() << pack.err.toStdString();
    const QStringList debs = QDir(out.path()).entryList({QStringLiteral("*.deb")});
    ASSERT_EQ(debs.size(), 1);
    const QString deb = out.filePath(debs.first());

    const Outcome fields = run(QStringLiteral("dpkg-deb"), {"-f", deb, "Package", "Depends"}, config.path());
    EXPECT_TRUE(fields.out.contains("Package: quillfen-mac"));
    const QStringList depends = QString::fromUtf8(fields.out.mid(fields.out.indexOf("Depends:") + 8))
                                    .split(QLatin1Char(','), Qt::SkipEmptyParts);
    QStringList names;
    for (const QString &dependency : depends)
        names << dependency.trimmed().section(QLatin1Char(' '), 0, 0);
    EXPECT_TRUE(names.contains(QStringLiteral("avahi-daemon"))) << names.join(QLatin1Char(' ')).toStdString();
    EXPECT_TRUE(names.contains(QStringLiteral("lsof")));

    const Outcome contents = run(QStringLiteral("dpkg-deb"), {"-c", deb}, config.path());
    EXPECT_TRUE(contents.out.contains("./usr/bin/QuillfenMac -> "));
    EXPECT_TRUE(contents.out.contains("./usr/share/applications/quillfen-mac.desktop"));
}

} // namespace
