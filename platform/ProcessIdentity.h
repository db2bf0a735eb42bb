#pragma once

#include <QString>
#include <QStringList>
#include <optional>

// How a Linux process is recognised as an application: the pieces that
// RunningApplications puts together, each a pure function of what /proc shows.
namespace ProcessIdentity {

// The application id in a systemd unit name given by the desktop session:
// app-[<launcher>-]<ID>[@<n>].service or app-[<launcher>-]<ID>-<n>.scope.
std::optional<QString> applicationIdFromUnit(const QString &unit);

// "com.xk72.Charles" for a command line that runs Charles's Java main class or
// its charles.jar.
std::optional<QString> charlesIdentifier(const QStringList &arguments);

// The program file an interpreter runs: the archive after -jar, or the script
// given to sh, bash, python and the like. Nothing for other programs.
std::optional<QString> interpretedProgram(const QString &executable, const QStringList &arguments);

// The nearest enclosing folder whose name ends in ".app".
std::optional<QString> enclosingBundle(const QString &path);

} // namespace ProcessIdentity
