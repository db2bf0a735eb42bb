// The test programs run their cases inside a QCoreApplication so that timers,
// socket notifiers and queued calls work as they do in the program.
#include <QCoreApplication>
#include <gtest/gtest.h>

int main(int argc, char **argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    QCoreApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
