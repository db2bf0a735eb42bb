#pragma once

#include <QIcon>
#include <QMenu>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>
#include <chrono>
#include <memory>

class QMenu;
class QSystemTrayIcon;

// The program's icon in the desktop's system tray, with its menu and tooltip.
// Qt picks the tray protocol (StatusNotifierItem or XEmbed) when the icon is
// made, so while no tray is there the item waits, and makes its icon afresh
// once a tray appears; the program keeps working meanwhile.
class StatusItem final : public QObject
{
    Q_OBJECT

public:
    static constexpr std::chrono::milliseconds trayCheckInterval{5000};

    StatusItem(const QIcon &icon, const QString &toolTip, QObject *parent = nullptr);
    ~StatusItem() override;

    void setMenu(QMenu *menu);
    void setToolTip(const QString &text);
    QString toolTip() const { return m_toolTip; }
    QIcon icon() const { return m_iconImage; }
    QMenu *menu() const { return m_menu; }

    // Whether the icon is in a tray now.
    bool isShown() const;
    // Whether the item still waits for a tray to appear.
    bool isWaitingForTray() const { return m_trayCheck.isActive(); }

    // The program's icon: the desktop theme's network icon, else the glyph
    // that comes with the program.
    static QIcon programIcon();

private:
    void makeIcon();
    void openMenuBesideIcon();
    void checkForTray();

    QIcon m_iconImage;
    QString m_toolTip;
    QPointer<QMenu> m_menu;
    std::unique_ptr<QSystemTrayIcon> m_icon;
    QTimer m_trayCheck;
};
