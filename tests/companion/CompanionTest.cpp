// The tray companion on the offscreen platform, where no tray is: its menu,
// the menu and item as tray hosts read them, and its window, with the status on
// a fake host; the port entry through scripted and real dialogs, the
// single-copy lock.

#include "companion/CompanionApp.h"
#include "companion/DBusMenu.h"
#include "companion/HelpPage.h"
#include "companion/PortDialog.h"
#include "companion/PortPrompt.h"
#include "platform/SingleCopyLock.h"
#include "companion/StatusItem.h"
#include "companion/StatusNotifierItem.h"
#include "companion/StatusWindow.h"
#include "platform/Preferences.h"
#include "support/FakeHost.h"
#include "support/QtPrinters.h"
#include "support/TemporaryConfigHome.h"

#include <QDesktopServices>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTextBrowser>
#include <QLineEdit>
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

// Answers the port dialog with `answer` (nothing = "取消"), running `during`
// once while a dialog is "open", and counts the range alerts.
struct ScriptedPrompt final : PortPrompt
{
    std::optional<QString> answer;
    QStringList initialTexts;
    int rangeAlerts = 0;
    std::function<void()> during;

    std::optional<QString> askForPort(const QString &initialText) override
    {
        initialTexts << initialText;
        if (auto once = std::exchange(during, nullptr))
            once();
        return answer;
    }
    void showRangeAlert() override { ++rangeAlerts; }
};

// A launched companion whose advertiser runs on a FakeHost with
// Charles listening on 1, 8888, 9999 and 65535, so every start publishes a service.
struct Fixture
{
    TemporaryConfigHome config;
    QString lockPath = config.path() + QStringLiteral("/QuillfenMac.lock");
    ScriptedPrompt *prompt = nullptr;
    FakeHost *host = nullptr;
    int terminations = 0, activations = 0;
    std::unique_ptr<CompanionApp> companion;

    explicit Fixture(std::optional<qint64> storedPort = std::nullopt, const QString &lock = {})
    {
        if (storedPort)
            Preferences::setInteger(Preferences::proxyPortKey, *storedPort);
        CompanionApp::Environment e;
        e.portPrompt = std::unique_ptr<PortPrompt>(prompt = new ScriptedPrompt);
        e.singleCopyLock = std::make_unique<SingleCopyLock>(lock.isEmpty() ? lockPath : lock);
        e.terminate = [this] { ++terminations; };
        e.activateRunningCopy = [this] { ++activations; };
        e.noTrayDelay = std::chrono::milliseconds(0);
        e.makeAdvertiser = [this](qint64 port) {
            auto advertiser = std::make_unique<Advertiser>(port, std::unique_ptr<FakeHost>(host = new FakeHost));
            host->runCharles(4242, QList<qint64>{1, 8888, 9999, 65535});
            host->addresses = {QStringLiteral("192.0.2.10")};
            advertiser->setInterval(std::chrono::hours(1));
            return advertiser;
        };
        companion = std::make_unique<CompanionApp>(std::move(e));
        companion->applicationDidFinishLaunching();
    }

    QAction *entry(int i) const { return companion->menuForTesting()->actions().at(i); }
    // The window's lines: labels and buttons, top to bottom.
    QStringList windowLines() const
    {
        QStringList lines;
        for (const QWidget *w : companion->windowForTesting()->findChildren<QWidget *>())
            if (auto *label = qobject_cast<const QLabel *>(w))
                lines << label->text();
            else if (auto *button = qobject_cast<const QPushButton *>(w))
                lines << "[" + button->text() + "]";
        return lines;
    }
    FakePublisher &publisher() const { return host->fakePublisher; }
};

