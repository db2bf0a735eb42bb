#include "companion/StatusWindow.h"

#include <QAction>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

StatusWindow::StatusWindow(const QString &title, const QList<QAction *> &lines, QWidget *parent)
    : QWidget(parent)
{
    setWindowTitle(title);
    // A small fixed panel: nothing to maximise.
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowMinimizeButtonHint
                   | Qt::WindowCloseButtonHint);
    auto *layout = new QVBoxLayout(this);
    for (QAction *line : lines) {
        QWidget *shown;
        if (line->isEnabled()) {
            auto *button = new QPushButton(line->text(), this);
            connect(button, &QPushButton::clicked, line, &QAction::trigger);
            connect(line, &QAction::changed, button, [button, line] { button->setText(line->text()); });
            shown = button;
        } else {
            auto *label = new QLabel(line->text(), this);
            label->setWordWrap(true);
            // Room for the title and a status line of about twenty characters.
            label->setMinimumWidth(label->fontMetrics().height() * 20);
            connect(line, &QAction::changed, label, [label, line] { label->setText(line->text()); });
            shown = label;
        }
        layout->addWidget(shown);
    }
    layout->setSizeConstraint(QLayout::SetFixedSize);
}

void StatusWindow::bringBack()
{
    show();
    raise();
    activateWindow();
}
