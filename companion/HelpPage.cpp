#include "companion/HelpPage.h"

QUrl helpPageUrl()
{
    return QUrl(QStringLiteral(QUILLFEN_HELP_URL), QUrl::StrictMode);
}
