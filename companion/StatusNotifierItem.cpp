#include "companion/StatusNotifierItem.h"

#include <QDBusMetaType>
#include <QImage>
#include <QtEndian>

QDBusArgument &operator<<(QDBusArgument &argument, const IconPixmap &pixmap)
{
    argument.beginStructure();
    argument << pixmap.width << pixmap.height << pixmap.argb;
    argument.endStructure();
    return argument;
}
const QDBusArgument &operator>>(const QDBusArgument &argument, IconPixmap &pixmap)
{
    argument.beginStructure();
    argument >> pixmap.width >> pixmap.height >> pixmap.argb;
    argument.endStructure();
    return argument;
}
QDBusArgument &operator<<(QDBusArgument &argument, const StatusNotifierToolTip &toolTip)
{
    argument.beginStructure();
    argument << toolTip.iconName << toolTip.iconPixmaps << toolTip.title << toolTip.text;
    argument.endStructure();
    return argument;
}
const QDBusArgument &operator>>(const QDBusArgument &argument, StatusNotifierToolTip &toolTip)
{
    argument.beginStructure();
    argument >> toolTip.iconName >> toolTip.iconPixmaps >> toolTip.title >> toolTip.text;
    argument.endStructure();
    return argument;
}

namespace {

// The sizes panels commonly draw tray icons at.
IconPixmapList pixmapsOf(const QIcon &icon)
{
    IconPixmapList pixmaps;
    for (const int side : {16, 22, 32, 48}) {
        const QImage image = icon.pixmap(side).toImage().convertToFormat(QImage::Format_ARGB32);
        if (image.isNull())
            continue;
        IconPixmap pixmap{image.width(), image.height(), QByteArray(int(image.sizeInBytes()), Qt::Uninitialized)};
        auto *out = reinterpret_cast<quint32 *>(pixmap.argb.data());
        for (int y = 0; y < image.height(); ++y) {
            const auto *line = reinterpret_cast<const quint32 *>(image.constScanLine(y));
            for (int x = 0; x < image.width(); ++x)
                *out++ = qToBigEndian(line[x]);
        }
        pixmaps << pixmap;
    }
    return pixmaps;
}

} // namespace

StatusNotifierItem::StatusNotifierItem(Look look, const QDBusObjectPath &menu, QObject *parent)
    : QObject(parent)
    , m_look(std::move(look))
    , m_menu(menu)
    , m_pixmaps(pixmapsOf(m_look.icon))
{
    qDBusRegisterMetaType<IconPixmap>();
    qDBusRegisterMetaType<IconPixmapList>();
    qDBusRegisterMetaType<StatusNotifierToolTip>();
}

void StatusNotifierItem::setToolTipText(const QString &text)
{
    m_toolTipText = text;
    emit NewToolTip();
}

StatusNotifierToolTip StatusNotifierItem::toolTip() const
{
    return {m_look.id, {}, m_look.title, m_toolTipText};
}

void StatusNotifierItem::ContextMenu(int x, int y)
{
    emit menuRequested({x, y});
}

void StatusNotifierItem::Activate(int, int)
{
    if (calledFromDBus())
        sendErrorReply(QDBusError::NotSupported, QStringLiteral("The item is a menu; open its Menu instead."));
}

void StatusNotifierItem::SecondaryActivate(int, int)
{
}

void StatusNotifierItem::Scroll(int, const QString &)
{
}
