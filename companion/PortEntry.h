#pragma once

#include <QString>
#include <QStringView>
#include <optional>

// The proxy port as the menu shows it and as the user types it.
namespace PortEntry {

inline constexpr qint64 defaultPort = 8888;

// The port an entry asks for: a whole decimal number in 1-65535, or nothing.
std::optional<qint64> accepted(QStringView text);
// A stored port outside 1-65535 (an absent one reads as 0) becomes 8888.
qint64 normalised(qint64 storedPort);
// "代理端口：8888…"
QString title(qint64 port);

} // namespace PortEntry
