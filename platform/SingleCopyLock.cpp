#include "platform/SingleCopyLock.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QStandardPaths>

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

QString SingleCopyLock::defaultPath()
{
    QString folder = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (folder.isEmpty())
        folder = QDir::tempPath();
    return QDir(folder).filePath(QStringLiteral("QuillfenMac.lock"));
}

SingleCopyLock::SingleCopyLock(const QString &path)
    : m_path(path)
{
}

SingleCopyLock::~SingleCopyLock()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

QByteArray SingleCopyLock::unavailableText() const
{
    return "无法创建锁文件 " + QFile::encodeName(m_path) + "，无法确认是否已有一份在运行。\n";
}

SingleCopyLock::Outcome SingleCopyLock::acquire()
{
    if (m_fd >= 0)
        return Outcome::Acquired;
    const int fd = ::open(QFile::encodeName(m_path).constData(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0)
        return Outcome::Unavailable;
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const bool held = errno == EWOULDBLOCK;
        ::close(fd);
        return held ? Outcome::HeldElsewhere : Outcome::Unavailable;
    }
    // The holder's process id, for a person who looks; the lock does not need it.
    const QByteArray pid = QByteArray::number(QCoreApplication::applicationPid()) + '\n';
    if (::ftruncate(fd, 0) == 0) {
        [[maybe_unused]] const ssize_t written = ::write(fd, pid.constData(), size_t(pid.size()));
    }
    m_fd = fd;
    return Outcome::Acquired;
}
