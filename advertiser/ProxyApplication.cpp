#include "advertiser/ProxyApplication.h"

#include <QFileInfo>

namespace {

const QString proxyBundleIdentifier = QStringLiteral("com.xk72.Charles");
const QString proxyBundleFolder = QStringLiteral("Charles.app");

bool isProxy(const RunningApplication &application)
{
    if (application.bundleIdentifier == proxyBundleIdentifier)
        return true;
    return application.bundleLocation
        && QFileInfo(*application.bundleLocation).fileName() == proxyBundleFolder;
}

} // namespace

const RunningApplication *findProxyApplication(const std::vector<RunningApplication> &applications)
{
    for (const RunningApplication &application : applications) {
        if (isProxy(application))
            return &application;
    }
    return nullptr;
}
