#include "advertiser/ListeningPorts.h"

#include "advertiser/DecimalText.h"

#include <QDeadlineTimer>
#include <QFileInfo>
#include <QProcess>
#include <QStringDecoder>

QString lsofPath()
{
    for (const QString &candidate : {QStringLiteral("/usr/sbin/lsof"), QStringLiteral("/usr/bin/lsof")}) {
        const QFileInfo info(candidate);
        if (info.isFile() && info.isExecutable())
            return candidate;
    }
    return QStringLiteral("/usr/sbin/lsof");
}

QStringList lsofArguments(qint32 pid)
{
    return {QStringLiteral("-nP"), QStringLiteral("-a"), QStringLiteral("-p"), QString::number(pid),
            QStringLiteral("-iTCP"), QStringLiteral("-sTCP:LISTEN"), QStringLiteral("-Fn")};
}

QList<qint64> parseLsofOutput(const QByteArray &output)
{
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString text = decoder.decode(output);
    if (decoder.hasError())
        return {};

    QList<qint64> ports;
    for (const QStringView line : QStringView(text).split(u'\n', Qt::SkipEmptyParts)) {
        if (!line.startsWith(u'n'))
            continue;
        const QList<QStringView> pieces = line.split(u':', Qt::SkipEmptyParts);
        if (pieces.isEmpty())
            continue;
        if (const std::optional<qint64> port = parseDecimal(pieces.last()))
            ports << *port;
    }
    return ports;
}

QList<qint64> listeningPorts(qint32 pid)
{
    return listeningPorts(pid, lsofPath());
}

QList<qint64> listeningPorts(qint32 pid, const QString &toolPath, int timeoutMs)
{
    const QDeadlineTimer deadline(timeoutMs);
    QProcess tool;
    tool.setProgram(toolPath);
    tool.setArguments(lsofArguments(pid));
    tool.setStandardInputFile(QProcess::nullDevice());
    // Never read, so never able to fill up and stall the tool.
    tool.setStandardErrorFile(QProcess::nullDevice());
    tool.start();
    // These waits poll the child's pipes only; the event loop does not run,
    // so no timer or DNS-SD event can interleave with the update cycle.
    if (!tool.waitForStarted(int(deadline.remainingTime())))
        return {};
    if (!tool.waitForFinished(int(qMax<qint64>(deadline.remainingTime(), 0)))) {
        // A hung tool would freeze the whole program: give up on it.
        tool.kill();
        tool.waitForFinished(-1);
        return {};
    }
    return parseLsofOutput(tool.readAllStandardOutput());
}
