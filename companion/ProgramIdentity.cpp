#include "companion/ProgramIdentity.h"

#include "platform/MainBundle.h"

// The icons are compiled into this static library, whose resources are not
// registered on their own.
static void registerResources()
{
    Q_INIT_RESOURCE(companion);
}

namespace ProgramIdentity {

QString symbolicIconName()
{
    return applicationId + QStringLiteral("-symbolic");
}

QString iconThemeFolder()
{
    return MainBundle::resourcesFolder(MainBundle::runningBundle()) + QStringLiteral("/icons");
}

QIcon icon()
{
    registerResources();
    return QIcon(QStringLiteral(":/quillfen/program.svg"));
}

} // namespace ProgramIdentity
