#pragma once

#include <QString>

namespace MainBundle {

// The bundle an executable belongs to: X when the resolved executable lies at
// X/Contents/MacOS/<name>, otherwise the executable's own folder.
QString locationFor(const QString &resolvedExecutable);

// Whether the last component of a bundle location has exactly the extension
// "app" (case-sensitive).
bool isApplicationBundle(const QString &location);

// The resolved path of the running executable (/proc/self/exe on Linux, else
// argv0 resolved).
QString runningExecutable(const QString &argv0);

// The running program's bundle (once a QCoreApplication exists).
QString runningBundle();

// The folder of the files shipped with the program: <bundle>/Contents/Resources.
QString resourcesFolder(const QString &bundleLocation);

} // namespace MainBundle
