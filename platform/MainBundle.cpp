#include "platform/MainBundle.h"

#include <QCoreApplication>
#include <QFileInfo>

namespace MainBundle {

QString locationFor(const QString &resolvedExecutable)
{
    // Plain path arithmetic: the folders need not exist.
    const QString folder = QFileInfo(resolvedExecutable).absolutePath();
    const QString contents = QFileInfo(folder).path();
    if (QFileInfo(folder).fileName() == QStringLiteral("MacOS")
        && QFileInfo(contents).fileName() == QStringLiteral("Contents"))
        return QFileInfo(contents).path();
    return folder;
}

bool isApplicationBundle(const QString &location)
{
    const QString name = QFileInfo(location).fileName();
    // A leading dot marks a hidden name, not an extension.
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    return dot > 0 && name.mid(dot + 1) == QStringLiteral("app");
}

QString runningExecutable(const QString &argv0)
{
    const QString resolved = QFileInfo(QStringLiteral("/proc/self/exe")).canonicalFilePath();
    return resolved.isEmpty() ? QFileInfo(argv0).canonicalFilePath() : resolved;
}

QString resourcesFolder(const QString &bundleLocation)
{
    return bundleLocation + QStringLiteral("/Contents/Resources");
}

QString runningBundle()
{
    return locationFor(runningExecutable(QCoreApplication::applicationFilePath()));
}

} // namespace MainBundle
