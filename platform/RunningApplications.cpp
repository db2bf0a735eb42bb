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

// /proc files are read with plain system calls relative to the open /proc
// folder: a new process costs four or five of them, and QFile's extra work
// (stat, buffering, path handling) would be most of the cost. An absolute
// path is read as it is.
std::optional<QByteArray> readSmallFile(int folderFd, const char *path, qsizetype limit = 1 << 20)
{
    const int fd = ::openat(folderFd, path, O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return std::nullopt;
    QByteArray contents;
    char buffer[4096];
    ssize_t n = 0;
    // A short read is the end here (a /proc file made in one piece, a
    // command line, a plain file), which saves a read that would return 0.
    while (contents.size() < limit && (n = ::read(fd, buffer, sizeof buffer)) > 0) {
        contents.append(buffer, n);
        if (size_t(n) < sizeof buffer)
            break;
    }
    ::close(fd);
    if (n < 0)
        return std::nullopt;
    return contents;
}

QString readLink(int folderFd, const char *path)
{
    char buffer[PATH_MAX];
    const ssize_t n = ::readlinkat(folderFd, path, buffer, sizeof buffer);
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

// "PID/file", a path inside the proc folder ("PID" when file is empty),
// written without printf, which would cost more than the lookup.
struct ProcessFile
{
    char path[48];
    ProcessFile(qint32 pid, const char *file)
    {
        char digits[12];
        int count = 0;
        for (quint32 rest = quint32(pid); rest || !count; rest /= 10)
            digits[count++] = char('0' + rest % 10);
        char *at = path;
        while (count)
            *at++ = digits[--count];
        if (*file)
            *at++ = '/';
        for (; *file && at < path + sizeof path - 1; ++file)
            *at++ = *file;
        *at = '\0';
    }
    operator const char *() const { return path; }
};

// Nothing when the process has gone, or runs no program: a zombie and a
// kernel thread have no command line.
std::optional<RunningApplication> readProcess(int procFd, qint32 pid)
{
    const std::optional<QByteArray> cmdline = readSmallFile(procFd, ProcessFile(pid, "cmdline"));
    if (!cmdline || cmdline->isEmpty())
        return std::nullopt;
    QStringList arguments;
    for (const QByteArray &argument : cmdline->split('\0'))
        arguments << QString::fromLocal8Bit(argument);
    if (!arguments.isEmpty() && arguments.last().isEmpty())
        arguments.removeLast();

    RunningApplication application;
    application.processIdentifier = pid;
    const QString executable = readLink(procFd, ProcessFile(pid, "exe"));
    // A relative file named on the command line lies in the process's working folder.
    const auto fromWorkingFolder = [&](const QString &file) {
        return QFileInfo(file).isRelative() ? readLink(procFd, ProcessFile(pid, "cwd")) + QLatin1Char('/') + file : file;
    };
    arguments = ProcessIdentity::withJavaArgumentFiles(executable, arguments, [&](const QString &file) {
        return readSmallFile(AT_FDCWD, QFile::encodeName(fromWorkingFolder(file)).constData(), 64 * 1024);
    });
    if (!executable.isEmpty())
        application.bundleLocation = ProcessIdentity::enclosingBundle(executable);
    if (!application.bundleLocation) {
        if (const std::optional<QString> program = ProcessIdentity::interpretedProgram(executable, arguments))
            application.bundleLocation = ProcessIdentity::enclosingBundle(QDir::cleanPath(fromWorkingFolder(*program)));
    }

    // Otherwise the application id of the unit the process runs in.
    application.bundleIdentifier = ProcessIdentity::charlesIdentifier(executable, arguments);
    if (!application.bundleIdentifier) {
        if (const std::optional<QByteArray> cgroup = readSmallFile(procFd, ProcessFile(pid, "cgroup")))
            application.bundleIdentifier = ProcessIdentity::applicationIdFromUnit(cgroupUnit(*cgroup));
    }
    return application;
}

// The start time in a stat line "pid (name) state ppid ...", field 22
// counted from 1 at the pid; the name may hold blanks and parentheses, so it
// ends at the last ')'.
std::optional<quint64> startTime(const char *stat, size_t length)
{
    const char *end = stat + length;
    const char *close = static_cast<const char *>(memrchr(stat, ')', length));
    if (!close)
        return std::nullopt;
    int field = 2;
    for (const char *p = close + 1; p < end; ++p) {
        if (*p != ' ' || ++field != 22)
            continue;
        quint64 ticks = 0;
        for (const char *digit = p + 1; digit < end && *digit >= '0' && *digit <= '9'; ++digit)
            ticks = ticks * 10 + quint64(*digit - '0');
        return ticks;
    }
    return std::nullopt;
}

std::optional<quint64> readStartTime(int procFd, qint32 pid)
{
    const int fd = openat(procFd, ProcessFile(pid, "stat"), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return std::nullopt; // gone
    char stat[1024]; // the whole line comes in one read
    const ssize_t length = read(fd, stat, sizeof stat);
    ::close(fd);
    return length > 0 ? startTime(stat, size_t(length)) : std::nullopt;
}

quint64 ticksSinceBoot()
{
    timespec now{};
    clock_gettime(CLOCK_BOOTTIME, &now);
    static const long ticksPerSecond = sysconf(_SC_CLK_TCK);
    return quint64(now.tv_sec) * quint64(ticksPerSecond) + quint64(now.tv_nsec) / (1000000000 / quint64(ticksPerSecond));
}

} // namespace

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
    struct Entry
    {
        qint32 pid;
        quint64 inode;
    };
    std::vector<Entry> entries;
    entries.reserve(m_known.size() + 64);
    while (const dirent *entry = readdir(directory)) {
        char *end = nullptr;
        const long pid = strtol(entry->d_name, &end, 10);
        if (*entry->d_name < '1' || *entry->d_name > '9' || *end != '\0' || pid > INT32_MAX)
            continue;
        entries.push_back({qint32(pid), quint64(entry->d_ino)});
    }
    std::sort(entries.begin(), entries.end(), [](const Entry &a, const Entry &b) { return a.pid < b.pid; });

    ++m_calls;
    // Only the user's own processes matter, and the owner of the directory
    // /proc/PID is the cheapest way to learn whose a process is; it stays the
    // user even when the files inside turn root's (a process that is not
    // dumpable, such as a java given file capabilities, or a zombie).
    const uid_t user = geteuid();
    const quint64 now = ticksSinceBoot();
    static const quint64 youngTicks = youngSeconds * quint64(sysconf(_SC_CLK_TCK));
    std::vector<Known> known;
    known.reserve(entries.size());
    std::vector<RunningApplication> applications;
    applications.reserve(m_known.size() + 16);
    auto previous = m_known.begin();
    for (const Entry &entry : entries) {
        while (previous != m_known.end() && previous->pid < entry.pid)
            ++previous;
        const bool seenBefore = previous != m_known.end() && previous->pid == entry.pid && previous->inode == entry.inode;
        const bool itsTurn = (quint64(entry.pid) + m_calls) % rereadEvery == 0;
        if (seenBefore && !itsTurn && previous->youngUntil <= now) {
            if (previous->application)
                applications.push_back(*previous->application);
            known.push_back(std::move(*previous));
            continue;
        }
        Known process{entry.pid, entry.inode, false, 0, std::nullopt};
        if (seenBefore && previous->own) {
            process.own = true;
            process.youngUntil = previous->youngUntil;
        } else {
            struct stat owner;
            if (fstatat(directoryFd, ProcessFile(entry.pid, ""), &owner, 0) != 0)
                continue; // gone
            process.own = owner.st_uid == user;
            // A process that appears between two calls has only just
            // started; of those running at the first call only the stat line
            // tells the age.
            if (process.own && m_calls > 1) {
                process.youngUntil = now + youngTicks;
            } else if (process.own) {
                const std::optional<quint64> started = readStartTime(directoryFd, entry.pid);
                if (!started)
                    continue; // gone
                process.youngUntil = *started + youngTicks;
            }
        }
        if (process.own)
            process.application = readProcess(directoryFd, entry.pid);
        if (process.application)
            applications.push_back(*process.application);
        known.push_back(std::move(process));
    }
    closedir(directory);
    m_known = std::move(known);
    return applications;
}
