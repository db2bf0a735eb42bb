#include "support/RunningProgram.h"

#include "support/EventLoopWait.h"

#include <algorithm>
#include <csignal>

RunningProgram::RunningProgram(const QStringList &argv, const QProcessEnvironment &environment)
{
    m_process.setProcessEnvironment(environment);
    m_process.setProgram(argv.value(0));
    m_process.setArguments(argv.mid(1));
    m_process.start();
    m_process.waitForStarted();
}

RunningProgram::~RunningProgram()
{
    kill();
}

void RunningProgram::read()
{
    m_pending += m_process.readAllStandardOutput();
    qsizetype end;
    while ((end = m_pending.indexOf('\n')) >= 0) {
        m_lines << QString::fromUtf8(m_pending.left(end));
        m_pending.remove(0, end + 1);
    }
}

QStringList RunningProgram::lines()
{
    read();
    return m_lines;
}

bool RunningProgram::waitForLine(const QString &text, std::chrono::milliseconds timeout, qsizetype since)
{
    return waitForLineWhere([&](const QString &line) { return line == text; }, timeout, since);
}

bool RunningProgram::waitForLineStartingWith(const QString &prefix, std::chrono::milliseconds timeout,
                                             qsizetype since)
{
    return waitForLineWhere([&](const QString &line) { return line.startsWith(prefix); }, timeout, since);
}

bool RunningProgram::waitForLineWhere(const std::function<bool(const QString &)> &matches,
                                      std::chrono::milliseconds timeout, qsizetype since)
{
    return waitUntil([&] {
        read();
        return std::any_of(m_lines.cbegin() + std::min(since, m_lines.size()), m_lines.cend(), matches);
    }, timeout);
}

QByteArray RunningProgram::errorOutput()
{
    return m_process.readAllStandardError();
}

void RunningProgram::kill(int signal)
{
    if (m_process.state() == QProcess::NotRunning)
        return;
    ::kill(pid_t(m_process.processId()), signal);
    if (!m_process.waitForFinished(10000)) {
        m_process.kill();
        m_process.waitForFinished();
    }
    read();
}
