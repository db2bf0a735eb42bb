#pragma once

// TestLan: a private two-host LAN on this machine, for tests that need a real
// avahi-daemon and a phone that browses for services.
//
//   "mac" side (network namespace macNamespace()): interface en0 with
//   192.0.2.10/24 and 2001:db8::10/64 (plus its fe80:: link-local address), a
//   private system bus macBusAddress() and avahi-daemon (host qf-mac) on en0.
//   "phone" side (phoneNamespace()): interface eth0 with 192.0.2.20/24 and
//   2001:db8::20/64, its own bus phoneBusAddress() and avahi-daemon (host
//   qf-phone), so avahi-browse and avahi-publish there act as the phone.
//   en0 and eth0 are the two ends of one veth pair; the daemons run only in
//   the namespaces (each in its own mount namespace), so no mDNS packet leaves
//   the pair, and the real system bus is never touched.
//
// The test process itself stays outside the namespaces: our avahi client only
// needs DBUS_SYSTEM_BUS_ADDRESS to name the mac bus (useMacBus()) before the
// first publication. libdbus reads that variable once per process, and
// gtest_discover_tests runs every TEST in a process of its own, so one TestLan
// per TEST is the pattern (run the test program with --gtest_filter for one
// test at a time by hand):
//
//   TEST(Something, Works)
//   {
//       if (QString why; !TestLan::available(&why))
//           GTEST_SKIP() << why.toStdString();
//       TestLan lan;
//       ASSERT_TRUE(lan.isUp()) << lan.error().toStdString();
//       if (!lan.useMacBus())
//           GTEST_SKIP() << "one test LAN per process";
//       auto phone = lan.startBrowser();              // avahi-browse -r -p on the phone
//       ... publish "Quillfen-1234ABCD" ...
//       auto found = phone->waitForResolved("Quillfen-1234ABCD", 10s);
//       ASSERT_TRUE(found);
//       EXPECT_EQ(found->port, 8888);
//   }
//
// The destructor tears everything down (processes, namespaces, the temporary
// directory), also when the test failed. A LAN left behind by a crashed run is
// removed by the next one. Programs that must run on the mac side (for
// instance the whole program, end to end) are started with macCommand(...).
//
// The same LAN is available from the shell: tests/support/testlan.sh (see its
// header); this class drives that script.

#include "support/AvahiBrowseOutput.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QList>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <chrono>
#include <csignal>
#include <memory>
#include <optional>

class PhoneBrowser;

class TestLan
{
public:
    enum class Side { Mac, Phone };

    // False (with the reason) when this machine cannot build the LAN: not
    // root, or a needed program is missing.
    static bool available(QString *why = nullptr);
    // The script that builds the LAN.
    static QString scriptPath();

    // Builds the LAN and starts both daemons (a few seconds). Check isUp().
    TestLan();
    ~TestLan();
    TestLan(const TestLan &) = delete;
    TestLan &operator=(const TestLan &) = delete;

    bool isUp() const { return m_up; }
    // What went wrong in the last operation that failed (script output).
    QString error() const { return m_error; }

    QString directory() const { return m_directory; }
    QString macNamespace() const { return m_macNamespace; }
    QString phoneNamespace() const { return m_phoneNamespace; }
    QString macBusAddress() const { return m_macBus; }     // "unix:path=..."
    QString phoneBusAddress() const { return m_phoneBus; } // "unix:path=..."
    static QString macInterface() { return QStringLiteral("en0"); }
    static QString phoneInterface() { return QStringLiteral("eth0"); }
    static QString macIPv4() { return QStringLiteral("192.0.2.10"); }
    static QString macIPv6() { return QStringLiteral("2001:db8::10"); }
    static QString phoneIPv4() { return QStringLiteral("192.0.2.20"); }
    static QString phoneIPv6() { return QStringLiteral("2001:db8::20"); }
    static QString macHostName() { return QStringLiteral("qf-mac.local"); }
    static QString phoneHostName() { return QStringLiteral("qf-phone.local"); }

    // Points this process's avahi client (DBUS_SYSTEM_BUS_ADDRESS) at the mac
    // bus. Call before the first publication. libdbus reads the variable once
    // per process, so this works for the first TestLan of a process only;
    // false (and nothing changed) for a later one.
    bool useMacBus() const;

