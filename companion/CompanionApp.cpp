#include "companion/CompanionApp.h"

#include "advertiser/Advertiser.h"
#include "companion/ApplicationActivation.h"
#include "companion/HelpPage.h"
#include "companion/PortEntry.h"
#include "companion/PortPrompt.h"
#include "companion/StatusItem.h"
#include "companion/StatusWindow.h"
#include "platform/Preferences.h"
#include "platform/SingleCopyLock.h"

#include <QAction>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QKeySequence>
#include <QMenu>
#include <QPointer>

#include <cstdio>

CompanionApp::Environment CompanionApp::Environment::system()
{
    Environment environment;
    environment.makeAdvertiser = [](qint64 port) { return std::make_unique<Advertiser>(port); };
    environment.portPrompt = std::make_unique<DialogPortPrompt>();
    environment.singleCopyLock = std::make_unique<SingleCopyLock>();
    environment.terminate = [] { QCoreApplication::quit(); };
    environment.activateRunningCopy = [] { ApplicationActivation::activateRunningCopy(); };
    return environment;
}

CompanionApp::CompanionApp()
    : CompanionApp(Environment::system())
{
}

CompanionApp::CompanionApp(Environment environment)
    : m_environment(std::move(environment))
    , statusLine(new QAction(QStringLiteral("正在检查 Charles…"), this))
    , portItem(new QAction(QString(), this))
    , port(Preferences::integerForKey(Preferences::proxyPortKey))
{
    // Lines without an action are status text, not commands.
    statusLine->setEnabled(false);
    portItem->setShortcut(QKeySequence(QStringLiteral("Ctrl+,")));
    portItem->setShortcutVisibleInContextMenu(true);
    connect(portItem, &QAction::triggered, this, &CompanionApp::changePort);
    m_noTray.setSingleShot(true);
    connect(&m_noTray, &QTimer::timeout, this, [this] {
        m_windowForNoTray = true;
        showWindow();
    });
}

CompanionApp::~CompanionApp() = default;

void CompanionApp::applicationDidFinishLaunching()
{
    if (m_environment.singleCopyLock) {
        switch (m_environment.singleCopyLock->acquire()) {
        case SingleCopyLock::Outcome::Acquired:
            break;
        case SingleCopyLock::Outcome::HeldElsewhere:
            std::fputs("Quillfen Mac 助手已在运行。\n", stderr);
            if (m_environment.activateRunningCopy)
                m_environment.activateRunningCopy();
            m_environment.terminate();
            return;
        case SingleCopyLock::Outcome::Unavailable:
            std::fputs(m_environment.singleCopyLock->unavailableText().constData(), stderr);
            break;
        }
    }

    port = PortEntry::normalised(port);

    menu = std::make_unique<QMenu>();
    menu->setTitle(nameText);
    QAction *nameItem = menu->addAction(nameText);
    nameItem->setEnabled(false);
    menu->addAction(statusLine);
    menu->addSeparator();
    menu->addAction(portItem);
    QAction *helpItem = menu->addAction(QStringLiteral("使用帮助"), this, &CompanionApp::openHelp);
    menu->addSeparator();
    QAction *quitItem = menu->addAction(QStringLiteral("退出 Quillfen Mac 助手"), this, &CompanionApp::quit);
    quitItem->setShortcut(QKeySequence(QStringLiteral("Ctrl+Q")));
    quitItem->setShortcutVisibleInContextMenu(true);
    portItem->setText(PortEntry::title(port));

    statusItem = std::make_unique<StatusItem>(menu.get());
    window = std::make_unique<StatusWindow>(nameText, QList<QAction *>{statusLine, portItem, helpItem, quitItem});
    connect(statusItem.get(), &StatusItem::trayChanged, this, &CompanionApp::trayChanged);
    connect(statusItem.get(), &StatusItem::windowRequested, this, &CompanionApp::showWindow);
    auto *activation = new ApplicationActivation(this);
    connect(activation, &ApplicationActivation::activated, this, &CompanionApp::showWindow);
    m_noTray.start(m_environment.noTrayDelay);

    std::unique_ptr<Advertiser> created = m_environment.makeAdvertiser(port);
    // Weak: a status text that comes after the companion is gone does nothing.
    created->onStatus = [companion = QPointer<CompanionApp>(this)](const QString &text) {
        if (!companion)
            return;
        companion->statusLine->setText(text);
        if (companion->statusItem)
            companion->statusItem->setToolTip(text);
    };
    advertiser = std::move(created);
    advertiser->start();
}

void CompanionApp::applicationWillTerminate()
{
    if (advertiser)
        advertiser->stop();
}

void CompanionApp::changePort()
{
    // The tray menu stays reachable while the dialog is up; one dialog at a time.
    if (m_portDialogOpen)
        return;
    m_portDialogOpen = true;
    const std::optional<QString> entry = m_environment.portPrompt->askForPort(QString::number(port));
    m_portDialogOpen = false;
    if (!entry)
        return;

    const std::optional<qint64> accepted = PortEntry::accepted(*entry);
    if (!accepted) {
        m_environment.portPrompt->showRangeAlert();
        return;
    }
    port = *accepted;
    if (!Preferences::setInteger(Preferences::proxyPortKey, port))
        std::fprintf(stderr, "无法保存代理端口到 %s，本次运行仍使用 %lld。\n", qPrintable(Preferences::filePath()),
                     static_cast<long long>(port));
    portItem->setText(PortEntry::title(port));
    if (advertiser)
        advertiser->setPort(port);
}

void CompanionApp::openHelp()
{
    QDesktopServices::openUrl(helpPageUrl());
}

void CompanionApp::quit()
{
    m_environment.terminate();
}

void CompanionApp::showWindow()
{
    if (window)
        window->bringBack();
}

// Without a tray for a while, the window opens; once a tray shows the icon,
// a window that only stood in for it closes again.
void CompanionApp::trayChanged()
{
    if (statusItem->tray() == StatusItem::Tray::None) {
        if (!m_noTray.isActive() && !window->isVisible())
            m_noTray.start(m_environment.noTrayDelay);
        return;
    }
    m_noTray.stop();
    if (std::exchange(m_windowForNoTray, false))
        window->hide();
}
