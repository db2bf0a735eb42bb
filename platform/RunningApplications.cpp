#include "platform/RunningApplications.h"

#include "platform/ProcessIdentity.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>

#include <dirent.h>
#include <fcntl.h>
#include <climits>
#include <cstring>
#include <ctime>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// /proc files are read with plain system calls: the cycle reads two or three
// of them for every process of the user, and QFile's extra work (stat,
// buffering, path handling) would be most of the cost.
std::optional<QByteArray> readSmallFile(const QByteArray &path, qsizetype limit = 1 << 20)
{
    const int fd = ::open(path.constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return std::nullopt;
    QByteArray contents;
    char buffer[4096];
    ssize_t n = 0;
    while (contents.size() < limit && (n = ::read(fd, buffer, sizeof buffer)) > 0)
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

// The application id of the unit the process runs in.
std::optional<QString> unitIdentifier(const QByteArray &dir)
{
    if (const std::optional<QByteArray> cgroup = readSmallFile(dir + "/cgroup"))
        return ProcessIdentity::applicationIdFromUnit(cgroupUnit(*cgroup));
    return std::nullopt;
}

QByteArray processDirectory(const QString &procRoot, qint32 pid)
{
    return QFile::encodeName(procRoot) + '/' + QByteArray::number(pid);
}

std::optional<RunningApplication> readProcess(const QString &procRoot, qint32 pid, bool *identifiedByArguments)
{
    const QByteArray dir = processDirectory(procRoot, pid);
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
    // A relative file named on the command line lies in the process's working folder.
    const auto fromWorkingFolder = [&](const QString &file) {
        return QFileInfo(file).isRelative() ? readLink(dir + "/cwd") + QLatin1Char('/') + file : file;
    };
    arguments = ProcessIdentity::withJavaArgumentFiles(executable, arguments, [&](const QString &file) {
        return readSmallFile(QFile::encodeName(fromWorkingFolder(file)), 64 * 1024);
    });
    if (!executable.isEmpty())
        application.bundleLocation = ProcessIdentity::enclosingBundle(executable);
    if (!application.bundleLocation) {
        if (const std::optional<QString> program = ProcessIdentity::interpretedProgram(executable, arguments))
            application.bundleLocation = ProcessIdentity::enclosingBundle(QDir::cleanPath(fromWorkingFolder(*program)));
    }

    application.bundleIdentifier = ProcessIdentity::charlesIdentifier(executable, arguments);
    *identifiedByArguments = application.bundleIdentifier.has_value();
    if (!application.bundleIdentifier)
        application.bundleIdentifier = unitIdentifier(dir);
    return application;
}

// The unit of a process younger than this is read again on every call:
// launchers move an application they started into the unit that names it
// (app-….scope) only once it runs, and its cgroup is not part of what
// identifies it.
constexpr quint64 settledSeconds = 10;

constexpr quint64 kernelThread = 0x00200000; // PF_KTHREAD in the flags field

quint64 ticksSinceBoot()
{
    timespec now{};
    clock_gettime(CLOCK_BOOTTIME, &now);
    static const long ticksPerSecond = sysconf(_SC_CLK_TCK);
    return quint64(now.tv_sec) * quint64(ticksPerSecond) + quint64(now.tv_nsec) / (1000000000 / quint64(ticksPerSecond));
}

} // namespace

std::optional<RunningApplicationScanner::Identity> RunningApplicationScanner::identity(const char *stat, size_t length)
{
    // "pid (name) state ppid ...": the name may hold blanks and parentheses,
    // so it ends at the last ')'. Fields are counted from 1 at the pid.
    const char *end = stat + length;
    const char *open = static_cast<const char *>(memchr(stat, '(', length));
    const char *close = static_cast<const char *>(memrchr(stat, ')', length));
    if (!open || !close || close < open)
        return std::nullopt;
    Identity identity;
    identity.name = QByteArray(open + 1, close - open - 1);
    constexpr int flags = 9, startTime = 22, startCode = 26, startStack = 28, argumentsStart = 48, argumentsEnd = 49;
    quint64 processFlags = 0;
    int field = 2;
    for (const char *p = close + 1; p < end; ++p) {
        if (*p != ' ')
            continue;
        quint64 *slot = nullptr;
        switch (++field) {
        case flags: slot = &processFlags; break;
        case startTime: slot = &identity.startTime; break;
        case startCode: slot = &identity.layout[0]; break;
        case startStack: slot = &identity.layout[1]; break;
        case argumentsStart: slot = &identity.layout[2]; break;
        case argumentsEnd: slot = &identity.layout[3]; break;
        default: continue;
        }
        for (const char *digit = p + 1; digit < end && *digit >= '0' && *digit <= '9'; ++digit)
            *slot = *slot * 10 + quint64(*digit - '0');
        if (field == argumentsEnd)
            break;
    }
    // A kernel thread never runs a program, whatever it is called (kworker
    // threads rename themselves as they work).
    if (processFlags & kernelThread)
        identity.name.clear();
    // Older kernels end before the argument fields.
    if (field < startStack)
        return std::nullopt;
    return identity;
}

RunningApplicationScanner::RunningApplicationScanner(QString procRoot)
    : m_procRoot(std::move(procRoot))
{
}

std::vector<RunningApplication> RunningApplicationScanner::runningApplications()
{
    const QByteArray root = QFile::encodeName(m_procRoot);
    DIR *directory = opendir(root.constData());
    if (!directory)
        return {};
    const int directoryFd = dirfd(directory);
    std::vector<qint32> pids;
    while (const dirent *entry = readdir(directory)) {
        char *end = nullptr;
        const long pid = strtol(entry->d_name, &end, 10);
        if (*entry->d_name < '1' || *entry->d_name > '9' || *end != '\0' || pid > INT32_MAX)
            continue;
        pids.push_back(qint32(pid));
    }
    std::sort(pids.begin(), pids.end());

    // Only the user's own processes matter, and the owner of the directory
    // /proc/PID is the cheapest way to learn whose a new process is. A known
    // one is not asked again: the same identity means the same process
    // running the same program, and the kernel makes the files inside root's
    // when the process is not dumpable (a java given file capabilities) or a
    // zombie, which would make it vanish and come back every other cycle.
    const uid_t user = geteuid();
    const quint64 now = ticksSinceBoot();
    static const quint64 settledTicks = settledSeconds * quint64(sysconf(_SC_CLK_TCK));
    std::vector<Known> known;
    known.reserve(m_known.size() + 16);
    std::vector<RunningApplication> applications;
    applications.reserve(m_known.size() + 16);
    auto previous = m_known.begin();
    for (const qint32 pid : pids) {
        while (previous != m_known.end() && previous->pid < pid)
            ++previous;
        const bool seenBefore = previous != m_known.end() && previous->pid == pid;
        char path[32];
        const int nameLength = snprintf(path, sizeof path, "%d", pid);
        struct stat owner;
        if (!seenBefore && (fstatat(directoryFd, path, &owner, 0) != 0 || owner.st_uid != user))
            continue;
        memcpy(path + nameLength, "/stat", 6);
        const int fd = openat(directoryFd, path, O_RDONLY | O_CLOEXEC);
        if (fd < 0)
            continue; // gone
        // The whole line comes in one read.
        char stat[1024];
        const ssize_t length = read(fd, stat, sizeof stat);
        ::close(fd);
        if (length <= 0)
            continue;
        const std::optional<Identity> identity = RunningApplicationScanner::identity(stat, size_t(length));
        if (seenBefore && identity && previous->identity == *identity) {
            if (!previous->identifiedByArguments && identity->startTime + settledTicks > now)
                previous->application.bundleIdentifier = unitIdentifier(processDirectory(m_procRoot, pid));
            applications.push_back(previous->application);
            known.push_back(std::move(*previous));
            continue;
        }
        bool identifiedByArguments = false;
        std::optional<RunningApplication> application = readProcess(m_procRoot, pid, &identifiedByArguments);
        if (!application)
            continue;
        applications.push_back(*application);
        if (identity)
            known.push_back({pid, *identity, identifiedByArguments, std::move(*application)});
    }
    closedir(directory);
    m_known = std::move(known);
    return applications;
}
