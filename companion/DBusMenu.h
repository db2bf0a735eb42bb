#pragma once

#include <QDBusArgument>
#include <QDBusVariant>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QStringList>
#include <QVariantMap>

class QAction;
class QMenu;

// The com.canonical.dbusmenu types: a menu line and its properties (ia{sv}),
// the names of removed properties (ias), a line with its children (ia{sv}av)
// and an event a host reports (isvu).
struct DBusMenuItem
{
    int id = 0;
    QVariantMap properties;
};
struct DBusMenuItemKeys
{
    int id = 0;
    QStringList properties;
};
struct DBusMenuLayoutItem
{
    int id = 0;
    QVariantMap properties;
    QList<DBusMenuLayoutItem> children;
};
struct DBusMenuEvent
{
    int id = 0;
    QString eventId;
    QDBusVariant data;
    uint timestamp = 0;
};
using DBusMenuShortcut = QList<QStringList>;

Q_DECLARE_METATYPE(DBusMenuItem)
Q_DECLARE_METATYPE(DBusMenuItemKeys)
Q_DECLARE_METATYPE(DBusMenuLayoutItem)
Q_DECLARE_METATYPE(DBusMenuEvent)

// A QMenu as a tray host shows it: its actions as one flat list of lines,
// exported under the com.canonical.dbusmenu interface. A host draws the menu
// itself, which is the only way to place a menu beside a tray icon on Wayland.
// Clicks arrive as events and trigger the action once the call has returned.
class DBusMenu final : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "com.canonical.dbusmenu")
    Q_PROPERTY(uint Version READ version)
    Q_PROPERTY(QString TextDirection READ textDirection)
    Q_PROPERTY(QString Status READ status)
    Q_PROPERTY(QStringList IconThemePath READ iconThemePath)

public:
    explicit DBusMenu(QMenu *menu, QObject *parent = nullptr);

    uint version() const { return 3; }
    QString textDirection() const { return QStringLiteral("ltr"); }
    QString status() const { return QStringLiteral("normal"); }
    QStringList iconThemePath() const { return {}; }

public slots:
    uint GetLayout(int parentId, int recursionDepth, const QStringList &propertyNames, DBusMenuLayoutItem &layout);
    QList<DBusMenuItem> GetGroupProperties(const QList<int> &ids, const QStringList &propertyNames);
    QDBusVariant GetProperty(int id, const QString &name);
    void Event(int id, const QString &eventId, const QDBusVariant &data, uint timestamp);
    QList<int> EventGroup(const QList<DBusMenuEvent> &events);
    bool AboutToShow(int id);
    QList<int> AboutToShowGroup(const QList<int> &ids, QList<int> &idErrors);

signals:
    // Spelled out: D-Bus finds the types of signals and slots by these names.
    Q_SCRIPTABLE void ItemsPropertiesUpdated(const QList<DBusMenuItem> &updatedProps,
                                             const QList<DBusMenuItemKeys> &removedProps);
    Q_SCRIPTABLE void LayoutUpdated(uint revision, int parent);
    Q_SCRIPTABLE void ItemActivationRequested(int id, uint timestamp);

private:
    QAction *action(int id) const;
    QVariantMap properties(int id, const QStringList &names) const;

    QPointer<QMenu> m_menu;
    uint m_revision = 1;
};

void registerDBusMenuTypes();