// One companion's life, with no stored port: a second copy refused, its menu
// and status, a sequence of port dialogs, the help page, quit; then the
// copies that come after it.
TEST(Companion, OneCopyMenuPortEntryHelpQuitAndStoredPort)
{
    Fixture f;
    {
        Fixture second(std::nullopt, f.lockPath);
        EXPECT_EQ(std::pair(second.terminations, second.activations), std::pair(1, 1)) << "asks the first to show itself";
        EXPECT_TRUE(!second.host && !second.companion->menuForTesting()) << "quits before building anything";
        second.companion->applicationWillTerminate(); // finds no advertiser
    }
    // Each line: text (--- for a separator), enabled, shortcut. The first
    // cycle has already said its status.
    QStringList menu;
    for (const QAction *a : f.companion->menuForTesting()->actions())
        menu << QStringLiteral("%1|%2|%3").arg(a->isSeparator() ? QStringLiteral("---") : a->text())
                    .arg(a->isEnabled()).arg(a->shortcut().toString());
    EXPECT_EQ(menu, (QStringList{"Quillfen Mac 助手|0|", "正在发布设备发现信息 · Charles :8888|0|", "---|1|",
                                 "代理端口：8888…|1|Ctrl+,", "使用帮助|1|", "---|1|", "退出 Quillfen Mac 助手|1|Ctrl+Q"}));
    // The menu as a tray host reads it: the same lines, ids from 1.
    DBusMenu *exported = f.companion->statusItemForTesting()->exportedMenu();
    DBusMenuLayoutItem layout;
    const uint revision = exported->GetLayout(0, -1, {}, layout);
    QStringList hosted;
    for (const DBusMenuLayoutItem &line : layout.children)
        hosted << QStringLiteral("%1 %2|%3|%4").arg(line.id).arg(line.properties.value("label", line.properties.value("type")).toString())
                      .arg(line.properties.value("enabled", true).toBool())
                      .arg(line.properties.value("shortcut").value<DBusMenuShortcut>().value(0).join('+'));
    EXPECT_EQ(hosted, (QStringList{"1 Quillfen Mac 助手|0|", "2 正在发布设备发现信息 · Charles :8888|0|", "3 separator|1|",
                                   "4 代理端口：8888…|1|Control+,", "5 使用帮助|1|", "6 separator|1|",
                                   "7 退出 Quillfen Mac 助手|1|Control+Q"}));

    // No tray here: the window shows the same lines and follows the status;
    // the item's tooltip has the program's name over it.
    ASSERT_TRUE(QTest::qWaitFor([&] { return f.companion->windowForTesting()->isVisible(); }));
    f.publisher().latest().didPublish();
    EXPECT_EQ(f.entry(1)->text(), QStringLiteral("可被 iPhone 发现 · Charles :8888"));
    EXPECT_EQ(f.windowLines(), (QStringList{"可被 iPhone 发现 · Charles :8888", "[代理端口：8888…]", "[使用帮助]",
                                            "[退出 Quillfen Mac 助手]"}));
    const StatusNotifierToolTip tip = f.companion->statusItemForTesting()->notifierItem()->toolTip();
    EXPECT_EQ(QStringList({tip.title, tip.text}), QStringList({"Quillfen Mac 助手", f.entry(1)->text()}));
    DBusMenuLayoutItem changed;
    EXPECT_GT(exported->GetLayout(0, -1, {"label"}, changed), revision) << "hosts read the menu again";
    EXPECT_EQ(changed.children.at(1).properties, QVariantMap({{"label", f.entry(1)->text()}}));

    // A host's click on the port line (after its call has returned) and the
    // window's button open the port dialog too; a host that asks the item for
    // a menu where none can be placed gets the window.
    f.prompt->answer.reset();
    exported->Event(4, QStringLiteral("clicked"), QDBusVariant(0), 0);
    EXPECT_TRUE(f.prompt->initialTexts.isEmpty());
    EXPECT_TRUE(QTest::qWaitFor([&] { return f.prompt->initialTexts.size() == 1; }));
    f.companion->windowForTesting()->findChild<QPushButton *>()->click();
    EXPECT_EQ(std::exchange(f.prompt->initialTexts, {}).size(), 2);
    f.companion->windowForTesting()->close();
    f.companion->statusItemForTesting()->notifierItem()->ContextMenu(0, 0);
    EXPECT_TRUE(f.companion->windowForTesting()->isVisible());

    // Each dialog opens with the port in use; entries the decimal reader or
    // the range rejects raise the alert and change nothing; an accepted one
    // (the same port too) is stored and restarts the advertiser, which
    // publishes it anew. The tray menu stays reachable while the dialog is
    // up: one dialog at a time.
    f.prompt->during = [&] { f.entry(3)->trigger(); };
    const struct { std::optional<QString> entry; qint64 port; int alerts; size_t services; } steps[] = {
        {std::nullopt, 8888, 0, 1},        {QStringLiteral(" 9999"), 8888, 1, 1},
        {QStringLiteral("0"), 8888, 2, 1}, {QStringLiteral("65536"), 8888, 3, 1},
        {QStringLiteral("1"), 1, 3, 2},    {QStringLiteral("65535"), 65535, 3, 3},
        {QStringLiteral("65535"), 65535, 3, 4},
    };
    for (const auto &s : steps) {
        SCOPED_TRACE(s.entry.value_or("(cancel)").toStdString());
        const QString inUse = QString::number(f.publisher().latest().port);
        f.prompt->answer = s.entry;
        f.entry(3)->trigger();
        EXPECT_EQ(std::exchange(f.prompt->initialTexts, {}), QStringList{inUse});
        EXPECT_EQ(f.prompt->rangeAlerts, s.alerts);
        EXPECT_EQ(f.entry(3)->text(), QStringLiteral("代理端口：%1…").arg(s.port));
        EXPECT_EQ(Preferences::integerForKey(Preferences::proxyPortKey), s.port == 8888 ? 0 : s.port);
        ASSERT_EQ(f.publisher().created.size(), s.services);
        EXPECT_EQ(f.publisher().latest().port, s.port);
        EXPECT_TRUE(s.services == 1 || f.publisher().created.at(s.services - 2)->stopped);
    }

    // Help: the page through the desktop's URL handler; the page in the
    // bundle, wherever that lies, or a web address set at build time.
    QTextBrowser handler; // records the address in its setSource slot
    QDesktopServices::setUrlHandler(helpPageUrl().scheme(), &handler, "setSource");
    f.entry(4)->trigger();
    QDesktopServices::unsetUrlHandler(helpPageUrl().scheme());
    EXPECT_EQ(handler.source(), helpPageUrl());
    EXPECT_EQ(helpPageUrl({}, QStringLiteral("/opt/x y/Quillfen Mac 助手.app")).toString(QUrl::FullyEncoded),
              "file:///opt/x%20y/Quillfen%20Mac%20%E5%8A%A9%E6%89%8B.app/Contents/Resources/help.html");
    EXPECT_EQ(helpPageUrl("https://example.org/help", "/opt/Q.app"), QUrl("https://example.org/help"));

    // Quit ends the event loop, whose end withdraws the service.
    f.entry(6)->trigger();
    EXPECT_EQ(f.terminations, 1);
    EXPECT_FALSE(f.publisher().latest().stopped);
    f.companion->applicationWillTerminate();
    EXPECT_TRUE(f.publisher().latest().stopped);

    // The advertiser keeps a copy of its callback; a status after the
    // companion is gone must not touch freed menu lines.
    std::function<void(const QString &)> callback = f.companion->advertiserForTesting()->onStatus;
    f.companion.reset();
    callback(QStringLiteral("Charles 已关闭，等待重新启动。"));

    // A copy that took the lock and died without releasing it (_exit: no destructor).
    if (fork() == 0)
        _exit(SingleCopyLock(f.lockPath).acquire() == SingleCopyLock::Outcome::Acquired ? 0 : 1);
    int status = -1;
    wait(&status);
    ASSERT_EQ(status, 0);
    ASSERT_TRUE(QFile::exists(f.lockPath));
    // That lock is taken over; one that cannot be made at all (its folder is
    // a file) lets the companion run unguarded. A stored port in range is
    // used; one out of range gives 8888, in memory only.
    const struct { QString lock; qint64 stored, port; } runs[] = {
        {f.lockPath, 9999, 9999}, {QCoreApplication::applicationFilePath() + "/QuillfenMac.lock", 65536, 8888}};
    for (const auto &[lock, stored, port] : runs) {
        Fixture next(stored, lock);
        ASSERT_EQ(next.terminations, 0) << lock.toStdString();
        EXPECT_EQ(next.publisher().latest().port, port);
        EXPECT_EQ(Preferences::integerForKey(Preferences::proxyPortKey), stored);
    }
}

