#include "advertiser/ListeningPorts.h"

#include "advertiser/DecimalText.h"

#include <QFile>
#include <QFileInfo>
#include <QStringDecoder>

#include <algorithm>
#include <cerrno>
#include <climits>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

QString lsofPath()
{
    for (const QString &candidate : {QStringLiteral("/usr/sbin/lsof"), QStringLiteral("/usr/bin/lsof")}) {
        const QFileInfo info(candidate);
        if (info.isFile() && info.isExecutable())
            return candidate;
    }
    return QStringLiteral("/usr/sbin/lsof");
}

QStringList lsofArguments(qint32 pid)
{
    return {QStringLiteral("-nP"), QStringLiteral("-a"), QStringLiteral("-p"), QString::number(pid),
            QStringLiteral("-iTCP"), QStringLiteral("-sTCP:LISTEN"), QStringLiteral("-Fn")};
}

QList<qint64> parseLsofOutput(const QByteArray &output)
{
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString text = decoder.decode(output);
    if (decoder.hasError())
        return {};

    QList<qint64> ports;
    for (const QStringView line : QStringView(text).split(u'\n', Qt::SkipEmptyParts)) {
        if (!line.startsWith(u'n'))
            continue;
        const QList<QStringView> pieces = line.split(u':', Qt::SkipEmptyParts);
        if (pieces.isEmpty())
            continue;
        if (const std::optional<qint64> port = parseDecimal(pieces.last()))
            ports << *port;
    }
    return ports;
}

namespace {

using Clock = std::chrono::steady_clock;

int millisecondsUntil(Clock::time_point deadline)
{
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return int(std::clamp<decltype(left)>(left, 0, INT_MAX));
}

// False when the deadline passed first.
bool waitReadable(int fd, Clock::time_point deadline)
{
    pollfd entry{fd, POLLIN, 0};
    for (;;) {
        const int n = ::poll(&entry, 1, millisecondsUntil(deadline));
        if (n > 0)
            return true;
        if (n == 0 || errno != EINTR)
            return false;
    }
}

// True once the child has ended and is reaped (or was reaped by someone
// else); false when it has not ended by the deadline, or has ended but is
// held by a tracer, which hands it over only when it lets go.
bool reapBy(pid_t child, int pidfd, Clock::time_point deadline)
{
    for (;;) {
        const pid_t reaped = ::waitpid(child, nullptr, WNOHANG);
        if (reaped == child || (reaped < 0 && errno == ECHILD))
            return true;
        if (reaped < 0 && errno == EINTR)
            continue;
        if (Clock::now() >= deadline)
            return false;
        if (pidfd >= 0) {
            // Readable once the child has ended.
            if (!waitReadable(pidfd, deadline))
                return false;
            const pid_t again = ::waitpid(child, nullptr, WNOHANG);
            return again == child || (again < 0 && errno == ECHILD);
        }
        ::usleep(2000);
    }
}

} // namespace

ListeningPortProbe::ListeningPortProbe(QString toolPath, std::chrono::milliseconds bound)
    : m_toolPath(std::move(toolPath))
    , m_bound(bound)
{
}

ListeningPortProbe::~ListeningPortProbe()
{
    reapKilled();
}

// Children are only ever waited for by their own process id, never with
// waitpid(-1): Qt reaps the children of QProcess the same way, so neither
// can take the other's.
void ListeningPortProbe::reapKilled()
{
    std::erase_if(m_killed, [](pid_t child) {
        const pid_t reaped = ::waitpid(child, nullptr, WNOHANG);
        return reaped == child || (reaped < 0 && errno == ECHILD);
    });
}

std::optional<QList<qint64>> ListeningPortProbe::listeningPorts(qint32 pid)
{
    reapKilled();
    // A tool that outlives SIGKILL is stuck in the kernel (a hung network
    // mount, say); the next one would most likely hang the same way.
    if (!m_killed.empty())
        return std::nullopt;

    const Clock::time_point deadline = Clock::now() + m_bound;
    const QByteArray path = QFile::encodeName(m_toolPath.isEmpty() ? lsofPath() : m_toolPath);
    std::vector<QByteArray> arguments{path};
    for (const QString &argument : lsofArguments(pid))
        arguments.push_back(argument.toUtf8());
    std::vector<char *> argv;
    for (QByteArray &argument : arguments)
        argv.push_back(argument.data());
    argv.push_back(nullptr);

    int output[2];
    if (::pipe2(output, O_CLOEXEC) != 0)
        return QList<qint64>();
    // Started directly, without a shell and without copying this process (a
    // vfork in glibc), which a fork of a Qt program with its many mappings
    // would cost.
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, output[1], STDOUT_FILENO);
    // Never read, so never able to fill up and stall the tool.
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t signalSet;
    sigemptyset(&signalSet);
    posix_spawnattr_setsigmask(&attributes, &signalSet);
    sigaddset(&signalSet, SIGPIPE);
    posix_spawnattr_setsigdefault(&attributes, &signalSet);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    pid_t child = 0;
    const int failed = ::posix_spawn(&child, path.constData(), &actions, &attributes, argv.data(), environ);
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    ::close(output[1]);
    if (failed) {
        ::close(output[0]);
        return QList<qint64>();
    }
    const int pidfd = int(::syscall(SYS_pidfd_open, child, 0));

    // poll() on the pipe only: the event loop does not run, so no timer or
    // DNS-SD event can interleave with the update cycle.
    QByteArray text;
    bool closed = false;
    while (!closed && waitReadable(output[0], deadline)) {
        char buffer[4096];
        const ssize_t n = ::read(output[0], buffer, sizeof buffer);
        if (n > 0)
            text.append(buffer, n);
        else if (n == 0 || errno != EINTR)
            closed = true;
    }
    ::close(output[0]);

    const bool ended = closed && reapBy(child, pidfd, deadline);
    if (!ended) {
        // A hung tool would freeze the whole program: give up on it, and
        // wait only briefly for it to die. One that does not is reaped by a
        // later call.
        ::kill(child, SIGKILL);
        if (!reapBy(child, pidfd, Clock::now() + std::chrono::milliseconds(100)))
            m_killed.push_back(child);
    }
    if (pidfd >= 0)
        ::close(pidfd);
    return ended ? parseLsofOutput(text) : QList<qint64>{};
}
