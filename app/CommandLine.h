#pragma once

#include <QString>
#include <QStringList>
#include <optional>

// What the command line asks for.
struct CommandLineChoice
{
    enum class Mode { Help, MenuBar, CommandLine, Usage };
    Mode mode = Mode::Usage;
    // For Mode::CommandLine: the port asked for with --port, 1-65535.
    std::optional<qint64> port;
};

namespace CommandLine {

inline const QString shortUsage = QStringLiteral("用法：QuillfenMac [--cli | --port 8888]\n");
inline const QString fullUsage =
    QStringLiteral("用法：QuillfenMac [--cli | --port 8888]\n双击 Quillfen Mac 助手.app 可在菜单栏运行。\n");

// args are the arguments after the program name, compared exactly.
// insideAppBundle: the program runs from a bundle whose extension is "app".
CommandLineChoice choose(const QStringList &args, bool insideAppBundle);

} // namespace CommandLine
