#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <optional>
#include <vector>

// One running application as the update cycle sees it.
struct RunningApplication
{
    // A reverse-DNS application id ("com.xk72.Charles"), when one is known.
    std::optional<QString> bundleIdentifier;
    // Full path of the nearest enclosing "<name>.app" folder, when there is one.
    std::optional<QString> bundleLocation;
    qint32 processIdentifier = 0;
};

// Lists the processes of the current user from a proc file system mounted at
// procRoot. What it learnt about a process is kept from one call to the next,
// so that a settled process costs one directory entry per call: the entry's
// inode number changes when the pid is reused. A process younger than
// youngSeconds is read afresh on every call (launchers exec into the program
// and move it into the unit that names it in its first moments), and every
// other one in turn, once every rereadEvery calls, so that a late exec or a
// process left unreaped after it ended is seen in the end.
class RunningApplicationScanner
{
public:
    static constexpr int youngSeconds = 10;
    static constexpr int rereadEvery = 20;

    explicit RunningApplicationScanner(QString procRoot = QStringLiteral("/proc"));

    // In ascending process id. A process that vanishes while it is read, and
    // one that runs no program (a zombie, a kernel thread), is left out.
    std::vector<RunningApplication> runningApplications();

private:
    struct Known
    {
        qint32 pid;
        quint64 inode; // of /proc/PID, as the directory listing gives it
        bool own;
        // Clock ticks after boot until which it is read afresh on every call.
        quint64 youngUntil;
        // Nothing when the process is not the user's or runs no program.
        std::optional<RunningApplication> application;
    };

    QString m_procRoot;
    // Ascending process id.
    std::vector<Known> m_known;
    quint64 m_calls = 0;
};
