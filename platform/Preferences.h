#pragma once

#include <QString>
#include <optional>

// The preferences suite "QuillfenMac": an INI file at
// $XDG_CONFIG_HOME/QuillfenMac.conf (default ~/.config/QuillfenMac.conf).
// Every call opens the file and closes it again, so each write is on disk when
// the call returns. A file that cannot be read reads as empty; a failed write
// is returned as false and otherwise ignored by the callers.
namespace Preferences {

inline const QString machineIdKey = QStringLiteral("Quillfen.machineID");
inline const QString proxyPortKey = QStringLiteral("Quillfen.proxyPort");

QString filePath();

std::optional<QString> stringForKey(const QString &key);
bool setString(const QString &key, const QString &value);
// The stored integer, or 0 when the key is absent or holds no integer.
qint64 integerForKey(const QString &key);
bool setInteger(const QString &key, qint64 value);

} // namespace Preferences
