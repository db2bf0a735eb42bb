// CPU time and blocking of update cycles on the real host.
//
//   cycle_bench published N [menubar]
//                       Charles (or a stand-in) runs and listens on 8888:
//                       publish, wait for the daemon's answer, then time N
//                       unchanged cycles and N bare lsof runs side by side;
//                       with "menubar", in a process that runs the menu-bar
//                       companion (QT_QPA_PLATFORM=offscreen), whose own
//                       advertiser is timed
//   cycle_bench idle N  no Charles: time N cycles over the process list
//   cycle_bench walk N K
//                       the process walk alone, as whoever runs it: N calls
//                       over what runs, then the first call that meets K new
//                       processes of the same user and the call after it
//                       (they are young then, so read again), and whether
//                       the answers equal those of a walk that knows nothing
//   cycle_bench blocked S
//                       cycles every 3 s for S seconds while lsof hangs (the
//                       caller puts a hanging tool in its place): the longest
//                       time the event loop did not run
//
// Prints "name value" lines for the caller's table.

#include "advertiser/Advertiser.h"
#include "advertiser/ListeningPorts.h"
#include "advertiser/ProxyApplication.h"
#include "support/FakeHost.h"
#ifdef QUILLFEN_HAVE_COMPANION
#include "companion/CompanionApp.h"
#include <QApplication>
#endif

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QStringList>
#include <QTimer>

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <csignal>
#include <unistd.h>

#include <algorithm>
#include <cstdio>

namespace {

// User plus system time of this process and its reaped children, in ms.
double cpuMs()
{
    auto ms = [](const rusage &u) {
        return (u.ru_utime.tv_sec + u.ru_stime.tv_sec) * 1e3 + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e3;
    };
    rusage self{}, children{};
    getrusage(RUSAGE_SELF, &self);
    getrusage(RUSAGE_CHILDREN, &children);
    return ms(self) + ms(children);
}

void runLoopFor(int ms)
{
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < ms)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, ms);
}

// lsof with the probe's arguments, started the cheapest way and read to its end.
void bareLsof(qint32 pid)
{
    QList<QByteArray> arguments{QFile::encodeName(lsofPath())};
    for (const QString &argument : lsofArguments(pid))
        arguments << argument.toUtf8();
    std::vector<char *> argv;
    for (QByteArray &argument : arguments)
        argv.push_back(argument.data());
    argv.push_back(nullptr);
    int out[2];
    if (pipe2(out, O_CLOEXEC) != 0)
        return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    pid_t child = 0;
    const int failed = posix_spawn(&child, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    char buffer[4096];
    while (read(out[0], buffer, sizeof buffer) > 0) {
    }
    close(out[0]);
    if (!failed)
        waitpid(child, nullptr, 0);
}

QStringList described(const std::vector<RunningApplication> &applications)
{
    QStringList lines;
    for (const RunningApplication &a : applications)
        lines << QStringLiteral("%1 %2 %3").arg(a.processIdentifier).arg(a.bundleIdentifier.value_or("-"), a.bundleLocation.value_or("-"));
    return lines;
}

int walk(int n, int newProcesses)
{
    RunningApplicationScanner scanner;
    const size_t known = scanner.runningApplications().size();
    double t = cpuMs();
    for (int i = 0; i < n; ++i)
        scanner.runningApplications();
    const double idle = (cpuMs() - t) / n;
    // Three rounds of new processes; the median of each figure.
    std::vector<double> first, young;
    bool same = true;
    char sleep[] = "sleep", forLong[] = "600";
    char *arguments[] = {sleep, forLong, nullptr};
    for (int round = 0; round < 3; ++round) {
        std::vector<pid_t> children;
        for (int i = 0; i < newProcesses; ++i) {
            pid_t child = 0;
            if (posix_spawnp(&child, sleep, nullptr, nullptr, arguments, environ) == 0)
                children.push_back(child);
        }
        usleep(1000000); // until each runs sleep
        t = cpuMs();
        scanner.runningApplications();
        first.push_back((cpuMs() - t - idle) * 1000 / children.size());
        t = cpuMs();
        const QStringList warm = described(scanner.runningApplications());
        young.push_back((cpuMs() - t - idle) * 1000 / children.size());
        same = same && warm == described(RunningApplicationScanner().runningApplications());
        for (const pid_t child : children)
            kill(child, SIGKILL);
        for (const pid_t child : children)
            waitpid(child, nullptr, 0);
        scanner.runningApplications(); // forgets them
    }
    std::ranges::sort(first);
    std::ranges::sort(young);
    std::printf("walk_processes %zu\n", known);
    std::printf("walk_idle_ms %.3f\n", idle);
    std::printf("walk_new_us %.2f\n", first[1]);
    std::printf("walk_young_us %.2f\n", young[1]);
    std::printf("walk_same_answers %s\n", same ? "yes" : "no");
    return same ? 0 : 1;
}

} // namespace

