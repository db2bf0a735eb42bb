// The shared decimal reader and the lsof field-output parser built on it.

#include "advertiser/DecimalText.h"
#include "advertiser/ListeningPorts.h"
#include "support/QtPrinters.h"

#include <gtest/gtest.h>

namespace {

TEST(DecimalText, WholeTextRules)
{
    const struct
    {
        QString text;
        std::optional<qint64> value;
    } cases[] = {
        {"8888", 8888},
        {"+8888", 8888},
        {"08888", 8888},
        {"-1", -1},
        {"0", 0},
        {"-0", 0},
        {"9223372036854775807", INT64_MAX},
        {"-9223372036854775808", INT64_MIN},
        {"9223372036854775808", std::nullopt},
        {"-9223372036854775809", std::nullopt},
        {"99999999999999999999", std::nullopt},
        {"", std::nullopt},
        {"+", std::nullopt},
        {"-", std::nullopt},
        {"+-1", std::nullopt},
        {" 8888", std::nullopt},
        {"8888 ", std::nullopt},
        {"88 88", std::nullopt},
        {"8888.0", std::nullopt},
        {"0x22B8", std::nullopt},
        {"1e3", std::nullopt},
        {QString::fromUtf8("８８８８"), std::nullopt}, // full-width digits
        {QString::fromUtf8("٨٨"), std::nullopt},       // Arabic-Indic digits
    };
    for (const auto &c : cases)
        EXPECT_EQ(parseDecimal(c.text), c.value) << c.text.toStdString();
}

TEST(LsofOutput, NameLinesGivePortsInOrder)
{
    const struct
    {
        QByteArray output;
        QList<qint64> ports;
    } cases[] = {
        {"p1234\nf12\nn*:8888\n", {8888}},
        {"p1\nf3\nn*:8888\nf4\nn[::1]:8888\n", {8888, 8888}},
        {"n*:8888\nn*:80\n", {8888, 80}},
        {"n192.0.2.10:8080\n", {8080}},
        {"n8888\n", {}},           // no colon: the only piece keeps its n
        {"n*:\n", {}},             // trailing colon: the last piece is "n*"
        {"n*:+8888\n", {8888}},
        {"n*:99999999999999999999\n", {}},
        {"n*:http\nn*:22\n", {22}}, // an unreadable line is skipped, the rest kept
        {"N*:8888\n n*:8888\n", {}},
        {"\n\nn*:8888\n\n\nn*:9\n", {8888, 9}},
        {"n::::8888\n", {8888}},
        {"", {}},
        {"n*:8888\n\xff\xfe\n", {}}, // not UTF-8: read as empty
    };
    for (const auto &c : cases)
        EXPECT_EQ(parseLsofOutput(c.output), c.ports) << c.output.toStdString();
}

TEST(LsofOutput, ArgumentsForAProcess)
{
    EXPECT_EQ(lsofArguments(1234),
              (QStringList{"-nP", "-a", "-p", "1234", "-iTCP", "-sTCP:LISTEN", "-Fn"}));
    EXPECT_EQ(lsofArguments(-5).at(3), QStringLiteral("-5"));
}

} // namespace
