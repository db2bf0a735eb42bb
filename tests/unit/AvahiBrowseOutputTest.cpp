#include "support/AvahiBrowseOutput.h"

#include <gtest/gtest.h>

namespace {

struct LabelCase
{
    const char *escaped;
    std::optional<QByteArray> plain;
    friend void PrintTo(const LabelCase &c, std::ostream *os) { *os << c.escaped; }
};

class AvahiLabelUnescape : public testing::TestWithParam<LabelCase>
{
};

TEST_P(AvahiLabelUnescape, UndoesAvahiEscapeLabel)
{
    EXPECT_EQ(unescapeAvahiLabel(GetParam().escaped), GetParam().plain);
}

INSTANTIATE_TEST_SUITE_P(
    Labels, AvahiLabelUnescape,
    testing::Values(LabelCase{"Quillfen-1234ABCD", QByteArray("Quillfen-1234ABCD")},
                    LabelCase{"Quillfen-Test\\0321\\.x\\059y\\\\z", QByteArray("Quillfen-Test 1.x;y\\z")},
                    LabelCase{"J\\195\\188rgen", QByteArray("J\xc3\xbcrgen")}, LabelCase{"", QByteArray()},
                    LabelCase{"dangling\\", std::nullopt}, LabelCase{"short\\03", std::nullopt},
                    LabelCase{"big\\256", std::nullopt}));

struct TxtCase
{
    const char *field;
    std::optional<QList<QByteArray>> strings; // in record order
    friend void PrintTo(const TxtCase &c, std::ostream *os) { *os << c.field; }
};

class AvahiTxtField : public testing::TestWithParam<TxtCase>
{
};

TEST_P(AvahiTxtField, GivesTheStringsInRecordOrder)
{
    EXPECT_EQ(parseAvahiTxtField(GetParam().field), GetParam().strings);
}

INSTANTIATE_TEST_SUITE_P(
    Fields, AvahiTxtField,
    testing::Values(
        TxtCase{"\"version=1\" \"name=N\" \"id=ABC\"", QList<QByteArray>{"id=ABC", "name=N", "version=1"}},
        TxtCase{"", QList<QByteArray>{}}, TxtCase{"\"\"", QList<QByteArray>{""}},
        TxtCase{"\"h\\195\\169=\\195\\188\" \"name=Ju \\\"q\\\" a;b\\\\c\"",
                QList<QByteArray>{"name=Ju \"q\" a;b\\c", "h\xc3\xa9=\xc3\xbc"}},
        TxtCase{"\"a\" \"b", std::nullopt}, TxtCase{"\"a\"\"b\"", std::nullopt}, TxtCase{"a", std::nullopt}));

TEST(AvahiBrowseLine, ReadsAResolveLine)
{
    const auto line = parseAvahiBrowseLine(
        "=;eth0;IPv6;Quillfen-Test\\0321;_quillfen._tcp;local;qf-mac.local;2001:db8::10;8888;"
        "\"addresses=192.0.2.10,2001:db8::10\" \"id=ABC\"\n");
    ASSERT_TRUE(line);
    EXPECT_EQ(line->kind, AvahiBrowseLine::Kind::Resolved);
    const BrowsedService &service = line->service;
    EXPECT_EQ(service.interfaceName, "eth0");
    EXPECT_EQ(service.protocol, "IPv6");
    EXPECT_EQ(service.name, "Quillfen-Test 1");
    EXPECT_EQ(service.type, "_quillfen._tcp");
    EXPECT_EQ(service.domain, "local");
    EXPECT_EQ(service.host, "qf-mac.local");
    EXPECT_EQ(service.address, "2001:db8::10");
    EXPECT_EQ(service.port, 8888);
    EXPECT_EQ(service.txt, (QList<QByteArray>{"id=ABC", "addresses=192.0.2.10,2001:db8::10"}));
    EXPECT_EQ(service.txtValue("addresses"), QByteArray("192.0.2.10,2001:db8::10"));
    EXPECT_EQ(service.txtValue("id"), QByteArray("ABC"));
    EXPECT_EQ(service.txtValue("i"), std::nullopt);
}

TEST(AvahiBrowseLine, ReadsBrowseAndRemoveLinesAndRejectsOthers)
{
    const auto added = parseAvahiBrowseLine("+;eth0;IPv4;Quillfen-1;_quillfen._tcp;local");
    ASSERT_TRUE(added);
    EXPECT_EQ(added->kind, AvahiBrowseLine::Kind::Added);
    EXPECT_EQ(added->service.name, "Quillfen-1");
    const auto removed = parseAvahiBrowseLine("-;eth0;IPv4;Quillfen-1;_quillfen._tcp;local\n");
    ASSERT_TRUE(removed);
    EXPECT_EQ(removed->kind, AvahiBrowseLine::Kind::Removed);

    for (const char *bad : {"", "+", "Server version: avahi 0.8", "+;eth0;IPv4;name;type",
                            "=;eth0;IPv4;n;t;local;host;addr;notaport;\"a\"", "=;eth0;IPv4;n;t;local;h;a;1;broken"})
        EXPECT_FALSE(parseAvahiBrowseLine(bad)) << bad;
}

TEST(AvahiBrowseOutput, CollectsOnlyResolvedServices)
{
    const QByteArray output = "+;eth0;IPv4;A;_quillfen._tcp;local\n"
                              "=;eth0;IPv4;A;_quillfen._tcp;local;qf-mac.local;192.0.2.10;8888;\"x=1\"\n"
                              "Failed to resolve service 'B'\n"
                              "=;eth0;IPv6;A;_quillfen._tcp;local;qf-mac.local;2001:db8::10;8888;\"x=1\"\n";
    const QList<BrowsedService> services = parseResolvedServices(output);
    ASSERT_EQ(services.size(), 2);
    EXPECT_EQ(services[0].address, "192.0.2.10");
    EXPECT_EQ(services[1].protocol, "IPv6");
}

} // namespace
