#include "platform/Preferences.h"

#include <QDir>
#include <QFileInfo>
#include <QSettings>

#include <memory>

namespace Preferences {

namespace {

// QSettings reads "." in a key as itself but would split at "/"; the keys
// used here have no "/".
std::unique_ptr<QSettings> openSuite()
{
    return std::make_unique<QSettings>(filePath(), QSettings::IniFormat);
}

// Whether the file on disk now holds what was set. A FormatError only says
// that the old contents could not be read; QSettings writes the file anew all
// the same, so it is no failure of the write.
bool close(QSettings &suite)
{
    suite.sync();
    return suite.status() != QSettings::AccessError;
}

} // namespace

QString filePath()
{
    QString base = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (base.isEmpty() || QFileInfo(base).isRelative())
        base = QDir::homePath() + QStringLiteral("/.config");
    return base + QStringLiteral("/QuillfenMac.conf");
}

std::optional<QString> stringForKey(const QString &key)
{
    auto suite = openSuite();
    const QVariant value = suite->value(key);
    if (!value.isValid())
        return std::nullopt;
    return value.toString();
}

bool setString(const QString &key, const QString &value)
{
    QDir().mkpath(QFileInfo(filePath()).path());
    auto suite = openSuite();
    suite->setValue(key, value);
    return close(*suite);
}

qint64 integerForKey(const QString &key)
{
    auto suite = openSuite();
    bool ok = false;
    const qint64 value = suite->value(key).toLongLong(&ok);
    return ok ? value : 0;
}

bool setInteger(const QString &key, qint64 value)
{
    QDir().mkpath(QFileInfo(filePath()).path());
    auto suite = openSuite();
    suite->setValue(key, value);
    return close(*suite);
}

} // namespace Preferences
