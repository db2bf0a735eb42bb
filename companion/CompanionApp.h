#pragma once

#include "companion/ProgramIdentity.h"

#include <QObject>
#include <QString>
#include <QTimer>
#include <chrono>
#include <functional>
#include <memory>

class Advertiser;
class PortPrompt;
class QAction;
class QMenu;
class SingleCopyLock;
class StatusItem;
class StatusWindow;

// The menu-bar mode: an icon in the system tray whose menu shows the status
// and the proxy port, and the one Advertiser of the process. Where no tray
// shows the icon, the same lines appear in a small window of the program's.
class CompanionApp final : public QObject
{
    Q_OBJECT

public:
    // What the companion reaches outside itself; the tests replace each.
    struct Environment
    {
        std::function<std::unique_ptr<Advertiser>(qint64 port)> makeAdvertiser;
        std::unique_ptr<PortPrompt> portPrompt;
        std::unique_ptr<SingleCopyLock> singleCopyLock;
        // Ends the event loop; the platform then calls applicationWillTerminate.
        std::function<void()> terminate;
        // Asks the copy that runs already to show itself.
        std::function<void()> activateRunningCopy;
        // How long the program waits for a tray before it opens its window.
        std::chrono::milliseconds noTrayDelay{5000};

        static Environment system();
    };

    static inline const QString nameText = ProgramIdentity::name;

    // Reads the stored port; shows nothing and starts nothing.
    CompanionApp();
    explicit CompanionApp(Environment environment);
    ~CompanionApp() override;

    // Once the event loop runs: checks for another copy, builds the tray
    // icon and the menu, and starts the advertiser.
    void applicationDidFinishLaunching();
    // Withdraws the service before the process ends.
    void applicationWillTerminate();

    void changePort();
    void openHelp();
    void quit();
    // Shows the window in front (a later start of the program asks for it).
    void showWindow();

    // For the tests and the screenshots: what the launch built.
    StatusItem *statusItemForTesting() const { return statusItem.get(); }
    QMenu *menuForTesting() const { return menu.get(); }
    Advertiser *advertiserForTesting() const { return advertiser.get(); }
    StatusWindow *windowForTesting() const { return window.get(); }
    qint64 portForTesting() const { return port; }

private:
    void trayChanged();

    Environment m_environment;
    // Children of the companion, so they outlive the menu that shows them.
    QAction *statusLine;
    QAction *portItem;
    std::unique_ptr<QMenu> menu;
    std::unique_ptr<StatusItem> statusItem;
    std::unique_ptr<StatusWindow> window;
    std::unique_ptr<Advertiser> advertiser;
    qint64 port;
    bool m_portDialogOpen = false;
    // The window stands in for a missing tray; the tray's icon takes over.
    QTimer m_noTray;
    bool m_windowForNoTray = false;
};
