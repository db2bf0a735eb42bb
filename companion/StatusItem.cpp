#include "companion/StatusItem.h"

#include "companion/DBusMenu.h"
#include "companion/ProgramIdentity.h"
#include "companion/StatusNotifierItem.h"

#include <QCoreApplication>
#include <QCursor>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QGuiApplication>
#include <QMenu>
#include <QRegularExpression>
#include <QScreen>
#include <QSystemTrayIcon>

namespace {

const QString watcherService = QStringLiteral("org.kde.StatusNotifierWatcher");
const QString watcherPath = QStringLiteral("/StatusNotifierWatcher");
const QString itemPath = QStringLiteral("/StatusNotifierItem");
const QString menuPath = QStringLiteral("/MenuBar");
// A host that hangs must not hold the item back for long.
constexpr int callTimeoutMs = 2000;

bool onX11()
{
    return QGuiApplication::platformName() == QStringLiteral("xcb");
}

} // namespace

StatusItem::StatusItem(QMenu *menu, QObject *parent)
    : QObject(parent)
    , m_menu(menu)
    , m_bus(QDBusConnection::sessionBus())
    // Qt's own tray items are numbered from 1 in the same form; 0 is never theirs.
    , m_serviceName(QStringLiteral("org.kde.StatusNotifierItem-%1-0").arg(QCoreApplication::applicationPid()))
    , m_dbusMenu(new DBusMenu(menu, this))
    , m_item(new StatusNotifierItem({ProgramIdentity::applicationId, ProgramIdentity::name,
                                     ProgramIdentity::symbolicIconName(), ProgramIdentity::iconThemeFolder(),
                                     ProgramIdentity::icon()},
                                    QDBusObjectPath(menuPath), this))
{
    connect(m_item, &StatusNotifierItem::menuRequested, this, &StatusItem::openMenuAt);
    if (m_bus.isConnected()) {
        const auto exported = QDBusConnection::ExportAllSlots | QDBusConnection::ExportScriptableSignals
                              | QDBusConnection::ExportAllProperties;
        m_bus.registerObject(itemPath, m_item, exported);
        m_bus.registerObject(menuPath, m_dbusMenu, exported);
        m_bus.registerService(m_serviceName);
    }
    m_trayCheck.setInterval(trayCheckInterval);
    connect(&m_trayCheck, &QTimer::timeout, this, &StatusItem::checkForTray);
    m_trayCheck.start();
    checkForTray();
}

StatusItem::~StatusItem()
{
    if (m_bus.isConnected()) {
        m_bus.unregisterService(m_serviceName);
        m_bus.unregisterObject(itemPath);
        m_bus.unregisterObject(menuPath);
    }
}

void StatusItem::setToolTip(const QString &text)
{
    m_toolTip = text;
    m_item->setToolTipText(text);
    if (m_xembedIcon)
        m_xembedIcon->setToolTip(ProgramIdentity::name + QLatin1Char('\n') + text);
}

// Asks the StatusNotifier watcher whether a host shows items and whether ours
// is among them; the answer comes later through the event loop.
void StatusItem::checkForTray()
{
    if (m_asking)
        return;
    if (!m_bus.isConnected())
        return useXEmbedIfThere();
    QDBusMessage getAll = QDBusMessage::createMethodCall(watcherService, watcherPath,
                                                         QStringLiteral("org.freedesktop.DBus.Properties"),
                                                         QStringLiteral("GetAll"));
    getAll << watcherService;
    askWatcher(getAll, &StatusItem::watcherAnswered);
}

// One call to the watcher at a time; the answer comes through the event loop.
void StatusItem::askWatcher(const QDBusMessage &call, void (StatusItem::*answered)(const QDBusPendingCall &))
{
    m_asking = true;
    auto *pending = new QDBusPendingCallWatcher(m_bus.asyncCall(call, callTimeoutMs), this);
    connect(pending, &QDBusPendingCallWatcher::finished, this, [this, answered](QDBusPendingCallWatcher *pending) {
        pending->deleteLater();
        m_asking = false;
        (this->*answered)(*pending);
    });
}

void StatusItem::watcherAnswered(const QDBusPendingCall &call)
{
    const QDBusPendingReply<QVariantMap> reply = call;
    const QVariantMap watcher = reply.isValid() ? reply.value() : QVariantMap();
    if (!watcher.value(QStringLiteral("IsStatusNotifierHostRegistered")).toBool())
        return useXEmbedIfThere();
    // Watchers list an item by the name it registered under or by its
    // connection's unique name, alone or followed by the object path ("/..."
    // or, in GNOME's extension, "@/..."). An item taken for another would be
    // registered anew every time, which makes hosts drop and remake it.
    const QStringList items = watcher.value(QStringLiteral("RegisteredStatusNotifierItems")).toStringList();
    for (const QString &item : items) {
        const QString name = item.left(item.indexOf(QRegularExpression(QStringLiteral("[/@]"))));
        if (name == m_serviceName || name == m_bus.baseService())
            return use(Tray::StatusNotifier);
    }
    // A new watcher, or one that restarted: it does not know the item yet.
    QDBusMessage add = QDBusMessage::createMethodCall(watcherService, watcherPath, watcherService,
                                                      QStringLiteral("RegisterStatusNotifierItem"));
    add << m_serviceName;
    askWatcher(add, &StatusItem::registered);
}

void StatusItem::registered(const QDBusPendingCall &call)
{
    if (call.isError())
        return useXEmbedIfThere();
    use(Tray::StatusNotifier);
}

// Only X11 has XEmbed trays, and Qt's tray icon takes one only while no
// StatusNotifier host is there (it decides which once per process).
void StatusItem::useXEmbedIfThere()
{
    use(onX11() && QSystemTrayIcon::isSystemTrayAvailable() ? Tray::XEmbed : Tray::None);
}

void StatusItem::use(Tray tray)
{
    if (tray == Tray::XEmbed && !m_xembedIcon) {
        m_xembedIcon = std::make_unique<QSystemTrayIcon>(ProgramIdentity::icon());
        m_xembedIcon->setContextMenu(m_menu);
        m_xembedIcon->setToolTip(ProgramIdentity::name + QLatin1Char('\n') + m_toolTip);
        connect(m_xembedIcon.get(), &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason why) {
            if (why == QSystemTrayIcon::Trigger)
                openMenuBesideIcon();
        });
        m_xembedIcon->show();
    } else if (tray != Tray::XEmbed) {
        m_xembedIcon.reset();
    }
    if (tray != m_tray) {
        m_tray = tray;
        emit trayChanged(tray);
    }
}

// A host that asks the item for its menu gives the place of the click; on
// X11 the menu opens there (or at the pointer when the host gives none).
void StatusItem::openMenuAt(QPoint position)
{
    if (!onX11()) {
        emit windowRequested();
        return;
    }
    if (m_menu)
        m_menu->popup(position.isNull() ? QCursor::pos() : position);
}

// An XEmbed icon has a known place: the menu opens below an icon in the upper
// half of its screen, above one in the lower half.
void StatusItem::openMenuBesideIcon()
{
    const QRect icon = m_xembedIcon->geometry();
    if (icon.isEmpty())
        return openMenuAt({});
    const QScreen *screen = QGuiApplication::screenAt(icon.center());
    const bool upperHalf = !screen || icon.center().y() < screen->geometry().center().y();
    openMenuAt(upperHalf ? icon.bottomLeft() + QPoint(0, 1) : icon.topLeft());
}