    // argv wrapped to run inside that namespace with DBUS_SYSTEM_BUS_ADDRESS
    // set to that side's bus: {"ip", "netns", "exec", ns, "env",
    // "DBUS_SYSTEM_BUS_ADDRESS=...", argv...}. For QProcess or run().
    QStringList macCommand(const QStringList &argv) const;
    QStringList phoneCommand(const QStringList &argv) const;
    QStringList command(Side side, const QStringList &argv) const;

    // Starts that side's avahi-daemon and waits until it runs (state 2).
    bool startDaemon(Side side);
    // Sends the signal to that side's avahi-daemon and waits until it is gone.
    bool killDaemon(Side side, int signal = SIGKILL);
    // The daemon's pid, or 0 when it does not run (e.g. to SIGSTOP it).
    qint64 daemonPid(Side side) const;

    // Adds or removes an address of en0, e.g. "198.51.100.7/24",
    // "2001:db8:1::7/64" (IPv6 addresses are added without DAD).
    bool addMacAddress(const QString &cidr);
    bool removeMacAddress(const QString &cidr);

    // One-shot browse (avahi-browse -r -p -t -k TYPE), on the phone unless
    // told otherwise: every resolved service found within about a second, one
    // entry per interface and protocol. On the mac side it lists what that
    // daemon itself holds. Empty on failure (see error()).
    QList<BrowsedService> browse(const QString &type = QStringLiteral("_quillfen._tcp"), Side side = Side::Phone);

    // A continuous phone-side browser (avahi-browse -r -p -k TYPE).
    std::unique_ptr<PhoneBrowser> startBrowser(const QString &type = QStringLiteral("_quillfen._tcp"));

    // Runs argv (blocking, bounded), with its output merged into *output.
    // Returns the exit status, or -1 when it did not finish in time or crashed.
    static int run(const QStringList &argv, QByteArray *output = nullptr,
                   std::chrono::milliseconds timeout = std::chrono::seconds(30));

private:
    bool script(const QStringList &arguments, QByteArray *output = nullptr);
    void readEnvironment();

    int m_serial = 0; // 1 for the first TestLan of the process, and so on
    bool m_up = false;
    QString m_error;
    QString m_directory;
    QString m_macNamespace;
    QString m_phoneNamespace;
    QString m_macBus;
    QString m_phoneBus;
};

// avahi-browse running on the phone, collecting what it sees. Its process is
// killed when this object goes (or with the LAN).
class PhoneBrowser
{
public:
    struct Event
    {
        AvahiBrowseLine::Kind kind;
        BrowsedService service;
        // When the line was read (std::chrono::steady_clock).
        std::chrono::steady_clock::time_point at;
    };

    explicit PhoneBrowser(const QStringList &command);
    ~PhoneBrowser();
    PhoneBrowser(const PhoneBrowser &) = delete;
    PhoneBrowser &operator=(const PhoneBrowser &) = delete;

    bool isRunning() const;
    // Everything so far, in order ('+' Added, '=' Resolved, '-' Removed).
    const QList<Event> &events() const { return m_events; }
    // The number of events so far: pass it as `since` to look only at later
    // events.
    qsizetype mark() const { return m_events.size(); }
    // Whether the phone currently sees the instance (over any protocol).
    bool isPresent(const QString &name) const;

    // The first resolve event for the instance at index `since` or later,
    // waiting for it (running the event loop) up to the timeout.
    std::optional<BrowsedService> waitForResolved(const QString &name, std::chrono::milliseconds timeout,
                                                  qsizetype since = 0);
    // Waits until a remove event for the instance at index `since` or later
    // has come and the phone sees it over no protocol any more.
    bool waitForRemoved(const QString &name, std::chrono::milliseconds timeout, qsizetype since = 0);

    // Everything avahi-browse printed on standard error (for failure messages).
    QByteArray errorOutput() const { return m_errors; }

private:
    void readLines();
    std::optional<BrowsedService> resolvedSince(const QString &name, qsizetype since) const;
    bool removedSince(const QString &name, qsizetype since) const;

    QProcess m_process;
    QByteArray m_pending;
    QByteArray m_errors;
    QList<Event> m_events;
};
