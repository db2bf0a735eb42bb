#pragma once

// Readable gtest failure messages for Qt's text and list types.

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <ostream>

inline void PrintTo(const QString &text, std::ostream *out) { *out << '"' << text.toStdString() << '"'; }
inline void PrintTo(const QByteArray &bytes, std::ostream *out) { *out << '"' << bytes.toStdString() << '"'; }
inline void PrintTo(const QStringList &list, std::ostream *out)
{
    *out << (list.isEmpty() ? QStringLiteral("{}") : "{\"" + list.join(QStringLiteral("\", \"")) + "\"}").toStdString();
}
