// Ranking and capping of the interface addresses offered to the phone.

#include "advertiser/PhysicalAddresses.h"
#include "support/QtPrinters.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>

namespace {

TEST(AddressSelection, RankOrderAndCaps)
{
    const struct
    {
        const char *label;
        std::vector<AddressCandidate> candidates;
        QStringList expected;
    } cases[] = {
        {"link-local dropped when routable exists",
         {{"192.168.1.20", 0}, {"fe80::1", 3}, {"fd00::5", 1}},
         {"192.168.1.20", "fd00::5"}},
        {"only link-local: IPv4 before IPv6", {{"fe80::1", 3}, {"169.254.10.20", 2}}, {"169.254.10.20", "fe80::1"}},
        {"text order, not interface order", {{"192.168.1.20", 0}, {"10.0.0.5", 0}}, {"10.0.0.5", "192.168.1.20"}},
        {"text order, not numeric order", {{"192.168.1.9", 0}, {"192.168.1.10", 0}}, {"192.168.1.10", "192.168.1.9"}},
        {"duplicates once", {{"192.0.2.1", 0}, {"192.0.2.1", 0}, {"2001:db8::1", 1}}, {"192.0.2.1", "2001:db8::1"}},
        {"IPv6 alone is routable", {{"2001:db8::1", 1}, {"169.254.1.1", 2}}, {"2001:db8::1"}},
        {"nothing", {}, {}},
    };
    for (const auto &c : cases)
        EXPECT_EQ(selectAddresses(c.candidates), c.expected) << c.label;
}

TEST(AddressSelection, AtMostEightEntries)
{
    std::vector<AddressCandidate> nine;
    for (int i = 1; i <= 9; ++i)
        nine.push_back({QStringLiteral("192.0.2.%1").arg(i), 0});
    EXPECT_EQ(selectAddresses(nine), (QStringList{"192.0.2.1", "192.0.2.2", "192.0.2.3", "192.0.2.4",
                                                  "192.0.2.5", "192.0.2.6", "192.0.2.7", "192.0.2.8"}));
}

TEST(AddressSelection, ByteBoundSkipsButKeepsWalking)
{
    // Five 45-byte texts join to 229 bytes; a sixth would pass 240 and is
    // passed over, but the short one after it still fits (237 bytes).
    std::vector<AddressCandidate> candidates;
    for (int i = 0; i < 7; ++i)
        candidates.push_back({QStringLiteral("0000:0000:0000:0000:0000:ffff:192.000.002.%1").arg(i, 3, 10, QLatin1Char('0')), 1});
    candidates.push_back({QStringLiteral("fd00::9"), 1});
    const QStringList result = selectAddresses(candidates);
    ASSERT_EQ(result.size(), 6);
    EXPECT_EQ(result.join(',').toUtf8().size(), 237);
    EXPECT_EQ(result.last(), QStringLiteral("fd00::9"));
}

TEST(AddressSelection, InterfaceOrderDoesNotMatter)
{
    std::vector<AddressCandidate> candidates = {{"198.51.100.7", 0}, {"192.0.2.10", 0}, {"2001:db8::10", 1},
                                                {"fe80::1", 3},      {"203.0.113.5", 0}, {"2001:db8::2", 1}};
    const QStringList expected = selectAddresses(candidates);
    std::mt19937 random(7);
    for (int i = 0; i < 20; ++i) {
        std::shuffle(candidates.begin(), candidates.end(), random);
        EXPECT_EQ(selectAddresses(candidates), expected);
    }
}

TEST(AddressSelection, PhysicalInterfaceNames)
{
    for (const char *name : {"en0", "eno1", "ens3", "enp0s31f6", "eth0", "wlan0", "wlp2s0"})
        EXPECT_TRUE(isPhysicalInterfaceName(QString::fromLatin1(name))) << name;
    for (const char *name : {"lo", "docker0", "br-1a2b", "veth12", "virbr0", "tun0", "wg0", "Eth0", ""})
        EXPECT_FALSE(isPhysicalInterfaceName(QString::fromLatin1(name))) << name;
}

} // namespace
