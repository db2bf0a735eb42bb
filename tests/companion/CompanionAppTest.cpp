// The tray companion with a fake host and scripted dialogs: the menu it
// builds, the status it shows, the port entry and what a saved port changes.

#include "companion/CompanionApp.h"
#include "companion/HelpPage.h"
#include "companion/PortPrompt.h"
#include "companion/SingleCopyLock.h"
#include "companion/StatusItem.h"
#include "platform/Preferences.h"
#include "support/FakeHost.h"
#include "support/QtPrinters.h"
#include "support/TemporaryConfigHome.h"

#include <QAction>
#include <QDesktopServices>
#include <QMenu>
#include <QTemporaryDir>
#include <QUrl>
#include <gtest/gtest.h>

namespace {

// Answers the port dialog with the next scripted entry (nothing = "取消")
// and counts the range alerts.
struct ScriptedPrompt final : PortPrompt
{
    std::vector<std::optional<QString>> answers;
    QStringList initialTexts;
    int rangeAlerts = 0;

    std::optional<QString> askForPort(const QString &initialText) override
    {
        initialTexts << initialText;
        std::optional<QString> answer = answers.front();
        answers.erase(answers.begin());
        return answer;
    }
    void showRangeAlert() override { ++rangeAlerts; }
};

// A companion whose advertiser runs on a FakeHost with Charles listening on
// 8888, so every start publishes a service the test can look at.
struct Fixture
{
    TemporaryConfigHome config;
    QTemporaryDir runtime;
    ScriptedPrompt *prompt = nullptr;
    FakeHost *host = nullptr;
    std::vector<qint64> advertiserPorts;
    int terminations = 0;
    std::unique_ptr<CompanionApp> companion;

    explicit Fixture(std::optional<qint64> storedPort = std::nullopt)
    {
        if (storedPort)
            Preferences::setInteger(Preferences::proxyPortKey, *storedPort);
        companion = std::make_unique<CompanionApp>(environment());
    }

    CompanionApp::Environment environment()
    {
        CompanionApp::Environment e;
        auto scripted = std::make_unique<ScriptedPrompt>();
        prompt = scripted.get();
        e.portPrompt = std::move(scripted);
        e.singleCopyLock = std::make_unique<SingleCopyLock>(runtime.filePath(QStringLiteral("QuillfenMac.lock")));
        e.terminate = [this] { ++terminations; };
        e.makeAdvertiser = [this](qint64 port) {
            advertiserPorts.push_back(port);
            auto fake = std::make_unique<FakeHost>();
            fake->runCharles(4242, {8888, 9999, 1, 65535});
            fake->addresses = {QStringLiteral("192.0.2.10")};
            host = fake.get();
            auto advertiser = std::make_unique<Advertiser>(port, std::move(fake));
            advertiser->setInterval(std::chrono::hours(1));
            return advertiser;
        };
        return e;
    }

