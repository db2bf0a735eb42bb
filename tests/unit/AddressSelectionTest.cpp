// Ranking and capping of the interface addresses offered to the phone.

#include "advertiser/PhysicalAddresses.h"
#include "support/QtPrinters.h"

#include <gtest/gtest.h>

TEST(AddressSelection, RankOrderCapsAndInterfaceNames)
{
    std::vector<AddressCandidate> nine, wide; // 192.0.2.9 down to .1; seven 45-byte texts, then a short one
    for (int i = 0; i < 9; ++i) {
        nine.push_back({QStringLiteral("192.0.2.%1").arg(9 - i), 0});
        wide.push_back({i < 7 ? QStringLiteral("0000:0000:0000:0000:0000:ffff:192.000.002.00%1").arg(i) : "fd00::9", 1});
    }
    const std::pair<std::vector<AddressCandidate>, QStringList> cases[] = {
        {{{"192.168.1.20", 0}, {"fe80::1", 3}, {"fd00::5", 1}}, {"192.168.1.20", "fd00::5"}}, // link-local dropped
        {{{"fe80::1", 3}, {"169.254.10.20", 2}}, {"169.254.10.20", "fe80::1"}}, {{{"fd::1", 1}, {"169.254.1.1", 2}}, {"fd::1"}},
        {{{"192.168.1.9", 0}, {"192.168.1.10", 0}, {"192.168.1.9", 0}}, {"192.168.1.10", "192.168.1.9"}}, // text order
        {nine, {"192.0.2.1", "192.0.2.2", "192.0.2.3", "192.0.2.4", "192.0.2.5", "192.0.2.6", "192.0.2.7", "192.0.2.8"}},
        // Five wide ones join to 229 bytes; the sixth would pass 240, the short one still fits (237).
        {wide, {wide[0].host, wide[1].host, wide[2].host, wide[3].host, wide[4].host, "fd00::9"}},
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
