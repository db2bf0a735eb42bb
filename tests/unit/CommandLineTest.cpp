// Which run mode and port each command line selects, and where the program
// finds its bundle.

#include "app/CommandLine.h"
#include "platform/MainBundle.h"
#include "support/QtPrinters.h"

#include <gtest/gtest.h>

TEST(CommandLine, EveryFormUsageTextsAndBundleLocation)
{
    // How a port text reads is the decimal reader's matter (DecimalText).
    using enum CommandLineChoice::Mode;
    const std::tuple<QStringList, bool, CommandLineChoice::Mode, std::optional<qint64>> forms[] = {
        {{"--help"}, true, Help, {}}, {{}, false, CommandLine, {}}, {{}, true, MenuBar, {}}, {{""}, true, Usage, {}},
        {{"--cli"}, true, CommandLine, {}}, {{"--port", "+08888"}, true, CommandLine, 8888}, {{"-h"}, true, Usage, {}},
        {{"--port", "1"}, false, CommandLine, 1}, {{"--port", "65535"}, false, CommandLine, 65535},
        {{"--port", "0"}, true, Usage, {}}, {{"--port", "65536"}, true, Usage, {}}, {{"--port"}, true, Usage, {}},
        {{"--port", "88a8"}, true, Usage, {}}, {{"--port=8888"}, true, Usage, {}}, {{"--CLI"}, true, Usage, {}},
        {{"--port", "8888", "9999"}, true, Usage, {}}, {{"--cli", "--port", "8888"}, true, Usage, {}},
        {{"--help", "--cli"}, true, Usage, {}}, {{"--Help"}, true, Usage, {}}, {{"--Port", "8888"}, true, Usage, {}},
    };
    for (const auto &[args, inBundle, mode, port] : forms) {
        const CommandLineChoice choice = CommandLine::choose(args, inBundle);
        EXPECT_EQ(std::pair(choice.mode, choice.port), std::pair(mode, port)) << args.join('|').toStdString();
    }
    EXPECT_EQ(CommandLine::shortUsage.toUtf8(), QByteArray("用法：QuillfenMac [--cli | --port 8888]\n"));
    EXPECT_EQ(CommandLine::fullUsage, CommandLine::shortUsage + "双击 Quillfen Mac 助手.app 可在菜单栏运行。\n");
    // Where the program finds its bundle, and whether that is one by its extension.
    const std::tuple<QString, QString, bool> bundles[] = {
        {"/opt/Quillfen Mac 助手.app/Contents/MacOS/Q", "/opt/Quillfen Mac 助手.app", true}, {"/b/Q", "/b", false},
        {"/o/X.App/Contents/MacOS/Q", "/o/X.App", false}, {"/o/X.app.bak/Contents/MacOS/Q", "/o/X.app.bak", false},
        {"/o/X.app/Contents/Q", "/o/X.app/Contents", false}, {"/o/X.app/MacOS/Q", "/o/X.app/MacOS", false},
        {"/srv/tools.app/Q", "/srv/tools.app", true}, {"/srv/.app/Contents/MacOS/Q", "/srv/.app", false},
    };
    for (const auto &[exe, dir, app] : bundles)
        EXPECT_EQ(std::pair(MainBundle::locationFor(exe), MainBundle::isApplicationBundle(dir)), std::pair(dir, app));
}