    QList<QAction *> entries() const { return companion->menuForTesting()->actions(); }
    QString statusLine() const { return entries().at(1)->text(); }
    QString portLine() const { return entries().at(3)->text(); }
    FakeServiceRecord &published() const { return host->fakePublisher.latest(); }
};

TEST(CompanionMenu, SevenEntriesInOrderWithTitlesStatesAndShortcuts)
{
    Fixture f;
    f.companion->applicationDidFinishLaunching();
    const QList<QAction *> entries = f.entries();
    ASSERT_EQ(entries.size(), 7);

    struct Expected
    {
        bool separator;
        QString title;
        bool enabled;
        QKeySequence shortcut;
    };
    const Expected expected[] = {
        {false, QStringLiteral("Quillfen Mac 助手"), false, {}},
        // The first cycle has already replaced "正在检查 Charles…".
        {false, QStringLiteral("正在发布设备发现信息 · Charles :8888"), false, {}},
        {true, {}, true, {}},
        {false, QStringLiteral("代理端口：8888…"), true, QKeySequence(Qt::CTRL | Qt::Key_Comma)},
        {false, QStringLiteral("使用帮助"), true, {}},
        {true, {}, true, {}},
        {false, QStringLiteral("退出 Quillfen Mac 助手"), true, QKeySequence(Qt::CTRL | Qt::Key_Q)},
    };
    for (int i = 0; i < 7; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(entries[i]->isSeparator(), expected[i].separator);
        if (expected[i].separator)
            continue;
        EXPECT_EQ(entries[i]->text(), expected[i].title);
        EXPECT_EQ(entries[i]->isEnabled(), expected[i].enabled);
        EXPECT_EQ(entries[i]->shortcut(), expected[i].shortcut);
    }
    EXPECT_EQ(f.companion->statusItemForTesting()->menu(), f.companion->menuForTesting());
    EXPECT_FALSE(f.companion->statusItemForTesting()->icon().isNull());
}

TEST(CompanionMenu, StatusLineAndTooltipFollowTheAdvertiser)
{
    Fixture f;
    StatusItem *item = nullptr;
    f.companion->applicationDidFinishLaunching();
    item = f.companion->statusItemForTesting();
    EXPECT_EQ(item->toolTip(), QStringLiteral("正在发布设备发现信息 · Charles :8888"));

    f.published().didPublish();
    EXPECT_EQ(f.statusLine(), QStringLiteral("可被 iPhone 发现 · Charles :8888"));
    EXPECT_EQ(item->toolTip(), QStringLiteral("可被 iPhone 发现 · Charles :8888"));
}

TEST(CompanionMenu, ConstructionBuildsNothingAndTheFirstStatusReplacesTheName)
{
    Fixture f;
    // No Charles on this host.
    CompanionApp::Environment e = f.environment();
    e.makeAdvertiser = [](qint64 port) {
        auto host = std::make_unique<FakeHost>();
        auto advertiser = std::make_unique<Advertiser>(port, std::move(host));
        advertiser->setInterval(std::chrono::hours(1));
        return advertiser;
    };
    CompanionApp companion(std::move(e));
    EXPECT_EQ(companion.menuForTesting(), nullptr) << "construction builds nothing";
    companion.applicationDidFinishLaunching();
    // The first cycle reports during the launch, so the name is gone already.
    EXPECT_EQ(companion.statusItemForTesting()->toolTip(), QStringLiteral("等待 Charles 启动"));
}

TEST(CompanionMenu, StatusAfterTheCompanionIsGoneDoesNothing)
{
    Fixture f;
    f.companion->applicationDidFinishLaunching();
    // The advertiser keeps a copy of its callback; the companion goes first.
    std::function<void(const QString &)> callback = f.companion->advertiserForTesting()->onStatus;
    f.companion.reset();
    callback(QStringLiteral("Charles 已关闭，等待重新启动。")); // must not touch freed menu lines
}

TEST(CompanionLaunch, StoredPortIsNormalisedInMemoryOnly)
{
    struct Case
    {
        std::optional<qint64> stored;
        qint64 used;
    };
    const Case cases[] = {{std::nullopt, 8888}, {0, 8888}, {-5, 8888}, {65536, 8888},
                          {1, 1},                {65535, 65535}, {9999, 9999}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.stored ? *c.stored : -1);
        Fixture f(c.stored);
        f.companion->applicationDidFinishLaunching();
        EXPECT_EQ(f.advertiserPorts, std::vector<qint64>{c.used});
        EXPECT_EQ(f.portLine(), QStringLiteral("代理端口：%1…").arg(c.used));
        EXPECT_EQ(Preferences::integerForKey(Preferences::proxyPortKey), c.stored.value_or(0))
            << "the store is not rewritten";
    }
}

TEST(CompanionLaunch, SecondCopyQuitsBeforeBuildingAnything)
{
    Fixture first;
    first.companion->applicationDidFinishLaunching();

    // A second copy with the same lock path.
    int terminations = 0;
    bool advertiserMade = false;
    CompanionApp::Environment e;
    e.portPrompt = std::make_unique<ScriptedPrompt>();
    e.singleCopyLock = std::make_unique<SingleCopyLock>(first.runtime.filePath(QStringLiteral("QuillfenMac.lock")));
    e.terminate = [&] { ++terminations; };
    e.makeAdvertiser = [&](qint64) {
        advertiserMade = true;
        return std::unique_ptr<Advertiser>();
    };
    CompanionApp second(std::move(e));
    second.applicationDidFinishLaunching();
    EXPECT_EQ(terminations, 1);
    EXPECT_FALSE(advertiserMade);
    EXPECT_EQ(second.statusItemForTesting(), nullptr);
    EXPECT_EQ(second.menuForTesting(), nullptr);
    second.applicationWillTerminate(); // finds no advertiser

    EXPECT_EQ(first.terminations, 0);
    EXPECT_FALSE(first.host->fakePublisher.wasStopped(0)) << "the first copy goes on unchanged";
}

TEST(CompanionLaunch, QuitStopsTheAdvertiserSoTheServiceIsWithdrawn)
{
    Fixture f;
    f.companion->applicationDidFinishLaunching();
    f.published().didPublish();
    f.entries().at(6)->trigger();
    EXPECT_EQ(f.terminations, 1);
    f.companion->applicationWillTerminate(); // what the event loop's end calls
    EXPECT_TRUE(f.host->fakePublisher.wasStopped(0));
}

class HelpRecorder : public QObject
{
    Q_OBJECT
public:
    QList<QUrl> opened;
public slots:
    void open(const QUrl &url) { opened << url; }
};

