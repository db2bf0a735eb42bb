// The computer's display name: PRETTY_HOSTNAME from a machine-info file in
// its shell-like syntax, else the host name.

#include "platform/HostName.h"
#include "support/QtPrinters.h"

#include <QFile>
#include <QSysInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>

TEST(HostName, PrettyNameFromMachineInfoElseHostName)
{
    const QString host = QSysInfo::machineHostName();
    ASSERT_FALSE(host.isEmpty()) << "this machine has a host name";
    const std::pair<const char *, QString> cases[] = {
        {nullptr, host}, {"PRETTY_HOSTNAME='Dev \"Box\"'\n", "Dev \"Box\""}, // first: no file at all
        {"PRETTY_HOSTNAME=\"say \\\"hi\\\" \\\\ done\"\n", "say \"hi\" \\ done"}, {"PRETTY_HOSTNAME=\"\"\n", host},
        {"PRETTY_HOSTNAME=Two\\ Words # a comment\n", "Two Words"}, {"PRETTY_HOSTNAME=\"小王的电脑\n", "小王的电脑"},
        {"# PRETTY_HOSTNAME=Commented\nCHASSIS=laptop\n", host}, {"\xff\xfe garbage\n", host},
        {"PRETTY_HOSTNAME=First\nCHASSIS=laptop\nPRETTY_HOSTNAME=Second\n", "Second"},
    };
    QTemporaryDir dir;
    QFile file(dir.filePath("machine-info"));
    for (const auto &[contents, expected] : cases) {
        if (contents && file.open(QIODevice::WriteOnly))
            file.write(contents), file.close();
        EXPECT_EQ(hostDisplayName(file.fileName()), expected) << (contents ? contents : "no file");
    }
}
