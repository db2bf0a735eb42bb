#pragma once

#include <QDialog>

class QLabel;
class QMessageBox;
class QLineEdit;
class QPushButton;

// The port dialog: a message, an informative line, one entry field and the
// buttons "保存" (default, Return) and "取消" (Escape). Only "保存" accepts.
class PortDialog final : public QDialog
{
    Q_OBJECT

public:
    static constexpr int fieldWidth = 240;
    static constexpr int fieldHeight = 24;

    explicit PortDialog(const QString &initialText, QWidget *parent = nullptr);

    QString entry() const;

    QLabel *messageLabel() const { return m_message; }
    QLabel *informativeLabel() const { return m_informative; }
    QLineEdit *field() const { return m_field; }
    QPushButton *saveButton() const { return m_save; }
    QPushButton *cancelButton() const { return m_cancel; }

protected:
    void showEvent(QShowEvent *event) override;

private:
    QLabel *m_message;
    QLabel *m_informative;
    QLineEdit *m_field;
    QPushButton *m_save;
    QPushButton *m_cancel;
};

// The alert shown after an entry that is not a port.
QMessageBox *makeRangeAlert(QWidget *parent = nullptr);
