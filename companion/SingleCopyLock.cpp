#include "companion/SingleCopyLock.h"

#include <QDir>
#include <QLockFile>
#include <QStandardPaths>

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

SingleCopyLock::~SingleCopyLock() = default;

SingleCopyLock::Outcome SingleCopyLock::acquire()
{
    m_lock = std::make_unique<QLockFile>(m_path);
    // Only a dead owner makes a lock stale: a copy that has run for days
    // still holds it.
    m_lock->setStaleLockTime(0);
    if (m_lock->tryLock(0))
        return Outcome::Acquired;
    const QLockFile::LockError error = m_lock->error();
    m_lock.reset();
    return error == QLockFile::LockFailedError ? Outcome::HeldElsewhere : Outcome::Unavailable;
}
