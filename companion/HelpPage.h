#pragma once

#include <QString>
#include <QUrl>

// The page that the menu's help entry opens: the web address set at build
// time (the QUILLFEN_HELP_URL cache option) when there is one, otherwise the
// Chinese help page shipped in the application bundle, as a file URL. Not a
// user setting.
QUrl helpPageUrl(const QString &configuredUrl, const QString &bundleLocation);

// The same for the running program, whose bundle is found from its executable.
QUrl helpPageUrl();
