#include "platform/RunningApplications.h"

#include "platform/ProcessIdentity.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>

#include <dirent.h>
#include <fcntl.h>
#include <climits>
#include <sys/stat.h>
#include <unistd.h>

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

    application.bundleIdentifier = ProcessIdentity::charlesIdentifier(executable, arguments);
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
