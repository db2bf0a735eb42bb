#include "support/TestLan.h"

#include "support/EventLoopWait.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <map>
#include <set>
#include <unistd.h>

namespace {

QString sideName(TestLan::Side side)
{
    return side == TestLan::Side::Mac ? QStringLiteral("mac") : QStringLiteral("phone");
}

// Running and not a zombie.
bool processAlive(qint64 pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (pid <= 0 || !stat.open(QIODevice::ReadOnly))
        return false;
    const QByteArray text = stat.readAll();
    const qsizetype end = text.lastIndexOf(") ");
    return end >= 0 && end + 2 < text.size() && text[end + 2] != 'Z';
}

// A short base directory: the bus sockets live below it (sun_path is 108
// bytes).
QString baseDirectory()
{
    const QString temp = QDir::tempPath();
    return temp.size() <= 60 ? temp : QStringLiteral("/tmp");
}

} // namespace

bool TestLan::available(QString *why)
{
    auto fail = [why](const QString &reason) {
        if (why)
            *why = reason;
        return false;
    };
    if (geteuid() != 0)
        return fail(QStringLiteral("the test LAN needs root (network namespaces)"));
    const QStringList path{QStringLiteral("/usr/sbin"), QStringLiteral("/usr/bin"), QStringLiteral("/sbin"),
                           QStringLiteral("/bin")};
    for (const char *program : {"bash", "ip", "unshare", "mount", "dbus-daemon", "dbus-send", "avahi-daemon",
                                "avahi-browse", "avahi-publish"}) {
        const QString name = QString::fromLatin1(program);
        if (QStandardPaths::findExecutable(name).isEmpty() && QStandardPaths::findExecutable(name, path).isEmpty())
            return fail(QStringLiteral("the test LAN needs %1").arg(name));
    }
    if (!QFile::exists(scriptPath()))
        return fail(QStringLiteral("missing ") + scriptPath());
    return true;
}

QString TestLan::scriptPath()
{
    return QStringLiteral(QUILLFEN_SOURCE_DIR "/tests/support/testlan.sh");
}

TestLan::TestLan()
{
    static int instances = 0;
    const qint64 pid = QCoreApplication::applicationPid();
    m_serial = ++instances;
    m_directory = QStringLiteral("%1/qftl-%2-%3").arg(baseDirectory()).arg(pid).arg(m_serial);
    if (QFileInfo::exists(m_directory)) {
        // Left by an earlier process that had this pid.
        script({QStringLiteral("down"), m_directory});
        QDir(m_directory).removeRecursively();
    }
    QByteArray output;
    m_up = script({QStringLiteral("up"), m_directory, QString::number(pid)}, &output);
    if (m_up)
        readEnvironment();
}

TestLan::~TestLan()
{
    if (QFileInfo::exists(m_directory + QStringLiteral("/env")))
        script({QStringLiteral("down"), m_directory});
}

void TestLan::readEnvironment()
{
    QFile file(m_directory + QStringLiteral("/env"));
    if (!file.open(QIODevice::ReadOnly)) {
        m_up = false;
        m_error = QStringLiteral("cannot read ") + file.fileName();
        return;
    }
    std::map<QString, QString> values;
    for (const QByteArray &line : file.readAll().split('\n')) {
        const qsizetype equals = line.indexOf('=');
        if (equals > 0)
            values[QString::fromUtf8(line.left(equals))] = QString::fromUtf8(line.mid(equals + 1));
    }
    m_macNamespace = values[QStringLiteral("QF_MAC_NS")];
    m_phoneNamespace = values[QStringLiteral("QF_PHONE_NS")];
    m_macBus = values[QStringLiteral("QF_MAC_BUS")];
    m_phoneBus = values[QStringLiteral("QF_PHONE_BUS")];
}

bool TestLan::useMacBus() const
{
    static int owner = 0; // the serial of the LAN whose bus libdbus has read
    if (owner != 0 && owner != m_serial)
        return false;
    owner = m_serial;
    qputenv("DBUS_SYSTEM_BUS_ADDRESS", m_macBus.toUtf8());
    return true;
}

QStringList TestLan::command(Side side, const QStringList &argv) const
{
    const bool mac = side == Side::Mac;
    return QStringList{QStringLiteral("ip"),
                       QStringLiteral("netns"),
                       QStringLiteral("exec"),
                       mac ? m_macNamespace : m_phoneNamespace,
                       QStringLiteral("env"),
                       QStringLiteral("DBUS_SYSTEM_BUS_ADDRESS=") + (mac ? m_macBus : m_phoneBus)}
        + argv;
}

QStringList TestLan::macCommand(const QStringList &argv) const
{
    return command(Side::Mac, argv);
}

QStringList TestLan::phoneCommand(const QStringList &argv) const
{
    return command(Side::Phone, argv);
}

bool TestLan::startDaemon(Side side)
{
    return script({QStringLiteral("start-daemon"), m_directory, sideName(side)});
}

bool TestLan::killDaemon(Side side, int signal)
{
    return script({QStringLiteral("kill-daemon"), m_directory, sideName(side), QString::number(signal)});
}

