// The texts the program reads: decimal numbers, lsof's field output, and the
// computer's display name (PRETTY_HOSTNAME from a machine-info file in its
// shell-like syntax, else the host name).

#include "advertiser/DecimalText.h"
#include "advertiser/ListeningPorts.h"
#include "platform/HostName.h"
#include "support/QtPrinters.h"

#include <QFile>
#include <QSysInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>

TEST(TextParsing, DecimalTextAndLsofNameLines)
{
    const std::pair<QString, std::optional<qint64>> cases[] = {
        {"8888", 8888}, {"+8888", 8888}, {"08888", 8888}, {"-1", -1}, {"-0", 0}, {"9223372036854775807", INT64_MAX},
        {"-9223372036854775808", INT64_MIN}, {"9223372036854775808", {}}, {"-9223372036854775809", {}}, {"", {}},
        {"+", {}}, {"+-1", {}}, {" 8888", {}}, {"8888 ", {}}, {"0x22B8", {}}, {"８８８８", {}}, // full-width digits
    };
    for (const auto &[text, value] : cases)
        EXPECT_EQ(parseDecimal(text), value) << text.toStdString();
    const std::pair<QByteArray, QList<qint64>> outputs[] = {
        {"p1\nf3\nn*:8888\nf4\nn[::1]:8888\nn192.0.2.10:80\n", {8888, 8888, 80}},
        // No colon, nothing after it, not a name line; an unreadable line is
        // skipped and the rest kept; not UTF-8: read as empty.
        {"n8888\nn*:\nN*:1\n n*:2\n", {}}, {"\n\nn*:http\n\nn*:22\nn::::+9\n", {22, 9}}, {"n*:8888\n\xff\xfe\n", {}},
    };
    for (const auto &[output, ports] : outputs)
        EXPECT_EQ(parseLsofOutput(output), ports) << output.toStdString();
    EXPECT_EQ(lsofArguments(1234), (QStringList{"-nP", "-a", "-p", "1234", "-iTCP", "-sTCP:LISTEN", "-Fn"}));
}

TEST(HostName, PrettyNameFromMachineInfoElseHostName)
{
    const QString host = QSysInfo::machineHostName();
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
