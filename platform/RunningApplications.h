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
