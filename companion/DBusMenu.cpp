#include "companion/DBusMenu.h"

#include <QAction>
#include <QDBusMetaType>
#include <QKeySequence>
#include <QMenu>
#include <QTimer>

QDBusArgument &operator<<(QDBusArgument &argument, const DBusMenuItem &item)
{
    argument.beginStructure();
    argument << item.id << item.properties;
    argument.endStructure();
    return argument;
}
const QDBusArgument &operator>>(const QDBusArgument &argument, DBusMenuItem &item)
{
    argument.beginStructure();
    argument >> item.id >> item.properties;
    argument.endStructure();
    return argument;
}
QDBusArgument &operator<<(QDBusArgument &argument, const DBusMenuItemKeys &keys)
{
    argument.beginStructure();
    argument << keys.id << keys.properties;
    argument.endStructure();
    return argument;
}
const QDBusArgument &operator>>(const QDBusArgument &argument, DBusMenuItemKeys &keys)
{
    argument.beginStructure();
    argument >> keys.id >> keys.properties;
    argument.endStructure();
    return argument;
}
// The children are variants, each holding a line of the same type.
QDBusArgument &operator<<(QDBusArgument &argument, const DBusMenuLayoutItem &item)
{
    argument.beginStructure();
    argument << item.id << item.properties;
    argument.beginArray(qMetaTypeId<QDBusVariant>());
    for (const DBusMenuLayoutItem &child : item.children)
        argument << QDBusVariant(QVariant::fromValue(child));
    argument.endArray();
    argument.endStructure();
    return argument;
}
const QDBusArgument &operator>>(const QDBusArgument &argument, DBusMenuLayoutItem &item)
{
    argument.beginStructure();
    argument >> item.id >> item.properties;
    argument.beginArray();
    while (!argument.atEnd()) {
        QDBusVariant child;
        argument >> child;
        item.children << qdbus_cast<DBusMenuLayoutItem>(child.variant());
    }
    argument.endArray();
    argument.endStructure();
    return argument;
}
QDBusArgument &operator<<(QDBusArgument &argument, const DBusMenuEvent &event)
{
    argument.beginStructure();
    argument << event.id << event.eventId << event.data << event.timestamp;
    argument.endStructure();
    return argument;
}
const QDBusArgument &operator>>(const QDBusArgument &argument, DBusMenuEvent &event)
{
    argument.beginStructure();
    argument >> event.id >> event.eventId >> event.data >> event.timestamp;
    argument.endStructure();
    return argument;
}

void registerDBusMenuTypes()
{
    qDBusRegisterMetaType<DBusMenuItem>();
    qDBusRegisterMetaType<QList<DBusMenuItem>>();
    qDBusRegisterMetaType<DBusMenuItemKeys>();
    qDBusRegisterMetaType<QList<DBusMenuItemKeys>>();
    qDBusRegisterMetaType<DBusMenuLayoutItem>();
    qDBusRegisterMetaType<DBusMenuEvent>();
    qDBusRegisterMetaType<QList<DBusMenuEvent>>();
    qDBusRegisterMetaType<DBusMenuShortcut>();
}

namespace {

// "Ctrl+," as dbusmenu spells it: [["Control", ","]].
DBusMenuShortcut shortcutParts(const QKeySequence &sequence)
{
    DBusMenuShortcut parts;
    for (int i = 0; i < sequence.count(); ++i) {
        const QKeyCombination key = sequence[i];
        QStringList chord;
        const Qt::KeyboardModifiers modifiers = key.keyboardModifiers();
        const std::pair<Qt::KeyboardModifier, const char *> names[] = {
            {Qt::ControlModifier, "Control"}, {Qt::AltModifier, "Alt"}, {Qt::ShiftModifier, "Shift"},
            {Qt::MetaModifier, "Super"}};
        for (const auto &[modifier, name] : names)
            if (modifiers & modifier)
                chord << QString::fromLatin1(name);
        chord << QKeySequence(key.key()).toString();
        parts << chord;
    }
    return parts;
}

} // namespace

