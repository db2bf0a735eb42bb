#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <array>
#include <optional>
#include <vector>

// One running application as the update cycle sees it.
struct RunningApplication
{
    // A reverse-DNS application id ("com.xk72.Charles"), when one is known.
    std::optional<QString> bundleIdentifier;
    // Full path of the nearest enclosing "<name>.app" folder, when there is one.
    std::optional<QString> bundleLocation;
    qint32 processIdentifier = 0;
};

// Lists the processes of the current user from a proc file system mounted at
// procRoot. What it learnt about a process is kept from one call to the next
// for as long as the process provably runs the same program, so that a call
// costs little more than a look at each process's stat line.
class RunningApplicationScanner
{
public:
    explicit RunningApplicationScanner(QString procRoot = QStringLiteral("/proc"));

    // In ascending process id. A process that vanishes while it is read is
    // left out.
    std::vector<RunningApplication> runningApplications();

private:
    // What changes when the process ends or runs another program: its start
    // time, its name, and where exec placed its code, stack and arguments
    // (randomised afresh by every exec while address-space randomisation is
    // on, as it is by default, so an exec of a program with the same name is
    // seen too).
    struct Identity
    {
        QByteArray name;
        quint64 startTime = 0; // clock ticks after boot
        std::array<quint64, 4> layout{};
        bool operator==(const Identity &) const = default;
    };
    struct Known
    {
        qint32 pid;
        Identity identity;
        // Its id came from its command line, not from its unit.
        bool identifiedByArguments;
        RunningApplication application;
    };

    static std::optional<Identity> identity(const char *stat, size_t length);

    QString m_procRoot;
    // Ascending process id.
    std::vector<Known> m_known;
};
