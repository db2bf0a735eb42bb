// The shared decimal reader and the lsof field-output parser built on it.

#include "advertiser/DecimalText.h"
#include "advertiser/ListeningPorts.h"
#include "support/QtPrinters.h"

#include <gtest/gtest.h>

TEST(DecimalText, WholeTextRules)
{
    const std::pair<QString, std::optional<qint64>> cases[] = {
        {"8888", 8888}, {"+8888", 8888}, {"08888", 8888}, {"-1", -1}, {"-0", 0}, {"9223372036854775807", INT64_MAX},
        {"-9223372036854775808", INT64_MIN}, {"9223372036854775808", {}}, {"-9223372036854775809", {}}, {"", {}},
        {"+", {}}, {"+-1", {}}, {" 8888", {}}, {"8888 ", {}}, {"0x22B8", {}}, {"８８８８", {}}, // full-width digits
    };
    for (const auto &[text, value] : cases)
        EXPECT_EQ(parseDecimal(text), value) << text.toStdString();
}

TEST(LsofOutput, NameLinesGivePortsInOrder)
{
    const std::pair<QByteArray, QList<qint64>> cases[] = {
        {"p1\nf3\nn*:8888\nf4\nn[::1]:8888\nn192.0.2.10:80\n", {8888, 8888, 80}},
        {"n8888\nn*:\nN*:1\n n*:2\n", {}}, // no colon, nothing after it, not a name line
        {"\n\nn*:http\n\nn*:22\nn::::+9\n", {22, 9}}, // an unreadable line is skipped, the rest kept
        {"n*:8888\n\xff\xfe\n", {}},                  // not UTF-8: read as empty
    };
    for (const auto &[output, ports] : cases)
        EXPECT_EQ(parseLsofOutput(output), ports) << output.toStdString();
    EXPECT_EQ(lsofArguments(1234), (QStringList{"-nP", "-a", "-p", "1234", "-iTCP", "-sTCP:LISTEN", "-Fn"}));
}
