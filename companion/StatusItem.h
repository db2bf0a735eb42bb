#pragma once

#include <QDBusConnection>
#include <QObject>
#include <QPoint>
#include <QPointer>
#include <QString>
#include <QTimer>
#include <chrono>
#include <memory>

class DBusMenu;
class QDBusMessage;
class QDBusPendingCall;
class QMenu;
class QSystemTrayIcon;
class StatusNotifierItem;

// The program's icon in the desktop's tray, with its menu and tooltip.
//
// A StatusNotifier host (Plasma, GNOME's AppIndicator extension, waybar and
// most panels) is preferred: the item and its menu are exported on the session
// bus and the host draws both. Without one, an X11 session's XEmbed tray gets
// an icon that Qt draws. Trays come and go (autostart races the panel, an
// extension is switched on later, a panel restarts), so the item looks again
// every few seconds and moves to whichever tray is there.
class StatusItem final : public QObject
{
    Q_OBJECT

public:
    enum class Tray { None, StatusNotifier, XEmbed };
    static constexpr std::chrono::milliseconds trayCheckInterval{3000};

    explicit StatusItem(QMenu *menu, QObject *parent = nullptr);
    ~StatusItem() override;

    // The status line, the tooltip's text under the program's name.
    void setToolTip(const QString &text);
    QString toolTip() const { return m_toolTip; }
    Tray tray() const { return m_tray; }
    // What tray hosts read over D-Bus.
    StatusNotifierItem *notifierItem() const { return m_item; }
    DBusMenu *exportedMenu() const { return m_dbusMenu; }

signals:
    void trayChanged(StatusItem::Tray tray);
    // A host asked for the menu where the program cannot place one (Wayland
    // gives a window no place on the screen): show the program's window.
    void windowRequested();

private:
    void checkForTray();
    void askWatcher(const QDBusMessage &call, void (StatusItem::*answered)(const QDBusPendingCall &));
    void watcherAnswered(const QDBusPendingCall &call);
    void registered(const QDBusPendingCall &call);
    void useXEmbedIfThere();
    void use(Tray tray);
    void openMenuAt(QPoint position);
    void openMenuBesideIcon();

    QPointer<QMenu> m_menu;
    QString m_toolTip;
    QDBusConnection m_bus;
    QString m_serviceName;
    DBusMenu *m_dbusMenu;
    StatusNotifierItem *m_item;
    std::unique_ptr<QSystemTrayIcon> m_xembedIcon;
    QTimer m_trayCheck;
    bool m_asking = false;
    Tray m_tray = Tray::None;
};
