#include "platform/HostName.h"

#include <QFile>
#include <QSysInfo>

namespace {

// The value of one KEY=VALUE line of a shell-style environment file, with
// its quotes and backslash escapes undone.
QString shellValue(QStringView raw)
{
    raw = raw.trimmed();
    QString value;
    QChar quote;
    for (qsizetype i = 0; i < raw.size(); ++i) {
        const QChar c = raw[i];
        if (quote.isNull()) {
            if (c == u'"' || c == u'\'') {
                quote = c;
            } else if (c == u'\\' && i + 1 < raw.size()) {
                value += raw[++i];
            } else if (c == u'#' && (i == 0 || raw[i - 1].isSpace())) {
                break;
            } else {
                value += c;
            }
        } else if (c == quote) {
            quote = QChar();
        } else if (quote == u'"' && c == u'\\' && i + 1 < raw.size()) {
            value += raw[++i];
        } else {
            value += c;
        }
    }
    return value.trimmed();
}

QString prettyHostName(const QString &machineInfoPath)
{
    QFile file(machineInfoPath);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return {};
    QString pretty;
    for (const QByteArray &bytes : file.readAll().split('\n')) {
        const QString line = QString::fromUtf8(bytes).trimmed();
        if (line.startsWith(QLatin1String("PRETTY_HOSTNAME=")))
            pretty = shellValue(QStringView(line).mid(16));
    }
    return pretty;
}

} // namespace

std::optional<QString> hostDisplayName(const QString &machineInfoPath)
{
    if (const QString pretty = prettyHostName(machineInfoPath); !pretty.isEmpty())
        return pretty;
    if (const QString host = QSysInfo::machineHostName(); !host.isEmpty())
        return host;
    return std::nullopt;
}
