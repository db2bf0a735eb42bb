#include "companion/StatusItem.h"

#include <QMenu>
#include <QCursor>
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
    // A left click opens the menu too: it is the program's only window.
    connect(m_icon.get(), &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        if (reason == QSystemTrayIcon::Trigger && m_menu)
            m_menu->popup(QCursor::pos());
    });
    m_icon->show();
}

void StatusItem::checkForTray()
{
    if (!QSystemTrayIcon::isSystemTrayAvailable())
        return;
    m_trayCheck.stop();
    makeIcon();
}
