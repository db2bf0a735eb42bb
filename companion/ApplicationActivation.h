#pragma once

#include <QDBusConnection>
#include <QObject>
#include <QStringList>
#include <QVariantMap>

// The freedesktop way to reach a running application: the interface
// org.freedesktop.Application, under the application id on the session bus.
// The running copy answers it; a copy started later asks it to show itself
// before it gives way.
class ApplicationActivation final : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Application")

public:
    explicit ApplicationActivation(QObject *parent = nullptr);
    ~ApplicationActivation() override;

    // Asks the running copy to show itself; false when none answered.
    static bool activateRunningCopy();

public slots:
    void Activate(const QVariantMap &platformData);
    void Open(const QStringList &uris, const QVariantMap &platformData);
    void ActivateAction(const QString &actionName, const QVariantList &parameter, const QVariantMap &platformData);

signals:
    void activated();

private:
    QDBusConnection m_bus;
};
