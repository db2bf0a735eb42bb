#include "app/CommandLine.h"

#include "advertiser/DecimalText.h"

namespace CommandLine {

CommandLineChoice choose(const QStringList &args, bool insideAppBundle)
{
    using Mode = CommandLineChoice::Mode;
    if (args == QStringList{QStringLiteral("--help")})
        return {Mode::Help, std::nullopt};
    if (args.isEmpty())
        return {insideAppBundle ? Mode::MenuBar : Mode::CommandLine, std::nullopt};
    if (args == QStringList{QStringLiteral("--cli")})
        return {Mode::CommandLine, std::nullopt};
    if (args.size() == 2 && args[0] == QStringLiteral("--port")) {
        const std::optional<qint64> port = parseDecimal(args[1]);
        if (port && *port >= 1 && *port <= 65535)
            return {Mode::CommandLine, port};
    }
    return {Mode::Usage, std::nullopt};
}

} // namespace CommandLine
