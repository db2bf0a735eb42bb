// Which run mode and port each command line selects, and where the program
// finds its bundle.

#include "app/CommandLine.h"
#include "app/MainBundle.h"

#include "support/QtPrinters.h"

#include <gtest/gtest.h>

namespace {

using Mode = CommandLineChoice::Mode;

TEST(CommandLineChoose, AcceptedAndRejectedForms)
{
    const struct
    {
        QStringList args;
        bool inBundle;
        Mode mode;
        std::optional<qint64> port;
    } cases[] = {
        // How a port text reads is the decimal reader's matter (TextParsingTest).
        {{"--help"}, false, Mode::Help, {}},
        {{"--help"}, true, Mode::Help, {}},
        {{}, false, Mode::CommandLine, {}},
        {{}, true, Mode::MenuBar, {}},
        {{"--cli"}, true, Mode::CommandLine, {}},
        {{"--port", "+8888"}, false, Mode::CommandLine, 8888},
        {{"--port", "08888"}, true, Mode::CommandLine, 8888},
        {{"--port", "1"}, false, Mode::CommandLine, 1},
        {{"--port", "65535"}, false, Mode::CommandLine, 65535},
        {{"--port", "0"}, false, Mode::Usage, {}},
        {{"--port", "65536"}, false, Mode::Usage, {}},
        {{"--port", "-1"}, false, Mode::Usage, {}},
        {{"--port", ""}, false, Mode::Usage, {}},
        {{"--port", "88a8"}, false, Mode::Usage, {}},
        {{"--port"}, false, Mode::Usage, {}},
        {{"--port", "8888", "9999"}, false, Mode::Usage, {}},
        {{"--port=8888"}, false, Mode::Usage, {}},
        {{"--cli", "--port", "8888"}, false, Mode::Usage, {}},
        {{"--help", "--cli"}, false, Mode::Usage, {}},
        {{"-h"}, false, Mode::Usage, {}},
        {{"--CLI"}, false, Mode::Usage, {}},
        {{"--Help"}, false, Mode::Usage, {}},
        {{"--Port", "8888"}, false, Mode::Usage, {}},
        {{""}, true, Mode::Usage, {}},
    };
    for (const auto &c : cases) {
        const CommandLineChoice choice = CommandLine::choose(c.args, c.inBundle);
        const std::string label = c.args.join(QLatin1Char('|')).toStdString();
        EXPECT_EQ(choice.mode, c.mode) << label;
        EXPECT_EQ(choice.port, c.port) << label;
    }
}

TEST(CommandLineChoose, UsageTextsAreExact)
{
    EXPECT_EQ(CommandLine::shortUsage.toUtf8(), QByteArray("用法：QuillfenMac [--cli | --port 8888]\n"));
    EXPECT_EQ(CommandLine::fullUsage.toUtf8(),
              QByteArray("用法：QuillfenMac [--cli | --port 8888]\n双击 Quillfen Mac 助手.app 可在菜单栏运行。\n"));
}

TEST(MainBundle, LocationAndExtension)
{
    const struct
    {
        QString executable;
        QString location;
        bool isApp;
    } cases[] = {
        {"/opt/Quillfen Mac 助手.app/Contents/MacOS/QuillfenMac", "/opt/Quillfen Mac 助手.app", true},
        {"/opt/X.App/Contents/MacOS/QuillfenMac", "/opt/X.App", false},
        {"/opt/X.app.bak/Contents/MacOS/QuillfenMac", "/opt/X.app.bak", false},
        {"/opt/X.app/Contents/QuillfenMac", "/opt/X.app/Contents", false},
        {"/opt/X.app/MacOS/QuillfenMac", "/opt/X.app/MacOS", false},
        {"/usr/bin/QuillfenMac", "/usr/bin", false},
        {"/home/me/build/QuillfenMac", "/home/me/build", false},
        {"/srv/tools.app/QuillfenMac", "/srv/tools.app", true},
        {"/srv/.app/Contents/MacOS/QuillfenMac", "/srv/.app", false},
    };
    for (const auto &c : cases) {
        const QString location = MainBundle::locationFor(c.executable);
        EXPECT_EQ(location, c.location) << c.executable.toStdString();
        EXPECT_EQ(MainBundle::isApplicationBundle(location), c.isApp) << c.executable.toStdString();
    }
}

} // namespace
