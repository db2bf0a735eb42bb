#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

// The TCP ports on which process pid listens, in the order lsof printed them,
// duplicates kept (one port over IPv4 and IPv6 comes twice). Runs lsof as a
// child process and waits for it without running the event loop; a tool that
// is missing, fails or has not exited after 5 seconds gives the empty list.
QList<qint64> listeningPorts(qint32 pid);

// The same with the tool given explicitly, and the time bound in milliseconds.
QList<qint64> listeningPorts(qint32 pid, const QString &toolPath, int timeoutMs = 5000);

// The first of /usr/sbin/lsof and /usr/bin/lsof that is an executable file;
// the former when neither is.
QString lsofPath();

// The seven arguments lsof is started with for process pid.
QStringList lsofArguments(qint32 pid);

// Reads the port numbers out of lsof's field output (-Fn). Output that is not
// valid UTF-8 gives the empty list.
QList<qint64> parseLsofOutput(const QByteArray &output);
