// CPU time of update cycles on the real host.
//
//   cycle_bench published N   Charles (or a stand-in) runs and listens on 8888:
//                             publish, wait for the daemon's answer, then time N
//                             unchanged cycles and N bare lsof runs side by side
//   cycle_bench idle N        no Charles: time N cycles over the process list
//
// Prints "name value" lines for the caller's table.

#include "advertiser/Advertiser.h"
#include "advertiser/ListeningPorts.h"
#include "advertiser/ProxyApplication.h"
#include "support/FakeHost.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>

#include <sys/resource.h>

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

void bareLsof(qint32 pid)
{
    QProcess tool;
    tool.setStandardErrorFile(QProcess::nullDevice());
    tool.start(lsofPath(), lsofArguments(pid));
    tool.waitForFinished();
    tool.readAllStandardOutput();
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QString mode = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("idle");
    const int n = argc > 2 ? atoi(argv[2]) : 50;

    Advertiser advertiser(std::nullopt);
    advertiser.setInterval(std::chrono::hours(1)); // cycles are run by hand
    QString last;
    advertiser.onStatus = [&](const QString &text) { last = text; };
    advertiser.start();

    if (mode == QStringLiteral("published")) {
        runLoopFor(3000);
        if (!last.startsWith(QStringLiteral("可被 iPhone 发现"))) {
            std::fprintf(stderr, "cycle_bench: not published (%s)\n", qPrintable(last));
            return 1;
        }
        const RunningApplication *proxy = nullptr;
        const std::vector<RunningApplication> apps = runningApplications();
        proxy = findProxyApplication(apps);
        if (!proxy)
            return 1;
        // Interleaved, so both see the same machine at the same moment.
        double cycles = 0, tools = 0;
        for (int i = 0; i < n; ++i) {
            double t = cpuMs();
            AdvertiserTestAccess::update(advertiser);
            cycles += cpuMs() - t;
            t = cpuMs();
            bareLsof(proxy->processIdentifier);
            tools += cpuMs() - t;
        }
        std::printf("cycle_published_ms %.3f\n", cycles / n);
        std::printf("bare_lsof_ms %.3f\n", tools / n);
        std::printf("ratio %.3f\n", cycles / tools);
    } else {
        const double t = cpuMs();
        for (int i = 0; i < n; ++i)
            AdvertiserTestAccess::update(advertiser);
        std::printf("cycle_idle_ms %.3f\n", (cpuMs() - t) / n);
        std::printf("processes %zu\n", runningApplications().size());
    }
    return 0;
}
