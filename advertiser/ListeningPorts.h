#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <chrono>
#include <optional>
#include <vector>

#include <sys/types.h>

// The TCP ports on which a process listens, asked of lsof.
class ListeningPortProbe
{
public:
    // toolPath empty: lsofPath() at each call.
    explicit ListeningPortProbe(QString toolPath = {}, std::chrono::milliseconds bound = std::chrono::seconds(5));
    ~ListeningPortProbe();
    ListeningPortProbe(const ListeningPortProbe &) = delete;
    ListeningPortProbe &operator=(const ListeningPortProbe &) = delete;

    // The ports of process pid, in the order lsof printed them, duplicates
    // kept (one port over IPv4 and IPv6 comes twice). Runs the tool and waits
    // for it without running the event loop. A tool that is missing or fails
    // gives the empty list; so does one still running at the bound, which is
    // killed. While a killed tool has not died yet, no other is started and
    // the answer, at once, is that nothing is known.
    std::optional<QList<qint64>> listeningPorts(qint32 pid);

    // Killed tools that have not been reaped yet.
    int unreapedTools() const { return int(m_killed.size()); }

private:
    void reapKilled();

    QString m_toolPath;
    std::chrono::milliseconds m_bound;
    std::vector<pid_t> m_killed;
};

// The first of /usr/sbin/lsof and /usr/bin/lsof that is an executable file;
// the former when neither is.
QString lsofPath();

// The seven arguments lsof is started with for process pid.
QStringList lsofArguments(qint32 pid);

// Reads the port numbers out of lsof's field output (-Fn). Output that is not
// valid UTF-8 gives the empty list.
QList<qint64> parseLsofOutput(const QByteArray &output);
