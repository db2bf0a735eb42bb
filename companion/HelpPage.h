#pragma once

#include <QUrl>

// The page that the menu's help entry opens in the default browser. Fixed at
// build time (the QUILLFEN_HELP_URL cache option); not a user setting.
QUrl helpPageUrl();
