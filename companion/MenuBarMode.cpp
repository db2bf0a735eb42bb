#include "companion/MenuBarMode.h"

#include "companion/CompanionApp.h"

#include <QApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTimer>
#include <QTranslator>

#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

// QApplication ends the process when it finds no display; say why instead.
bool haveDisplay()
{
    for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
        const char *value = std::getenv(name);
        if (value && *value)
            return true;
    }
    return false;
}

// Qt tries its Wayland platform plugin first on a Wayland session and falls
// back to XWayland when the plugin is not installed. A session that names
// Wayland in QT_QPA_PLATFORM gets the same fallback instead of an abort.
void addXWaylandFallback()
{
    const QByteArray asked = qgetenv("QT_QPA_PLATFORM");
    if (asked.contains("wayland") && !asked.contains("xcb") && !qgetenv("DISPLAY").isEmpty())
        qputenv("QT_QPA_PLATFORM", asked + ";xcb");
}

} // namespace

int runMenuBarMode(int &argc, char **argv)
{
    if (!haveDisplay()) {
        std::fputs("没有找到图形桌面，无法显示托盘图标。请在桌面会话中启动，或用 QuillfenMac --cli 在终端运行。\n",
                   stderr);
        return 2;
    }

    addXWaylandFallback();
    // The window class on X11 (instance and class alike) and the app id on
    // Wayland are the application id, in ASCII, so that docks and window
    // lists match the windows to the desktop entry. The X11 instance name
    // comes from -name, which only the X11 platform reads.
    QByteArray instanceName = ProgramIdentity::applicationId.toLatin1();
    char nameOption[] = "-name";
    std::vector<char *> arguments(argv, argv + argc);
    arguments.insert(arguments.end(), {nameOption, instanceName.data(), nullptr});
    int argumentCount = int(arguments.size()) - 1;
    QApplication app(argumentCount, arguments.data());
    app.setApplicationName(ProgramIdentity::applicationId);
    app.setApplicationDisplayName(ProgramIdentity::name);
    app.setDesktopFileName(ProgramIdentity::applicationId);
    app.setWindowIcon(ProgramIdentity::icon());
    // Closing a window (the port dialog, the status window) must not end the program.
    app.setQuitOnLastWindowClosed(false);
    // Qt's own button texts ("OK") in the user's language, where installed.
    QTranslator qtTexts;
    if (qtTexts.load(QLocale(), QStringLiteral("qtbase"), QStringLiteral("_"),
                     QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        app.installTranslator(&qtTexts);

    {
        CompanionApp companion;
        QObject::connect(&app, &QCoreApplication::aboutToQuit, &companion, &CompanionApp::applicationWillTerminate);
        QTimer::singleShot(0, &companion, &CompanionApp::applicationDidFinishLaunching);
        app.exec();
    }
    return 0;
}
