#include "app/CommandLine.h"
#include "app/CommandLineMode.h"
#include "platform/MainBundle.h"

#ifdef QUILLFEN_HAVE_COMPANION
#include "companion/MenuBarMode.h"
#endif

#include <cstdio>

namespace {

void write(std::FILE *stream, const QString &text)
{
    const QByteArray bytes = text.toUtf8();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stream);
}

} // namespace

int main(int argc, char **argv)
{
    // Every status line reaches a pipe or a log the moment it is written.
    std::setvbuf(stdout, nullptr, _IONBF, 0);

    QStringList args;
    for (int i = 1; i < argc; ++i)
        args << QString::fromLocal8Bit(argv[i]);

    const QString bundle = MainBundle::locationFor(MainBundle::runningExecutable(QString::fromLocal8Bit(argv[0])));
    const CommandLineChoice choice = CommandLine::choose(args, MainBundle::isApplicationBundle(bundle));

    switch (choice.mode) {
    case CommandLineChoice::Mode::Help:
        write(stdout, CommandLine::fullUsage);
        return 0;
    case CommandLineChoice::Mode::Usage:
        write(stderr, CommandLine::shortUsage);
        return 2;
    case CommandLineChoice::Mode::MenuBar:
#ifdef QUILLFEN_HAVE_COMPANION
        return runMenuBarMode(argc, argv);
#else
        write(stderr, QStringLiteral("此版本未包含菜单栏模式，请使用 --cli。\n"));
        return 2;
#endif
    case CommandLineChoice::Mode::CommandLine:
        return runCommandLineMode(argc, argv, choice.port);
    }
    return 2;
}