DBusMenu::DBusMenu(QMenu *menu, QObject *parent)
    : QObject(parent)
    , m_menu(menu)
{
    registerDBusMenuTypes();
    // A changed line (the status, the port) makes hosts read the menu again.
    for (QAction *line : menu->actions())
        connect(line, &QAction::changed, this, [this] { emit LayoutUpdated(++m_revision, 0); });
}

// Line ids are positions in the menu, from 1; 0 is the menu itself.
QAction *DBusMenu::action(int id) const
{
    if (!m_menu || id < 1 || id > m_menu->actions().size())
        return nullptr;
    return m_menu->actions().at(id - 1);
}

QVariantMap DBusMenu::properties(int id, const QStringList &names) const
{
    QVariantMap all;
    if (id == 0) {
        all.insert(QStringLiteral("children-display"), QStringLiteral("submenu"));
    } else if (const QAction *line = action(id)) {
        if (line->isSeparator()) {
            all.insert(QStringLiteral("type"), QStringLiteral("separator"));
        } else {
            // An underscore would mark a mnemonic.
            all.insert(QStringLiteral("label"), QString(line->text()).replace(u'_', QStringLiteral("__")));
            if (!line->shortcut().isEmpty())
                all.insert(QStringLiteral("shortcut"), QVariant::fromValue(shortcutParts(line->shortcut())));
        }
        if (!line->isEnabled())
            all.insert(QStringLiteral("enabled"), false);
        if (!line->isVisible())
            all.insert(QStringLiteral("visible"), false);
    }
    if (names.isEmpty())
        return all;
    QVariantMap asked;
    for (const QString &name : names)
        if (all.contains(name))
            asked.insert(name, all.value(name));
    return asked;
}

uint DBusMenu::GetLayout(int parentId, int recursionDepth, const QStringList &propertyNames,
                         DBusMenuLayoutItem &layout)
{
    layout = {parentId, properties(parentId, propertyNames), {}};
    if (parentId == 0 && recursionDepth != 0 && m_menu)
        for (int id = 1; id <= m_menu->actions().size(); ++id)
            layout.children << DBusMenuLayoutItem{id, properties(id, propertyNames), {}};
    return m_revision;
}

QList<DBusMenuItem> DBusMenu::GetGroupProperties(const QList<int> &ids, const QStringList &propertyNames)
{
    QList<DBusMenuItem> items;
    for (int id : ids)
        if (id == 0 || action(id))
            items << DBusMenuItem{id, properties(id, propertyNames)};
    return items;
}

QDBusVariant DBusMenu::GetProperty(int id, const QString &name)
{
    return QDBusVariant(properties(id, {}).value(name));
}

void DBusMenu::Event(int id, const QString &eventId, const QDBusVariant &, uint)
{
    QAction *line = action(id);
    if (!line || eventId != QStringLiteral("clicked"))
        return;
    // The host waits for this call to return; a modal dialog must not keep it waiting.
    QTimer::singleShot(0, line, [line = QPointer<QAction>(line)] {
        if (line && line->isEnabled())
            line->trigger();
    });
}

QList<int> DBusMenu::EventGroup(const QList<DBusMenuEvent> &events)
{
    QList<int> unknown;
    for (const DBusMenuEvent &event : events) {
        if (action(event.id))
            Event(event.id, event.eventId, event.data, event.timestamp);
        else
            unknown << event.id;
    }
    return unknown;
}

bool DBusMenu::AboutToShow(int)
{
    return false; // the layout is always current
}

QList<int> DBusMenu::AboutToShowGroup(const QList<int> &ids, QList<int> &idErrors)
{
    for (int id : ids)
        if (id != 0 && !action(id))
            idErrors << id;
    return {};
}
