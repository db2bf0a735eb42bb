#include "companion/ApplicationActivation.h"

#include "companion/ProgramIdentity.h"

#include <QDBusMessage>

namespace {

// "/example/quillfen/mac" for the id "example.quillfen.mac".
QString objectPath()
{
    return QLatin1Char('/') + QString(ProgramIdentity::applicationId).replace(u'.', u'/').replace(u'-', u'_');
}

const QString interfaceName = QStringLiteral("org.freedesktop.Application");

} // namespace

ApplicationActivation::ApplicationActivation(QObject *parent)
    : QObject(parent)
    , m_bus(QDBusConnection::sessionBus())
{
    if (!m_bus.isConnected())
        return;
    m_bus.registerObject(objectPath(), this, QDBusConnection::ExportAllSlots);
    m_bus.registerService(ProgramIdentity::applicationId);
}

ApplicationActivation::~ApplicationActivation()
{
    if (!m_bus.isConnected())
        return;
    m_bus.unregisterService(ProgramIdentity::applicationId);
    m_bus.unregisterObject(objectPath());
}

bool ApplicationActivation::activateRunningCopy()
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return false;
    QDBusMessage activate = QDBusMessage::createMethodCall(ProgramIdentity::applicationId, objectPath(),
                                                           interfaceName, QStringLiteral("Activate"));
    activate << QVariantMap();
    // A copy that hangs must not keep this one from ending.
    return bus.call(activate, QDBus::Block, 2000).type() == QDBusMessage::ReplyMessage;
}

void ApplicationActivation::Activate(const QVariantMap &)
{
    emit activated();
}

void ApplicationActivation::Open(const QStringList &, const QVariantMap &)
{
    emit activated();
}

void ApplicationActivation::ActivateAction(const QString &, const QVariantList &, const QVariantMap &)
{
}
