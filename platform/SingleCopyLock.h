#pragma once

#include <QByteArray>
#include <QString>

// Keeps a second copy from running beside the first: an exclusive flock on a
// per-user file, held for as long as the process lives. The kernel drops the
// lock when its holder ends, however it ends, so a lock is never stale and no
// process id or program name needs to be compared. The file itself stays.
class SingleCopyLock
{
public:
    enum class Outcome {
        Acquired,      // this is the only copy
        HeldElsewhere, // another copy runs
        Unavailable,   // the lock file cannot be made; run unguarded
    };

    // $XDG_RUNTIME_DIR/QuillfenMac.lock (or Qt's fallback runtime folder).
    static QString defaultPath();

    explicit SingleCopyLock(const QString &path = defaultPath());
    ~SingleCopyLock();
    SingleCopyLock(const SingleCopyLock &) = delete;
    SingleCopyLock &operator=(const SingleCopyLock &) = delete;

    Outcome acquire();
    // What to tell the user when acquire() gives Unavailable, a line of its own.
    QByteArray unavailableText() const;

private:
    QString m_path;
    int m_fd = -1;
};
