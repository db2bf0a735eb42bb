#include "companion/PortEntry.h"

#include "advertiser/DecimalText.h"

namespace PortEntry {

namespace {
bool inRange(qint64 port)
{
    return port >= 1 && port <= 65535;
}
} // namespace

std::optional<qint64> accepted(QStringView text)
{
    const std::optional<qint64> value = parseDecimal(text);
    if (!value || !inRange(*value))
        return std::nullopt;
    return value;
}

qint64 normalised(qint64 storedPort)
{
    return inRange(storedPort) ? storedPort : defaultPort;
}

QString title(qint64 port)
{
    return QStringLiteral("代理端口：") + QString::number(port) + QStringLiteral("…");
}

} // namespace PortEntry
