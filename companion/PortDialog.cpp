#include "companion/PortDialog.h"

#include "companion/PortPrompt.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QVBoxLayout>

#include <memory>

namespace {
const QString dialogTitle = QStringLiteral("Quillfen Mac 助手");
}

PortDialog::PortDialog(const QString &initialText, QWidget *parent)
    : QDialog(parent)
    , m_message(new QLabel(QStringLiteral("设置 Charles 代理端口"), this))
    , m_informative(new QLabel(QStringLiteral("填写 Charles 的 HTTP Proxy 端口，范围为 1–65535。"), this))
    , m_field(new QLineEdit(initialText, this))
    , m_save(nullptr)
    , m_cancel(nullptr)
{
    setWindowTitle(dialogTitle);
    setModal(true);

    QFont bold = m_message->font();
    bold.setBold(true);
    m_message->setFont(bold);
    m_field->setFixedSize(fieldWidth, fieldHeight);

    auto *buttons = new QDialogButtonBox(this);
    m_save = buttons->addButton(QStringLiteral("保存"), QDialogButtonBox::AcceptRole);
    m_cancel = buttons->addButton(QStringLiteral("取消"), QDialogButtonBox::RejectRole);
    m_save->setDefault(true);
    m_save->setAutoDefault(true);
    m_cancel->setAutoDefault(false);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(m_message);
    layout->addWidget(m_informative);
    layout->addWidget(m_field);
    layout->addWidget(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);
}

QString PortDialog::entry() const
{
    return m_field->text();
}

void PortDialog::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    // Ready to type over: the whole current port is selected.
    m_field->setFocus(Qt::OtherFocusReason);
    m_field->selectAll();
}

QMessageBox *makeRangeAlert(QWidget *parent)
{
    auto *alert = new QMessageBox(QMessageBox::Warning, dialogTitle, QStringLiteral("端口需在 1–65535 之间"),
                                  QMessageBox::Ok, parent);
    alert->setModal(true);
    return alert;
}

std::optional<QString> DialogPortPrompt::askForPort(const QString &initialText)
{
    PortDialog dialog(initialText);
    // A tray program has no window of its own: bring the dialog to the front.
    dialog.show();
    dialog.raise();
    dialog.activateWindow();
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    return dialog.entry();
}

void DialogPortPrompt::showRangeAlert()
{
    std::unique_ptr<QMessageBox> alert(makeRangeAlert());
    alert->show();
    alert->raise();
    alert->activateWindow();
    alert->exec();
}
