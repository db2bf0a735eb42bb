#pragma once

#include <QString>
#include <memory>

class QLockFile;

// Keeps a second copy of the menu-bar companion from starting beside the
// first: a per-user lock file, held for as long as the process lives. A lock
// left behind by a copy that crashed belongs to a process that no longer
// exists, and the next start takes it over.
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
    QString path() const { return m_path; }

private:
    QString m_path;
    std::unique_ptr<QLockFile> m_lock;
};
