#pragma once

#include <QByteArray>
#include <QDBusArgument>
#include <QDBusContext>
#include <QDBusObjectPath>
#include <QIcon>
#include <QList>
#include <QObject>
#include <QPoint>
#include <QString>

// The org.kde.StatusNotifierItem types: an image (iiay, ARGB32 in network
// byte order) and a tooltip (sa(iiay)ss: icon name, images, title, text).
struct IconPixmap
{
    int width = 0;
    int height = 0;
    QByteArray argb;
};
using IconPixmapList = QList<IconPixmap>;
struct StatusNotifierToolTip
{
    QString iconName;
    IconPixmapList iconPixmaps;
    QString title;
    QString text;
};
Q_DECLARE_METATYPE(IconPixmap)
Q_DECLARE_METATYPE(StatusNotifierToolTip)

// The program's tray item as StatusNotifier hosts (KDE Plasma, GNOME's
// AppIndicator extension, waybar, Xfce, LXQt) read it over D-Bus. It is only a
// menu: hosts that heed ItemIsMenu open the exported menu on a left click, and
// Activate fails, on which Plasma opens that menu too. A host without menus of
// its own asks for one with ContextMenu, passed on as menuRequested.
class StatusNotifierItem final : public QObject, protected QDBusContext
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kde.StatusNotifierItem")
    Q_PROPERTY(QString Category READ category)
    Q_PROPERTY(QString Id READ id)
    Q_PROPERTY(QString Title READ title)
    Q_PROPERTY(QString Status READ status)
    Q_PROPERTY(int WindowId READ windowId)
    Q_PROPERTY(QString IconThemePath READ iconThemePath)
    Q_PROPERTY(QString IconName READ iconName)
    Q_PROPERTY(IconPixmapList IconPixmap READ iconPixmap)
    Q_PROPERTY(QString OverlayIconName READ none)
    Q_PROPERTY(IconPixmapList OverlayIconPixmap READ noPixmaps)
    Q_PROPERTY(QString AttentionIconName READ none)
    Q_PROPERTY(IconPixmapList AttentionIconPixmap READ noPixmaps)
    Q_PROPERTY(QString AttentionMovieName READ none)
    Q_PROPERTY(StatusNotifierToolTip ToolTip READ toolTip)
    Q_PROPERTY(bool ItemIsMenu READ itemIsMenu)
    Q_PROPERTY(QDBusObjectPath Menu READ menu)

public:
    struct Look
    {
        QString id;            // the application id
        QString title;         // the program's name
        QString iconName;      // looked up in the icon theme, then in iconThemePath
        QString iconThemePath; // a folder holding hicolor/...
        QIcon icon;            // drawn into IconPixmap for hosts without the theme
    };

    StatusNotifierItem(Look look, const QDBusObjectPath &menu, QObject *parent = nullptr);

    void setToolTipText(const QString &text);

    QString category() const { return QStringLiteral("ApplicationStatus"); }
    QString id() const { return m_look.id; }
    QString title() const { return m_look.title; }
    QString status() const { return QStringLiteral("Active"); }
    int windowId() const { return 0; }
    QString iconThemePath() const { return m_look.iconThemePath; }
    QString iconName() const { return m_look.iconName; }
    IconPixmapList iconPixmap() const { return m_pixmaps; }
    QString none() const { return {}; }
    IconPixmapList noPixmaps() const { return {}; }
    StatusNotifierToolTip toolTip() const;
    bool itemIsMenu() const { return true; }
    QDBusObjectPath menu() const { return m_menu; }

public slots:
    void ContextMenu(int x, int y);
    void Activate(int x, int y);
    void SecondaryActivate(int x, int y);
    void Scroll(int delta, const QString &orientation);

signals:
    Q_SCRIPTABLE void NewTitle();
    Q_SCRIPTABLE void NewIcon();
    Q_SCRIPTABLE void NewToolTip();
    Q_SCRIPTABLE void NewStatus(const QString &status);
    // A host asked the program to show its menu at a place on the screen
    // (0, 0 when it tells none).
    void menuRequested(QPoint position);

private:
    Look m_look;
    QDBusObjectPath m_menu;
    IconPixmapList m_pixmaps;
    QString m_toolTipText;
};
