#include "companion/HelpPage.h"

#include "platform/MainBundle.h"

QUrl helpPageUrl(const QString &configuredUrl, const QString &bundleLocation)
{
    if (!configuredUrl.isEmpty())
        return QUrl(configuredUrl, QUrl::StrictMode);
    // The bundle's name has a blank and CJK characters: fromLocalFile encodes
    // them, where a URL pieced together as text would not parse.
    return QUrl::fromLocalFile(MainBundle::resourcesFolder(bundleLocation) + QStringLiteral("/help.html"));
}

QUrl helpPageUrl()
{
    return helpPageUrl(QStringLiteral(QUILLFEN_HELP_URL), MainBundle::runningBundle());
}
