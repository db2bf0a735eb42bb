#pragma once

#include <QString>
#include <QStringList>
#include <optional>
#include <vector>

// One running application as the update cycle sees it.
struct RunningApplication
{
    // A reverse-DNS application id ("com.xk72.Charles"), when one is known.
    std::optional<QString> bundleIdentifier;
    // Full path of the nearest enclosing "<name>.app" folder, when there is one.
    std::optional<QString> bundleLocation;
    qint32 processIdentifier = 0;
};

// The processes of the current user, in ascending process id, read from a
// proc file system mounted at procRoot. A process that vanishes while it is
// read is left out.
std::vector<RunningApplication> runningApplications(const QString &procRoot = QStringLiteral("/proc"));

// The pieces of the identification, for the tests.
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
