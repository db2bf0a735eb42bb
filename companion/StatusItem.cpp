#include "companion/StatusItem.h"

#include <QGuiApplication>
#include <QMenu>
#include <QScreen>
#include <QSystemTrayIcon>

#include <cstdio>

StatusItem::StatusItem(const QIcon &icon, const QString &toolTip, QObject *parent)
    : QObject(parent)
    , m_iconImage(icon)
    , m_toolTip(toolTip)
{
    m_trayCheck.setInterval(trayCheckInterval);
    connect(&m_trayCheck, &QTimer::timeout, this, &StatusItem::checkForTray);
    makeIcon();
    if (!QSystemTrayIcon::isSystemTrayAvailable()) {
        std::fputs("未找到系统托盘：Quillfen Mac 助手仍在后台发布 Charles，托盘出现后会显示图标。\n", stderr);
        m_trayCheck.start();
    }
}

StatusItem::~StatusItem() = default;

void StatusItem::setMenu(QMenu *menu)
{
    m_menu = menu;
    m_icon->setContextMenu(menu);
}

void StatusItem::setToolTip(const QString &text)
{
    m_toolTip = text;
    m_icon->setToolTip(text);
}

bool StatusItem::isShown() const
{
    return m_icon->isVisible() && QSystemTrayIcon::isSystemTrayAvailable();
}

// The glyph is compiled into this static library, whose resources are not
// registered on their own.
static void registerResources()
{
    Q_INIT_RESOURCE(companion);
}

QIcon StatusItem::programIcon()
{
    registerResources();
    return QIcon::fromTheme(QStringLiteral("network-workgroup"),
                            QIcon::fromTheme(QStringLiteral("network-wired"),
                                             QIcon(QStringLiteral(":/quillfen/quillfen-mac.svg"))));
}

void StatusItem::makeIcon()
{
    m_icon = std::make_unique<QSystemTrayIcon>(m_iconImage);
    m_icon->setToolTip(m_toolTip);
    if (m_menu)
        m_icon->setContextMenu(m_menu);
    connect(m_icon.get(), &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        if (reason == QSystemTrayIcon::Trigger)
            openMenuBesideIcon();
    });
    m_icon->show();
}

// A left click opens the menu too, where the program can put it beside the
// icon: an XEmbed icon on X11 has a known place on the screen. A
// StatusNotifier host tells no place, and on Wayland a menu without a parent
// window would become a window of its own; there the host shows the menu
// (on the right click) from what the item exports over D-Bus.
void StatusItem::openMenuBesideIcon()
{
    const QRect icon = m_icon->geometry();
    if (!m_menu || icon.isEmpty() || QGuiApplication::platformName() != QStringLiteral("xcb"))
        return;
    // Below an icon in the upper half of its screen, above one in the lower
    // half: QMenu moves a menu that does not fit below the point up above it.
    const QScreen *screen = QGuiApplication::screenAt(icon.center());
    const bool upperHalf = !screen || icon.center().y() < screen->geometry().center().y();
    m_menu->popup(upperHalf ? icon.bottomLeft() + QPoint(0, 1) : icon.topLeft());
}

void StatusItem::checkForTray()
{
    if (!QSystemTrayIcon::isSystemTrayAvailable())
        return;
    m_trayCheck.stop();
    makeIcon();
}