qint64 TestLan::daemonPid(Side side) const
{
    QFile file(QStringLiteral("%1/%2/avahi.pid").arg(m_directory, sideName(side)));
    if (!file.open(QIODevice::ReadOnly))
        return 0;
    const qint64 pid = file.readAll().trimmed().toLongLong();
    return processAlive(pid) ? pid : 0;
}

bool TestLan::addMacAddress(const QString &cidr)
{
    return script({QStringLiteral("addr"), m_directory, QStringLiteral("add"), cidr});
}

bool TestLan::removeMacAddress(const QString &cidr)
{
    return script({QStringLiteral("addr"), m_directory, QStringLiteral("del"), cidr});
}

QList<BrowsedService> TestLan::browse(const QString &type, Side side)
{
    QByteArray output;
    const int status = run(command(side, {QStringLiteral("avahi-browse"), QStringLiteral("-r"), QStringLiteral("-p"),
                                          QStringLiteral("-t"), QStringLiteral("-k"), type}),
                           &output);
    if (status != 0) {
        m_error = QString::fromUtf8(output);
        return {};
    }
    return parseResolvedServices(output);
}

std::unique_ptr<PhoneBrowser> TestLan::startBrowser(const QString &type)
{
    return std::make_unique<PhoneBrowser>(phoneCommand(
        {QStringLiteral("avahi-browse"), QStringLiteral("-r"), QStringLiteral("-p"), QStringLiteral("-k"), type}));
}

int TestLan::run(const QStringList &argv, QByteArray *output, std::chrono::milliseconds timeout)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(argv.value(0), argv.mid(1));
    if (!process.waitForStarted()) {
        if (output)
            *output = process.errorString().toUtf8();
        return -1;
    }
    const bool finished = process.waitForFinished(int(timeout.count()));
    if (!finished) {
        process.kill();
        process.waitForFinished();
    }
    if (output)
        *output = process.readAll();
    if (!finished || process.exitStatus() != QProcess::NormalExit)
        return -1;
    return process.exitCode();
}

bool TestLan::script(const QStringList &arguments, QByteArray *output)
{
    QByteArray text;
    const int status = run(QStringList{QStringLiteral("bash"), scriptPath()} + arguments, &text,
                           std::chrono::seconds(60));
    if (output)
        *output = text;
    if (status == 0)
        return true;
    m_error = QStringLiteral("testlan.sh %1: exit status %2\n%3")
                  .arg(arguments.join(QLatin1Char(' ')))
                  .arg(status)
                  .arg(QString::fromUtf8(text));
    return false;
}

PhoneBrowser::PhoneBrowser(const QStringList &command)
{
    QObject::connect(&m_process, &QProcess::readyReadStandardOutput, [this] { readLines(); });
    QObject::connect(&m_process, &QProcess::readyReadStandardError,
                     [this] { m_errors += m_process.readAllStandardError(); });
    m_process.start(command.value(0), command.mid(1));
    m_process.waitForStarted();
}

PhoneBrowser::~PhoneBrowser()
{
    m_process.disconnect();
    if (m_process.state() != QProcess::NotRunning) {
        m_process.kill();
        m_process.waitForFinished(5000);
    }
}

bool PhoneBrowser::isRunning() const
{
    return m_process.state() == QProcess::Running;
}

void PhoneBrowser::readLines()
{
    m_pending += m_process.readAllStandardOutput();
    const auto now = std::chrono::steady_clock::now();
    qsizetype newline;
    while ((newline = m_pending.indexOf('\n')) >= 0) {
        const QByteArray line = m_pending.left(newline);
        m_pending.remove(0, newline + 1);
        if (const std::optional<AvahiBrowseLine> parsed = parseAvahiBrowseLine(line))
            m_events.append(Event{parsed->kind, parsed->service, now});
    }
}

bool PhoneBrowser::isPresent(const QString &name) const
{
    std::set<std::pair<QString, QString>> present; // (interface, protocol)
    for (const Event &event : m_events) {
        if (event.service.name != name)
            continue;
        const std::pair key{event.service.interfaceName, event.service.protocol};
        if (event.kind == AvahiBrowseLine::Kind::Removed)
            present.erase(key);
        else
            present.insert(key);
    }
    return !present.empty();
}

std::optional<BrowsedService> PhoneBrowser::resolvedSince(const QString &name, qsizetype since) const
{
    for (qsizetype i = std::max<qsizetype>(since, 0); i < m_events.size(); ++i) {
        if (m_events[i].kind == AvahiBrowseLine::Kind::Resolved && m_events[i].service.name == name)
            return m_events[i].service;
    }
    return std::nullopt;
}

bool PhoneBrowser::removedSince(const QString &name, qsizetype since) const
{
    for (qsizetype i = std::max<qsizetype>(since, 0); i < m_events.size(); ++i) {
        if (m_events[i].kind == AvahiBrowseLine::Kind::Removed && m_events[i].service.name == name)
            return !isPresent(name);
    }
    return false;
}

std::optional<BrowsedService> PhoneBrowser::waitForResolved(const QString &name, std::chrono::milliseconds timeout,
                                                            qsizetype since)
{
    waitUntil([&] { return resolvedSince(name, since).has_value(); }, timeout);
    return resolvedSince(name, since);
}

bool PhoneBrowser::waitForRemoved(const QString &name, std::chrono::milliseconds timeout, qsizetype since)
{
    return waitUntil([&] { return removedSince(name, since); }, timeout);
}