TEST(PortDialog, TextsSaveCancelAndRangeAlert)
{
    // Each answered as soon as the prompt's modal dialog is up, with all its
    // texts whole: typed over (the port is selected) and Return, which is
    // "保存", or "取消".
    DialogPortPrompt prompt;
    for (const bool save : {true, false}) {
        QTimer::singleShot(0, [save] {
            auto *dialog = static_cast<PortDialog *>(QApplication::activeModalWidget());
            const QLabel *info = dialog->informativeLabel();
            EXPECT_EQ((QStringList{dialog->messageLabel()->text(), info->text(), dialog->saveButton()->text(),
                                   dialog->cancelButton()->text()}),
                      (QStringList{"设置 Charles 代理端口", "填写 Charles 的 HTTP Proxy 端口，范围为 1–65535。", "保存", "取消"}));
            EXPECT_GE(info->width(), info->fontMetrics().horizontalAdvance(info->text())) << "nothing is cut off";
            QTest::keyClicks(dialog->field(), QStringLiteral("65535"));
            save ? QTest::keyClick(dialog, Qt::Key_Return) : QTest::mouseClick(dialog->cancelButton(), Qt::LeftButton);
        });
        EXPECT_EQ(prompt.askForPort(QStringLiteral("8888")), save ? std::optional(QStringLiteral("65535")) : std::nullopt);
    }
    QString alertText;
    QTimer::singleShot(0, [&] {
        alertText = static_cast<QMessageBox *>(QApplication::activeModalWidget())->text();
        QTest::keyClick(QApplication::activeModalWidget(), Qt::Key_Return);
    });
    prompt.showRangeAlert(); // returns once dismissed
    EXPECT_EQ(alertText, QStringLiteral("端口需在 1–65535 之间"));
}

int main(int argc, char **argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    qputenv("QT_QPA_PLATFORM", "offscreen");
    qputenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent"); // no tray, no other copy
    // A runtime folder of the test's own: Qt would otherwise make /tmp/runtime-USER.
    QTemporaryDir runtime;
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime.path()));
    QApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
