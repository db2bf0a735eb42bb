#pragma once

#include <QString>
#include <optional>

// The name the desktop shows for this computer: PRETTY_HOSTNAME from
// machineInfoPath when it is set, else the host name; nothing when neither
// exists.
std::optional<QString> hostDisplayName(const QString &machineInfoPath = QStringLiteral("/etc/machine-info"));
