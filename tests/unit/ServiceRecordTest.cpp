// What the phone finds: the registration's names, its TXT record byte for
// byte, and the interface addresses ranked and capped for it.

#include "advertiser/PhysicalAddresses.h"
#include "advertiser/ServiceRecord.h"
#include "support/FakeHost.h"
#include "support/QtPrinters.h"

#include <gtest/gtest.h>

// A family of four as one character: 25 bytes.
static const QString family = QString::fromUtf8("\U0001F468\u200D\U0001F469\u200D\U0001F467\u200D\U0001F466");

TEST(ServiceRecord, NamesCutAtCharactersTxtBytesAndAnEmptyRecordWhenEncodingFails)
{
    const QString accented = QString::fromUtf8("e\u0301"), flag = QString::fromUtf8("\U0001F1E8\U0001F1F3");
    const std::pair<std::optional<QString>, QString> cases[] = {
        {std::nullopt, "Mac Charles"}, {"我的电脑", "我的电脑"}, {QString(41, 'x'), QString(40, 'x')},
        {accented.repeated(45), accented.repeated(40)}, {flag.repeated(41), flag.repeated(31)}, // 31 x 8 bytes fit
        {family.repeated(40), family.repeated(10)}, // 1000 bytes: the 10 that fit 250
    };
    for (const auto &[host, expected] : cases)
        EXPECT_EQ(ServiceRecord::displayName(host), expected);
    EXPECT_EQ(ServiceRecord::instanceName("3F2504E0-4F89-41D3-9A0C-0305E82C3301"), "Quillfen-3F2504E0");
    EXPECT_EQ(ServiceRecord::instanceName(family.repeated(9) + "X"), "Quillfen-" + family.repeated(8));

    // The name entry is "name=" and 250 bytes: exactly one full TXT string.
    const QString id = QStringLiteral("3F2504E0-4F89-41D3-9A0C-0305E82C3301");
    EXPECT_EQ(NetService::dataFromTXTRecordDictionary(
                  ServiceRecord::txtDictionary(id, family.repeated(40), {"192.0.2.10", "2001:db8::10"})),
              "\x27id=" + id.toUtf8() + "\xffname=" + family.repeated(10).toUtf8() + "\x09version=1\x21"
                  "addresses=192.0.2.10,2001:db8::10");
    EXPECT_EQ(NetService::dataFromTXTRecordDictionary({{"", "x"}}), std::nullopt) << "a key is required";
    // An identifier too long for one TXT string empties the record, which is still published.
    FakePublisher publisher;
    const auto service = ServiceRecord::publish(publisher, 8888, {}, QString(300, 'A'), std::nullopt, nullptr);
    EXPECT_TRUE(publisher.latest().txt.isEmpty() && publisher.latest().published && publisher.latest().port == 8888);
}

TEST(AddressSelection, RankOrderCapsAndInterfaceNames)
{
    // 192.0.2.9 down to .1 and the first eight of them; seven 44-byte texts, then a short one.
    const QStringList eight = {"192.0.2.1", "192.0.2.2", "192.0.2.3", "192.0.2.4", "192.0.2.5", "192.0.2.6",
                               "192.0.2.7", "192.0.2.8"};
    std::vector<AddressCandidate> nine, wide;
    for (int i = 0; i < 9; ++i) {
        nine.push_back({QString("192.0.2.%1").arg(9 - i), 0});
        wide.push_back({i < 7 ? QString("0000:0000:0000:0000:0000:ffff:192.000.002.0%1").arg(i) : "2001:db8::9", 1});
    }
    const std::pair<std::vector<AddressCandidate>, QStringList> cases[] = {
        {{{"192.0.2.20", 0}, {"fe80::1", 3}, {"2001:db8::5", 1}}, {"192.0.2.20", "2001:db8::5"}}, // link-local dropped
        {{{"fe80::1", 3}, {"169.254.10.20", 2}}, {"169.254.10.20", "fe80::1"}},
        {{{"2001:db8::1", 1}, {"169.254.1.1", 2}}, {"2001:db8::1"}},
        // Text order, not numeric; each host once.
        {{{"198.51.100.9", 0}, {"198.51.100.10", 0}, {"198.51.100.9", 0}}, {"198.51.100.10", "198.51.100.9"}},
        // Five wide ones join to 224 bytes; the sixth would pass 240, the short one still fits (236).
        {nine, eight}, {wide, {wide[0].host, wide[1].host, wide[2].host, wide[3].host, wide[4].host, "2001:db8::9"}},
    };
    for (auto [candidates, expected] : cases) {
        EXPECT_EQ(selectAddresses(candidates), expected);
        std::reverse(candidates.begin(), candidates.end()); // the order of the interfaces does not matter
        EXPECT_EQ(selectAddresses(candidates), expected) << "reversed";
    }
    for (const char *name : {"eno1", "enp0s31f6", "eth0", "wlan0", "wlp2s0"})
        EXPECT_TRUE(isPhysicalInterfaceName(name)) << name;
    for (const char *name : {"lo", "docker0", "veth12", "virbr0", "tun0", "Eth0", ""})
        EXPECT_FALSE(isPhysicalInterfaceName(name)) << name;
}
