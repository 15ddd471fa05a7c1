#include "network/interface_check.h"

#include <QStringList>

#include <gtest/gtest.h>

namespace orlune {
namespace {

InterfaceAddress entry(QString name, bool up = true, bool running = true, bool address = true) {
    return {.name = std::move(name), .up = up, .running = running, .hasInternetAddress = address};
}

TEST(PhysicalLink, OnlyNamedPhysicalInterfacesThatAreUpRunningAndAddressedCount) {
    const struct {
        std::vector<InterfaceAddress> entries;
        bool expected;
    } cases[] = {
        {{}, false},
        {{entry("lo"), entry("tun0"), entry("utun3")}, false},
        {{entry("veth1a2b"), entry("docker0"), entry("br0")}, false},  // bridges count for routes only
        {{entry("eth0", true, false)}, false},                         // cable unplugged
        {{entry("eth0", false, true)}, false},
        {{entry("eth0", true, true, false)}, false},  // e.g. a link-layer entry
        {{entry("lo"), entry("eth0")}, true},
        {{entry("enp3s0")}, true},
        {{entry("wlan0")}, true},
        {{entry("wlp2s0")}, true},
        {{entry("wwan0")}, true},
        {{entry("tun0"), entry("wlan0", true, false), entry("enx00e04c")}, true},
    };
    for (const auto& c : cases) {
        QStringList names;
        for (const auto& e : c.entries) names.append(e.name);
        EXPECT_EQ(anyPhysicalInterfaceUp(c.entries), c.expected) << names.join(',').toStdString();
    }
}

TEST(PhysicalLink, SystemListIncludesLoopback) {
    bool loopback = false;
    for (const InterfaceAddress& address : readInterfaceAddresses()) loopback |= address.name == "lo";
    EXPECT_TRUE(loopback);
}

}  // namespace
}  // namespace orlune