TEST(CompanionLaunch, HelpOpensTheShippedPageThroughTheDesktop)
{
    Fixture f;
    f.companion->applicationDidFinishLaunching();
    HelpRecorder recorder;
    QDesktopServices::setUrlHandler(helpPageUrl().scheme(), &recorder, "open");
    f.entries().at(4)->trigger();
    QDesktopServices::unsetUrlHandler(helpPageUrl().scheme());
    EXPECT_EQ(recorder.opened, QList<QUrl>{helpPageUrl()});

    // The page in the bundle, wherever that lies; a web address set at build
    // time instead.
    const QUrl shipped = helpPageUrl(QString(), QStringLiteral("/opt/x y/Quillfen Mac 助手.app"));
    EXPECT_EQ(shipped.toString(QUrl::FullyEncoded),
              "file:///opt/x%20y/Quillfen%20Mac%20%E5%8A%A9%E6%89%8B.app/Contents/Resources/help.html");
    EXPECT_EQ(helpPageUrl("https://example.org/help", "/opt/Q.app"), QUrl("https://example.org/help"));
}

TEST(PortEntryDialog, EntriesAcceptedAndRejected)
{
    struct Case
    {
        const char16_t *entry;
        std::optional<qint64> accepted;
    };
    const Case cases[] = {
        {u"8888", 8888},   {u"+8888", 8888},  {u"08888", 8888},  {u"1", 1},
        {u"65535", 65535}, {u"0", {}},        {u"-1", {}},       {u"65536", {}},
        {u"12345678901234567890", {}},        {u" 8888", {}},    {u"8888 ", {}},
        {u"88 88", {}},    {u"8888.0", {}},   {u"0x22B8", {}},   {u"８８８８", {}},
        {u"+", {}},        {u"-", {}},        {u"", {}},
    };
    for (const Case &c : cases) {
        const QString entry = QString::fromUtf16(c.entry);
        SCOPED_TRACE(entry.toStdString());
        Fixture f;
        f.companion->applicationDidFinishLaunching();
        f.prompt->answers = {entry};
        f.entries().at(3)->trigger();
        EXPECT_EQ(f.prompt->initialTexts, QStringList{QStringLiteral("8888")});
        const qint64 expectedPort = c.accepted.value_or(8888);
        EXPECT_EQ(f.prompt->rangeAlerts, c.accepted ? 0 : 1);
        EXPECT_EQ(f.portLine(), QStringLiteral("代理端口：%1…").arg(expectedPort));
        EXPECT_EQ(f.companion->portForTesting(), expectedPort);
        EXPECT_EQ(Preferences::integerForKey(Preferences::proxyPortKey), c.accepted.value_or(0));
        // An accepted port restarts the advertiser, which publishes it anew.
        EXPECT_EQ(f.host->fakePublisher.created.size(), c.accepted ? 2u : 1u);
        EXPECT_EQ(f.published().port, expectedPort);
    }
}

TEST(PortEntryDialog, CancelChangesNothingAndTheNextDialogShowsTheOldPort)
{
    Fixture f(9999);
    f.companion->applicationDidFinishLaunching();
    f.prompt->answers = {std::nullopt, std::nullopt};
    f.entries().at(3)->trigger();
    f.entries().at(3)->trigger();
    EXPECT_EQ(f.prompt->initialTexts, (QStringList{QStringLiteral("9999"), QStringLiteral("9999")}));
    EXPECT_EQ(f.prompt->rangeAlerts, 0);
    EXPECT_EQ(f.host->fakePublisher.created.size(), 1u);
    EXPECT_EQ(f.portLine(), QStringLiteral("代理端口：9999…"));
}

TEST(PortEntryDialog, SavingTheSamePortStillStoresAndRestarts)
{
    Fixture f;
    f.companion->applicationDidFinishLaunching();
    f.published().didPublish();
    f.prompt->answers = {QStringLiteral("8888")};
    f.entries().at(3)->trigger();
    EXPECT_EQ(Preferences::integerForKey(Preferences::proxyPortKey), 8888);
    EXPECT_TRUE(f.host->fakePublisher.wasStopped(0));
    EXPECT_EQ(f.host->fakePublisher.created.size(), 2u);
    EXPECT_EQ(f.statusLine(), QStringLiteral("正在发布设备发现信息 · Charles :8888"));
}

TEST(PortEntryDialog, SavedPortIsUsedByTheNextRun)
{
    TemporaryConfigHome config; // shared by both runs
    QTemporaryDir runtime;
    for (const char16_t *expectedTitle : {u"代理端口：8888…", u"代理端口：65535…"}) {
        auto prompt = std::make_unique<ScriptedPrompt>();
        prompt->answers = {QStringLiteral("65535")};
        CompanionApp::Environment e;
        e.portPrompt = std::move(prompt);
        e.singleCopyLock = std::make_unique<SingleCopyLock>(runtime.filePath(QStringLiteral("lock")));
        e.terminate = [] {};
        e.makeAdvertiser = [](qint64 port) {
            auto advertiser = std::make_unique<Advertiser>(port, std::make_unique<FakeHost>());
            advertiser->setInterval(std::chrono::hours(1));
            return advertiser;
        };
        CompanionApp companion(std::move(e));
        companion.applicationDidFinishLaunching();
        EXPECT_EQ(companion.menuForTesting()->actions().at(3)->text(), QString::fromUtf16(expectedTitle));
        companion.changePort();
    }
}

} // namespace

#include "CompanionAppTest.moc"
