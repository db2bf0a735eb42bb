#include "platform/RunningApplications.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>

#include <dirent.h>
#include <fcntl.h>
#include <climits>
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
    // Each folder above the file, innermost first, cut out of the path itself
    // rather than through QFileInfo: this runs for every process of the user
    // in every cycle.
    qsizetype end = path.lastIndexOf(QLatin1Char('/'));
    while (end > 0) {
        const QStringView folder = QStringView(path).left(end);
        if (folder.endsWith(QLatin1String(".app")))
            return folder.toString();
        end = path.lastIndexOf(QLatin1Char('/'), end - 1);
    }
    return std::nullopt;
}

} // namespace ProcessIdentity

namespace {

// /proc files are read with plain system calls: the cycle reads two or three
// of them for every process of the user, and QFile's extra work (stat,
// buffering, path handling) would be most of the cost.
std::optional<QByteArray> readSmallFile(const QByteArray &path)
{
    const int fd = ::open(path.constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return std::nullopt;
    QByteArray contents;
    char buffer[4096];
    ssize_t n;
    while ((n = ::read(fd, buffer, sizeof buffer)) > 0)
        contents.append(buffer, n);
    ::close(fd);
    if (n < 0)
        return std::nullopt;
    return contents;
}

QString readLink(const QByteArray &path)
{
    char buffer[PATH_MAX];
    const ssize_t n = ::readlink(path.constData(), buffer, sizeof buffer);
    if (n <= 0 || size_t(n) >= sizeof buffer)
        return {};
    QString target = QFile::decodeName(QByteArray(buffer, n));
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
    const QByteArray dir = QFile::encodeName(procRoot) + '/' + QByteArray::number(pid);
    const std::optional<QByteArray> cmdline = readSmallFile(dir + "/cmdline");
    if (!cmdline)
        return std::nullopt; // gone while it was read
    QStringList arguments;
    for (const QByteArray &argument : cmdline->split('\0'))
        arguments << QString::fromLocal8Bit(argument);
    if (!arguments.isEmpty() && arguments.last().isEmpty())
        arguments.removeLast();

    RunningApplication application;
    application.processIdentifier = pid;
    const QString executable = readLink(dir + "/exe");
    if (!executable.isEmpty())
        application.bundleLocation = ProcessIdentity::enclosingBundle(executable);
    if (!application.bundleLocation) {
        if (std::optional<QString> program = ProcessIdentity::interpretedProgram(executable, arguments)) {
            if (QFileInfo(*program).isRelative())
                program = readLink(dir + "/cwd") + QLatin1Char('/') + *program;
            application.bundleLocation = ProcessIdentity::enclosingBundle(QDir::cleanPath(*program));
        }
    }

    application.bundleIdentifier = ProcessIdentity::charlesIdentifier(arguments);
    if (!application.bundleIdentifier) {
        if (const std::optional<QByteArray> cgroup = readSmallFile(dir + "/cgroup"))
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
