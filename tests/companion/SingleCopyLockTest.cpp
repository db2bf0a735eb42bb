// The per-user lock that keeps a second tray companion from starting.

#include "companion/SingleCopyLock.h"

#include <QFile>
#include <QLockFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

namespace {

TEST(SingleCopyLock, SecondCopyFindsTheLockHeldUntilTheFirstEnds)
{
    QTemporaryDir runtime;
    const QString path = runtime.filePath(QStringLiteral("QuillfenMac.lock"));
    {
        SingleCopyLock first(path);
        ASSERT_EQ(first.acquire(), SingleCopyLock::Outcome::Acquired);
        SingleCopyLock second(path);
        EXPECT_EQ(second.acquire(), SingleCopyLock::Outcome::HeldElsewhere);
    }
    EXPECT_FALSE(QFile::exists(path));
    SingleCopyLock next(path);
    EXPECT_EQ(next.acquire(), SingleCopyLock::Outcome::Acquired);
}

TEST(SingleCopyLock, LockOfACrashedCopyDoesNotBlock)
{
    QTemporaryDir runtime;
    const QString path = runtime.filePath(QStringLiteral("QuillfenMac.lock"));
    const pid_t child = fork();
    if (child == 0) {
        // Takes the lock and dies without releasing it.
        QLockFile lock(path);
        _exit(lock.tryLock(0) ? 0 : 1);
    }
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_EQ(WEXITSTATUS(status), 0);
    ASSERT_TRUE(QFile::exists(path)) << "the dead copy left its lock behind";

    SingleCopyLock next(path);
    EXPECT_EQ(next.acquire(), SingleCopyLock::Outcome::Acquired);
}

TEST(SingleCopyLock, UnwritableFolderIsReportedNotTakenForAnotherCopy)
{
    QTemporaryDir runtime;
    QFile regular(runtime.filePath(QStringLiteral("file")));
    ASSERT_TRUE(regular.open(QIODevice::WriteOnly));
    regular.close();
    SingleCopyLock lock(runtime.filePath(QStringLiteral("file/QuillfenMac.lock")));
    EXPECT_EQ(lock.acquire(), SingleCopyLock::Outcome::Unavailable);
}

} // namespace
