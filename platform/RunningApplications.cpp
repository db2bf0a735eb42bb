#include "platform/RunningApplications.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

namespace ProcessIdentity {

std::optional<QString> applicationIdFromUnit(const QString &unit)
{
    if (!unit.startsWith(QLatin1String("app-")))
        return std::nullopt;
    QString name = unit.mid(4);
    if (name.endsWith(QLatin1String(".service"))) {
        name.chop(8);
        if (const qsizetype at = name.indexOf(QLatin1Char('@')); at >= 0)
            name.truncate(at);
    } else if (name.endsWith(QLatin1String(".scope"))) {
        name.chop(6);
        const qsizetype dash = name.lastIndexOf(QLatin1Char('-'));
        if (dash < 0)
            return std::nullopt;
        name.truncate(dash);
    } else {
        return std::nullopt;
    }
    // The id has its own dashes escaped, so it is whatever follows the last
    // raw dash (the launcher, when there is one, comes before it).
    const QString escaped = name.mid(name.lastIndexOf(QLatin1Char('-')) + 1);
    QByteArray id;
    const QByteArray bytes = escaped.toUtf8();
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        if (bytes[i] == '\\' && i + 3 < bytes.size() && bytes[i + 1] == 'x') {
            bool ok = false;
            const int value = bytes.mid(i + 2, 2).toInt(&ok, 16);
            if (ok) {
                id += char(value);
                i += 3;
                continue;
            }
        }
        id += bytes[i];
    }
    if (id.isEmpty())
        return std::nullopt;
    return QString::fromUtf8(id);
}

std::optional<QString> charlesIdentifier(const QStringList &arguments)
{
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        if (arguments[i] == QLatin1String("com.xk72.charles.gui.MainWithClassLoader"))
            return QStringLiteral("com.xk72.Charles");
        if (arguments[i] == QLatin1String("-jar") && i + 1 < arguments.size()
            && QFileInfo(arguments[i + 1]).fileName() == QLatin1String("charles.jar"))
            return QStringLiteral("com.xk72.Charles");
    }
    return std::nullopt;
}

namespace {

bool isScriptInterpreter(const QString &name)
{
    static const QStringList exact = {QStringLiteral("sh"), QStringLiteral("bash"), QStringLiteral("dash"),
                                      QStringLiteral("zsh"), QStringLiteral("perl"), QStringLiteral("ruby"),
                                      QStringLiteral("node")};
    return exact.contains(name) || name.startsWith(QLatin1String("python"));
}

} // namespace

std::optional<QString> interpretedProgram(const QString &executable, const QStringList &arguments)
{
    const qsizetype jar = arguments.indexOf(QStringLiteral("-jar"));
    if (jar >= 0 && jar + 1 < arguments.size())
        return arguments[jar + 1];
    if (!isScriptInterpreter(QFileInfo(executable).fileName()))
        return std::nullopt;
    // The first argument after the interpreter's own options; "-c" runs a
    // command text, not a file.
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        const QString &argument = arguments[i];
        if (argument == QLatin1String("-c"))
            return std::nullopt;
        if (argument == QLatin1String("--"))
            return i + 1 < arguments.size() ? std::optional<QString>(arguments[i + 1]) : std::nullopt;
        if (!argument.startsWith(QLatin1Char('-')))
            return argument;
    }
    return std::nullopt;
}

std::optional<QString> enclosingBundle(const QString &path)
{
    QString folder = QFileInfo(path).path();
    while (folder.size() > 1) {
        if (folder.endsWith(QLatin1String(".app")))
            return folder;
        const QString parent = QFileInfo(folder).path();
        if (parent == folder)
            break;
        folder = parent;
    }
    return std::nullopt;
}

} // namespace ProcessIdentity

namespace {

std::optional<QByteArray> readSmallFile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    return file.readAll();
}

QString readLink(const QString &path)
{
    QString target = QFile::symLinkTarget(path);
    if (target.endsWith(QLatin1String(" (deleted)")))
        target.chop(10);
    return target;
}

// The last component of the process's unified-hierarchy cgroup.
QString cgroupUnit(const QByteArray &cgroup)
{
    for (const QByteArray &line : cgroup.split('\n')) {
        if (line.startsWith("0::"))
            return QString::fromUtf8(line.mid(line.lastIndexOf('/') + 1));
    }
    return {};
}

std::optional<RunningApplication> readProcess(const QString &procRoot, qint32 pid)
{
    const QString dir = procRoot + QLatin1Char('/') + QString::number(pid);
    const std::optional<QByteArray> cmdline = readSmallFile(dir + QStringLiteral("/cmdline"));
    if (!cmdline)
        return std::nullopt; // gone while it was read
    QStringList arguments;
    for (const QByteArray &argument : cmdline->split('\0'))
        arguments << QString::fromLocal8Bit(argument);
    if (!arguments.isEmpty() && arguments.last().isEmpty())
        arguments.removeLast();

    RunningApplication application;
    application.processIdentifier = pid;
    const QString executable = readLink(dir + QStringLiteral("/exe"));
    if (!executable.isEmpty())
        application.bundleLocation = ProcessIdentity::enclosingBundle(executable);
    if (!application.bundleLocation) {
        if (std::optional<QString> program = ProcessIdentity::interpretedProgram(executable, arguments)) {
            if (QFileInfo(*program).isRelative())
                program = readLink(dir + QStringLiteral("/cwd")) + QLatin1Char('/') + *program;
            application.bundleLocation = ProcessIdentity::enclosingBundle(QDir::cleanPath(*program));
        }
    }

    application.bundleIdentifier = ProcessIdentity::charlesIdentifier(arguments);
    if (!application.bundleIdentifier) {
        if (const std::optional<QByteArray> cgroup = readSmallFile(dir + QStringLiteral("/cgroup")))
            application.bundleIdentifier = ProcessIdentity::applicationIdFromUnit(cgroupUnit(*cgroup));
    }
    return application;
}

} // namespace

std::vector<RunningApplication> runningApplications(const QString &procRoot)
{
    std::vector<qint32> pids;
    const QByteArray root = QFile::encodeName(procRoot);
    DIR *directory = opendir(root.constData());
    if (!directory)
        return {};
    const uid_t user = geteuid();
    while (const dirent *entry = readdir(directory)) {
        char *end = nullptr;
        const long pid = strtol(entry->d_name, &end, 10);
        if (*entry->d_name < '1' || *entry->d_name > '9' || *end != '\0' || pid > INT32_MAX)
            continue;
        struct stat info;
        if (fstatat(dirfd(directory), entry->d_name, &info, 0) != 0 || info.st_uid != user)
            continue;
        pids.push_back(qint32(pid));
    }
    closedir(directory);
    std::sort(pids.begin(), pids.end());

    std::vector<RunningApplication> applications;
    applications.reserve(pids.size());
    for (const qint32 pid : pids) {
        if (std::optional<RunningApplication> application = readProcess(procRoot, pid))
            applications.push_back(std::move(*application));
    }
    return applications;
}
