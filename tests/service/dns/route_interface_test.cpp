#include "dns/route_interface.h"

#include <gtest/gtest.h>

#include "core/service_failure.h"
#include "support/fake_tool_runner.h"

namespace orlune {
namespace {

using testing::FakeToolRunner;
using testing::ToolCall;

TEST(RouteInterface, IpRouteGetNamesTheWordAfterDev) {
    EXPECT_EQ(parseIpRouteGet("1.1.1.1 via 192.0.2.1 dev eth0 src 192.0.2.2 uid 0 \n    cache \n"), "eth0");
    EXPECT_EQ(parseIpRouteGet("1.1.1.1 dev tun0 table 51820 src 10.8.0.2 uid 0\n    cache\n"), "tun0");
    EXPECT_EQ(parseIpRouteGet("1.1.1.1 via 192.0.2.1 dev\n"), std::nullopt);
    EXPECT_EQ(parseIpRouteGet("RTNETLINK answers: Network is unreachable\n"), std::nullopt);
    EXPECT_EQ(parseIpRouteGet(""), std::nullopt);
}

TEST(RouteInterface, RouteGetNamesTheInterfaceLine) {
    const char* recorded =
        "   route to: one.one.one.one\n"
        "destination: default\n"
        "       mask: default\n"
        "    gateway: 10.8.0.1\n"
        "  interface: utun6\n"
        "      flags: <UP,GATEWAY,DONE,STATIC,PRCLONING>\n"
        " recvpipe  sendpipe  ssthresh  rtt,msec    rttvar  hopcount      mtu     expire\n"
        "       0         0         0         0         0         0      1400         0\n";
    EXPECT_EQ(parseRouteGet(recorded), "utun6");
    EXPECT_EQ(parseRouteGet("\tinterface:\ten0\n  interface: en1\n"), "en0");
    EXPECT_EQ(parseRouteGet("route: writing to routing socket: not in table\n"), std::nullopt);
    EXPECT_EQ(parseRouteGet("   route to: 1.1.1.1\n    gateway: 10.8.0.1\n"), std::nullopt);
}

TEST(RouteInterface, WholeDefaultRouteNeedsBothHalvesOnOneDevice) {
    const std::string physical = "default via 203.0.113.1 dev eth0 \n203.0.113.0/24 dev eth0 proto kernel scope link\n";
    const std::string tunnel = "0.0.0.0/1 via 192.0.2.129 dev tun0 \n128.0.0.0/1 via 192.0.2.129 dev tun0 \n";
    const struct {
        std::string output;
        std::optional<std::string> expected;
    } cases[] = {
        {physical, "eth0"},
        {physical + tunnel + "198.51.100.11 via 203.0.113.1 dev eth0\n", "tun0"},
        // Host routes through the tunnel while the default stays physical: not a tunnel.
        {physical + "1.1.1.1 via 192.0.2.129 dev tun0\n8.8.8.8 via 192.0.2.129 dev tun0\n", "eth0"},
        {physical + "0.0.0.0/1 via 192.0.2.129 dev tun0\n", std::nullopt},
        {physical + "0.0.0.0/1 dev tun0\n128.0.0.0/1 dev tun1\n", std::nullopt},
        {"default via 192.0.2.1 dev wlan0 metric 600\ndefault via 203.0.113.1 dev eth0 metric 100\n", "eth0"},
        {"default dev\n", std::nullopt},
        {"", std::nullopt},
    };
    for (const auto& c : cases) EXPECT_EQ(parseWholeDefaultRoute(c.output), c.expected) << c.output;
}

TEST(RouteInterface, AsksForTheMainTableAndNeverFails) {
    FakeToolRunner runner([](const ToolCall&) -> std::string {
        return "0.0.0.0/1 via 10.8.0.5 dev tun3\n128.0.0.0/1 via 10.8.0.5 dev tun3\n";
    });
    EXPECT_EQ(routeInterface(runner), "tun3");
    EXPECT_EQ(runner.calls.front(), (ToolCall{"/sbin/ip", {"-4", "route", "show", "table", "main"}, std::nullopt}));
    runner.setHandler([](const ToolCall&) -> std::string { throw ServiceFailure::rejected(kNetworkCommandFailed); });
    EXPECT_EQ(routeInterface(runner), std::nullopt);
    runner.setHandler([](const ToolCall&) -> std::string { throw std::system_error(ENOENT, std::generic_category()); });
    EXPECT_EQ(routeInterface(runner), std::nullopt);
}

}  // namespace
}  // namespace orlune
