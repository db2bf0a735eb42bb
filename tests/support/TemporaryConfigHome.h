#pragma once

#include <QByteArray>
#include <QTemporaryDir>
#include <QtGlobal>

// Points XDG_CONFIG_HOME at a fresh empty folder for as long as it lives, so
// that the preferences a test writes never touch the user's.
class TemporaryConfigHome
{
public:
    TemporaryConfigHome() { qputenv("XDG_CONFIG_HOME", m_dir.path().toUtf8()); }
    ~TemporaryConfigHome() { m_previous.isNull() ? qunsetenv("XDG_CONFIG_HOME") : qputenv("XDG_CONFIG_HOME", m_previous); }
    QString path() const { return m_dir.path(); }

private:
    QTemporaryDir m_dir;
    const QByteArray m_previous = qgetenv("XDG_CONFIG_HOME"); // null when unset
};
