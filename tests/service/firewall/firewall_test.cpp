#include "firewall/firewall_block.h"

#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "core/service_failure.h"
#include "firewall/firewall_error.h"
#include "support/fake_tool_runner.h"

namespace orlune {
namespace {

namespace fs = std::filesystem;
using testing::FakeToolRunner;
using testing::ToolCall;

const RelayEndpoint kRelay{"198.51.100.11", "udp", 1194};

FirewallPolicy blocking(std::optional<RelayEndpoint> relay = kRelay) {
    return {
        .blockTraffic = true, .allowLocalNetwork = true, .blockIPv6 = false, .relay = std::move(relay), .tunnel = {}};
}
FirewallPolicy ipv6Only(std::optional<std::string> tunnel = {}) {
    return {
        .blockTraffic = false, .allowLocalNetwork = true, .blockIPv6 = true, .relay = {}, .tunnel = std::move(tunnel)};
}

bool has(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

TEST(FirewallRuleset, EachSettingLetsThroughExactlyItsTraffic) {
    struct Case {
        const char* name;
        FirewallPolicy policy;
        std::vector<std::string> present;
        std::vector<std::string> absent;
    };
    const std::vector<Case> cases{
        {"connecting, local network allowed",
         {.blockTraffic = true, .allowLocalNetwork = true, .blockIPv6 = false, .relay = kRelay, .tunnel = {}},
         {"ip daddr 198.51.100.11 udp dport 1194 accept", "udp sport 68 udp dport 67 accept", "ip daddr { 10.0.0.0/8",
          "ip6 daddr { fc00::/7", "ip6 daddr { fe80::/10, ff02::/16 } accept",
          "\t\tcounter reject with icmpx type admin-prohibited"},
         {"oifname \"tun"}},
        {"connected, no local network, IPv6 blocked",
         {.blockTraffic = true, .allowLocalNetwork = false, .blockIPv6 = true, .relay = kRelay, .tunnel = "tun0"},
         {"oifname \"tun0\" meta nfproto ipv4 accept", "ip daddr 198.51.100.11 udp dport 1194 accept"},
         {"10.0.0.0/8", "fc00::/7"}},
        {"between relays",
         {.blockTraffic = true, .allowLocalNetwork = true, .blockIPv6 = true, .relay = {}, .tunnel = {}},
         {"ip daddr { 10.0.0.0/8", "\t\tcounter reject"},
         {"dport 1194", "fc00::/7"}},
        {"IPv6 only, IPv4 untouched",
         {.blockTraffic = false, .allowLocalNetwork = true, .blockIPv6 = true, .relay = kRelay, .tunnel = "tun3"},
         {"meta nfproto ipv6 counter reject", "oifname \"tun3\" meta nfproto ipv4 accept"},
         {"dport 1194", "udp sport 68", "10.0.0.0/8", "\t\tcounter reject"}},
        {"IPv6 relay over TCP",
         {.blockTraffic = true,
          .allowLocalNetwork = true,
          .blockIPv6 = false,
          .relay = RelayEndpoint{"2001:db8::11", "tcp", 443},
          .tunnel = {}},
         {"ip6 daddr 2001:db8::11 tcp dport 443 accept"},
         {}},
    };
    for (const Case& c : cases) {
        const std::string rules = firewallRuleset(c.policy);
        EXPECT_TRUE(rules.starts_with("table inet orlune_vpn\ndelete table inet orlune_vpn\ntable inet orlune_vpn {\n"))
            << c.name;
        EXPECT_TRUE(has(rules, "type filter hook output priority filter - 10; policy accept;")) << c.name;
        EXPECT_TRUE(has(rules, "type filter hook forward priority filter - 10; policy accept;")) << c.name;
        EXPECT_TRUE(has(rules, "oifname \"lo\" accept")) << c.name;
        for (const auto& part : c.present) EXPECT_TRUE(has(rules, part)) << c.name << ": " << part << "\n" << rules;
        for (const auto& part : c.absent) EXPECT_FALSE(has(rules, part)) << c.name << ": " << part << "\n" << rules;
    }
}

TEST(FirewallRuleset, RefusesWhatCouldInjectRules) {
    for (const auto& relay : {RelayEndpoint{"198.51.100.11 accept", "udp", 1}, RelayEndpoint{"relay.example", "udp", 1},
                              RelayEndpoint{"198.51.100.11", "icmp", 1}, RelayEndpoint{"198.51.100.11", "udp", 0}}) {
        EXPECT_THROW(firewallRuleset(blocking(relay)), FirewallError) << relay.address;
    }
    EXPECT_THROW(firewallRuleset(ipv6Only("tun0\" accept")), FirewallError);
}

TEST(FirewallRuleset, RelayComesFromTheEngineConfiguration) {
    EXPECT_EQ(relayEndpoint("client\ndev tun\nproto udp4\nremote 198.51.100.11 1194\n"), kRelay);
    EXPECT_EQ(relayEndpoint("proto tcp4-client\nremote 198.51.100.12 443\n"),
              (RelayEndpoint{"198.51.100.12", "tcp", 443}));
    for (const char* bad : {"remote 198.51.100.11 1194\n", "proto udp4\nremote relay.example 1194\n",
                            "proto udp4\nremote 198.51.100.11 70000\n", "proto udp4\nremote 198.51.100.11\n"}) {
        EXPECT_FALSE(relayEndpoint(bad)) << bad;
    }
}

class FirewallBlockTest : public ::testing::Test {
protected:
    FirewallBlockTest() : directory_(::testing::TempDir() + "firewall-" + std::to_string(::getpid())) {
        fs::remove_all(directory_);
        fs::create_directories(directory_);
    }
    ~FirewallBlockTest() override { fs::remove_all(directory_); }
    fs::path record() const { return directory_ / "firewall.json"; }

    fs::path directory_;
    FakeToolRunner runner_{[](const ToolCall&) { return std::string(); }};
};

TEST_F(FirewallBlockTest, RecordsBeforeLoadingAndRemovesAfterLifting) {
    FirewallBlock block(runner_, record());
    bool recordedFirst = false;
    runner_.setHandler([&](const ToolCall& call) {
        recordedFirst = fs::exists(record());
        EXPECT_EQ(call.executable, "/usr/sbin/nft");
        EXPECT_EQ(call.arguments, (std::vector<std::string>{"-f", "-"}));
        return std::string();
    });
    block.raise(blocking());
    EXPECT_TRUE(recordedFirst);
    block.lift();
    EXPECT_FALSE(fs::exists(record()));
    ASSERT_EQ(runner_.calls.size(), 2u);
    EXPECT_EQ(runner_.calls[1].input, firewallRemoval());
    block.lift();  // nothing recorded: nothing to run
    EXPECT_EQ(runner_.calls.size(), 2u);
}

TEST_F(FirewallBlockTest, FailuresKeepTheRecordSoALaterStartRemovesTheTable) {
    runner_.setHandler([](const ToolCall&) -> std::string { throw ServiceFailure::rejected(kNetworkCommandFailed); });
    {
        FirewallBlock crashed(runner_, record());
        EXPECT_THROW(crashed.raise(ipv6Only()), FirewallError);
        EXPECT_THROW(crashed.lift(), FirewallError);
        EXPECT_TRUE(fs::exists(record()));
    }
    runner_.setHandler([](const ToolCall&) { return std::string(); });
    FirewallBlock restarted(runner_, record());
    restarted.lift();
    EXPECT_EQ(runner_.calls.back().input, firewallRemoval());
    EXPECT_FALSE(fs::exists(record()));
}

}  // namespace
}  // namespace orlune
