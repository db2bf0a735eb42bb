#include "app/CommandLineMode.h"

#include "advertiser/Advertiser.h"

#include <QCoreApplication>

int runCommandLineMode(int &argc, char **argv, std::optional<qint64> port)
{
    QCoreApplication app(argc, argv);
    Advertiser advertiser(port);
    advertiser.start();
    app.exec();
    return 0;
}
