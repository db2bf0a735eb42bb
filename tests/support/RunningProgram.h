#pragma once

// A program started by a test, whose standard output is collected line by
// line. Killed when the object goes.

#include <QByteArray>
#include <QProcess>
#include <QProcessEnvironment>
#include <QStringList>
#include <chrono>
#include <functional>

class RunningProgram
{
public:
    // argv[0] is the program. Standard error is collected apart.
    explicit RunningProgram(const QStringList &argv,
                            const QProcessEnvironment &environment = QProcessEnvironment::systemEnvironment());
    ~RunningProgram();
    RunningProgram(const RunningProgram &) = delete;
    RunningProgram &operator=(const RunningProgram &) = delete;

    bool isRunning() const { return m_process.state() != QProcess::NotRunning; }
    qint64 pid() const { return m_process.processId(); }

    // The complete lines printed so far, without their line feeds.
    QStringList lines();
    // Waits (running the event loop) until a line equal to text has been
    // printed at index `since` or later.
    bool waitForLine(const QString &text, std::chrono::milliseconds timeout, qsizetype since = 0);
    // The same for a line that starts with prefix.
    bool waitForLineStartingWith(const QString &prefix, std::chrono::milliseconds timeout, qsizetype since = 0);
    QByteArray errorOutput();

    // Sends the signal and waits for the end.
    void kill(int signal = 9);

private:
    void read();
    bool waitForLineWhere(const std::function<bool(const QString &)> &matches, std::chrono::milliseconds timeout,
                          qsizetype since);

    QProcess m_process;
    QByteArray m_pending;
    QStringList m_lines;
};