int main(int argc, char **argv)
{
    const QString mode = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("idle");
    const int n = argc > 2 ? atoi(argv[2]) : 50;
    const bool menuBar = argc > 3 && QByteArray(argv[3]) == "menubar";
    const char *suffix = menuBar ? "_menubar" : "";

    std::unique_ptr<QCoreApplication> app;
    std::unique_ptr<Advertiser> own;
    Advertiser *advertiser = nullptr;
#ifdef QUILLFEN_HAVE_COMPANION
    std::unique_ptr<CompanionApp> companion;
    if (menuBar) {
        app = std::make_unique<QApplication>(argc, argv);
        companion = std::make_unique<CompanionApp>();
        companion->applicationDidFinishLaunching();
        advertiser = companion->advertiserForTesting();
    }
#endif
    if (!advertiser) {
        app = std::make_unique<QCoreApplication>(argc, argv);
        own = std::make_unique<Advertiser>(std::nullopt);
        if (mode != QStringLiteral("blocked"))
            own->setInterval(std::chrono::hours(1)); // cycles are run by hand
        advertiser = own.get();
    }
    QString last;
    advertiser->onStatus = [&, passOn = advertiser->onStatus](const QString &text) {
        last = text;
        if (passOn)
            passOn(text);
    };

    if (mode == QStringLiteral("walk"))
        return walk(n, argc > 3 ? atoi(argv[3]) : 100);
    if (mode == QStringLiteral("blocked")) {
        qint64 longest = 0;
        QElapsedTimer sinceTick;
        QTimer tick;
        QObject::connect(&tick, &QTimer::timeout, [&] { longest = std::max(longest, sinceTick.restart()); });
        sinceTick.start();
        tick.start(10);
        QTimer::singleShot(0, advertiser, &Advertiser::start);
        runLoopFor(n * 1000);
        std::printf("longest_block_s %.2f\n", std::max(longest, sinceTick.elapsed()) / 1000.0);
        return 0;
    }
    if (own)
        own->start();

    if (mode == QStringLiteral("published")) {
        runLoopFor(4000);
        if (!last.startsWith(QStringLiteral("可被 iPhone 发现"))) {
            std::fprintf(stderr, "cycle_bench: not published (%s)\n", qPrintable(last));
            return 1;
        }
        const std::vector<RunningApplication> apps = RunningApplicationScanner().runningApplications();
        const RunningApplication *proxy = findProxyApplication(apps);
        if (!proxy)
            return 1;
        // Interleaved, so both see the same machine at the same moment.
        double cycles = 0, tools = 0;
        for (int i = 0; i < n; ++i) {
            double t = cpuMs();
            AdvertiserTestAccess::update(*advertiser);
            cycles += cpuMs() - t;
            t = cpuMs();
            bareLsof(proxy->processIdentifier);
            tools += cpuMs() - t;
        }
        std::printf("cycle_published_ms%s %.3f\n", suffix, cycles / n);
        std::printf("bare_lsof_ms%s %.3f\n", suffix, tools / n);
        std::printf("ratio%s %.3f\n", suffix, cycles / tools);
    } else {
        AdvertiserTestAccess::update(*advertiser); // what is kept between cycles is learnt here
        const double t = cpuMs();
        for (int i = 0; i < n; ++i)
            AdvertiserTestAccess::update(*advertiser);
        std::printf("cycle_idle_ms %.3f\n", (cpuMs() - t) / n);
        std::printf("processes %zu\n", RunningApplicationScanner().runningApplications().size());
    }
    return 0;
}
