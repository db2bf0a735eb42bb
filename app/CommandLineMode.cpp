#include "app/CommandLineMode.h"

#include "advertiser/Advertiser.h"
#include "platform/SingleCopyLock.h"

#include <QCoreApplication>

#include <cstdio>

int runCommandLineMode(int &argc, char **argv, std::optional<qint64> port)
{
    QCoreApplication app(argc, argv);
    // One publisher per user, whichever mode it runs in: two copies would
    // publish the same instance name, and avahi-daemon rejects the later one
    // as soon as their records differ.
    SingleCopyLock lock;
    switch (lock.acquire()) {
    case SingleCopyLock::Outcome::Acquired:
        break;
    case SingleCopyLock::Outcome::HeldElsewhere:
        std::fputs("Quillfen Mac 助手已在运行（菜单栏或命令行模式），这一份不发布，退出。\n", stderr);
        return anotherCopyRuns;
    case SingleCopyLock::Outcome::Unavailable:
        std::fputs(lock.unavailableText().constData(), stderr);
        break;
    }
    Advertiser advertiser(port);
    advertiser.start();
    app.exec();
    return 0;
}
