#include "companion/HelpPage.h"

#include "app/MainBundle.h"

#include <QCoreApplication>

QUrl helpPageUrl(const QString &configuredUrl, const QString &bundleLocation)
{
    if (!configuredUrl.isEmpty())
        return QUrl(configuredUrl, QUrl::StrictMode);
    // The bundle's name has a blank and CJK characters: fromLocalFile encodes
    // them, where a URL pieced together as text would not parse.
    return QUrl::fromLocalFile(bundleLocation + QStringLiteral("/Contents/Resources/help.html"));
}

QUrl helpPageUrl()
{
    return helpPageUrl(QStringLiteral(QUILLFEN_HELP_URL),
                       MainBundle::locationFor(MainBundle::runningExecutable(QCoreApplication::applicationFilePath())));
}
