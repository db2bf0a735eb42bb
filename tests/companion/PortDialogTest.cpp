// The real port dialog and range alert, driven by synthetic key presses.

#include "companion/PortDialog.h"
#include "companion/PortPrompt.h"

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

namespace {

// Runs `action` on the active modal dialog as soon as it is up.
void whenModalShows(std::function<void(QWidget *)> action)
{
    auto *poll = new QTimer;
    poll->setInterval(10);
    QObject::connect(poll, &QTimer::timeout, [poll, action] {
        QWidget *modal = QApplication::activeModalWidget();
        if (!modal || !modal->isVisible())
            return;
        poll->stop();
        poll->deleteLater();
        action(modal);
    });
    poll->start();
}

TEST(PortDialog, TextsFieldAndButtons)
{
    PortDialog dialog(QStringLiteral("8888"));
    dialog.show();
    QApplication::processEvents();
    EXPECT_EQ(dialog.messageLabel()->text(), QStringLiteral("设置 Charles 代理端口"));
    EXPECT_EQ(dialog.informativeLabel()->text(), QStringLiteral("填写 Charles 的 HTTP Proxy 端口，范围为 1–65535。"));
    EXPECT_EQ(dialog.field()->size(), QSize(240, 24));
    EXPECT_EQ(dialog.field()->text(), QStringLiteral("8888"));
    EXPECT_TRUE(dialog.field()->hasFocus());
    EXPECT_EQ(dialog.field()->selectedText(), QStringLiteral("8888"));
    EXPECT_EQ(dialog.saveButton()->text(), QStringLiteral("保存"));
    EXPECT_EQ(dialog.cancelButton()->text(), QStringLiteral("取消"));
    EXPECT_TRUE(dialog.saveButton()->isDefault());
    EXPECT_TRUE(dialog.isModal());
    // The whole text fits: nothing is cut off.
    const QLabel *informative = dialog.informativeLabel();
    EXPECT_GE(informative->width(), informative->fontMetrics().horizontalAdvance(informative->text()));
}

TEST(PortDialog, OnlySaveReturnsTheEntry)
{
    struct Case
    {
        const char *name;
        std::function<void(QWidget *)> user;
        std::optional<QString> result;
    };
    const Case cases[] = {
        {"typed over, Return",
         [](QWidget *w) {
             QTest::keyClicks(static_cast<PortDialog *>(w)->field(), QStringLiteral("65535"));
             QTest::keyClick(w, Qt::Key_Return);
         },
         QStringLiteral("65535")},
        {"unchanged, save clicked",
         [](QWidget *w) { QTest::mouseClick(static_cast<PortDialog *>(w)->saveButton(), Qt::LeftButton); },
         QStringLiteral("8888")},
        {"typed, Escape",
         [](QWidget *w) {
             QTest::keyClicks(static_cast<PortDialog *>(w)->field(), QStringLiteral("1"));
             QTest::keyClick(w, Qt::Key_Escape);
         },
         std::nullopt},
        {"cancel clicked",
         [](QWidget *w) { QTest::mouseClick(static_cast<PortDialog *>(w)->cancelButton(), Qt::LeftButton); },
         std::nullopt},
        {"window closed", [](QWidget *w) { w->close(); }, std::nullopt},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        whenModalShows(c.user);
        DialogPortPrompt prompt;
        EXPECT_EQ(prompt.askForPort(QStringLiteral("8888")), c.result);
    }
}

TEST(PortDialog, RangeAlertIsModalAndDismissed)
{
    QString shownText;
    whenModalShows([&](QWidget *w) {
        shownText = static_cast<QMessageBox *>(w)->text();
        QTest::keyClick(w, Qt::Key_Return);
    });
    DialogPortPrompt prompt;
    prompt.showRangeAlert(); // returns once dismissed
    EXPECT_EQ(shownText, QStringLiteral("端口需在 1–65535 之间"));
}

} // namespace
