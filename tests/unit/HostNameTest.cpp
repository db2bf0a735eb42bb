// The computer's display name: PRETTY_HOSTNAME from a machine-info file in
// its shell-like syntax, else the host name.

#include "platform/HostName.h"
#include "support/QtPrinters.h"

#include <QFile>
#include <QSysInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

TEST(HostName, PrettyNameFromMachineInfo)
{
    const QString host = QSysInfo::machineHostName();
    struct Case
    {
        const char *contents;
        QString expected;
    };
    const Case cases[] = {
        {"PRETTY_HOSTNAME=Workbench\n", QStringLiteral("Workbench")},
        {"PRETTY_HOSTNAME=\"Lena's Laptop\"\n", QStringLiteral("Lena's Laptop")},
        {"PRETTY_HOSTNAME='Dev \"Box\"'\n", QStringLiteral("Dev \"Box\"")},
        {"PRETTY_HOSTNAME=\"say \\\"hi\\\" \\\\ done\"\n", QStringLiteral("say \"hi\" \\ done")},
        {"PRETTY_HOSTNAME=Two\\ Words\n", QStringLiteral("Two Words")},
        {"PRETTY_HOSTNAME=\"小王的电脑\"\n", QStringLiteral("小王的电脑")},
        {"# PRETTY_HOSTNAME=Commented\nCHASSIS=laptop\n", host},
        {"CHASSIS=laptop\nPRETTY_HOSTNAME=Later\nDEPLOYMENT=production\n", QStringLiteral("Later")},
        {"PRETTY_HOSTNAME=First\nPRETTY_HOSTNAME=Second\n", QStringLiteral("Second")},
        {"PRETTY_HOSTNAME=\n", host},
        {"PRETTY_HOSTNAME=\"\"\n", host},
        {"PRETTY_HOSTNAME=Name # a comment\n", QStringLiteral("Name")},
        {"PRETTY_HOSTNAME=\"Unclosed\n", QStringLiteral("Unclosed")},
        {"\xff\xfe garbage \x01\n", host},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.contents);
        QTemporaryDir dir;
        QFile file(dir.filePath(QStringLiteral("machine-info")));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(c.contents);
        file.close();
        const std::optional<QString> name = hostDisplayName(file.fileName());
        if (c.expected.isEmpty())
            EXPECT_EQ(name, std::nullopt);
        else
            EXPECT_EQ(name, c.expected);
    }
}

TEST(HostName, MissingFileGivesTheHostName)
{
    const QString host = QSysInfo::machineHostName();
    ASSERT_FALSE(host.isEmpty()) << "this machine has a host name";
    EXPECT_EQ(hostDisplayName(QStringLiteral("/nonexistent/machine-info")), host);
}

} // namespace
