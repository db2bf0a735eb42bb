#pragma once

#include <QList>
#include <QWidget>

class QAction;

// The program's own small window, for desktops without a tray (GNOME as it
// comes): the menu's lines without the tray. A line that does nothing is a
// label that follows the line's text; the others are buttons that trigger
// them. Closing the window only hides it; the program goes on publishing.
class StatusWindow final : public QWidget
{
    Q_OBJECT

public:
    StatusWindow(const QString &title, const QList<QAction *> &lines, QWidget *parent = nullptr);

    // Shows the window in front of the others.
    void bringBack();
};
