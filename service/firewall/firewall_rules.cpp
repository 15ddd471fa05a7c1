#include "firewall/firewall_rules.h"

#include <arpa/inet.h>

#include <algorithm>
#include <charconv>
#include <vector>

#include "firewall/firewall_error.h"

namespace orlune {
namespace {

// Local-network destinations: private and link-local ranges, local multicast and broadcast.
constexpr const char* kLocalIPv4 =
    "{ 10.0.0.0/8, 172.16.0.0/12, 192.168.0.0/16, 169.254.0.0/16, 224.0.0.0/24, 239.0.0.0/8, 255.255.255.255 }";
constexpr const char* kLocalIPv6 = "{ fc00::/7, ff05::/16 }";
// Link-local IPv6 (neighbour discovery, DHCPv6, router solicitation) never leaves the link.
constexpr const char* kLinkLocalIPv6 = "{ fe80::/10, ff02::/16 }";
constexpr const char* kReject = "counter reject with icmpx type admin-prohibited";

bool isIPv4(const std::string& text) {
    in_addr address{};
    return ::inet_pton(AF_INET, text.c_str(), &address) == 1;
}

bool isIPv6(const std::string& text) {
    in6_addr address{};
    return ::inet_pton(AF_INET6, text.c_str(), &address) == 1;
}

bool isInterfaceName(const std::string& name) {
    return !name.empty() && name.size() < 16 && std::all_of(name.begin(), name.end(), [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' || c == '.' ||
               c == '-';
    });
}

std::string table() {
    return std::string(kFirewallFamily) + " " + std::string(kFirewallTable);
}

// The rules one chain applies to what leaves (output) or passes through (forward).
std::vector<std::string> chainRules(const FirewallPolicy& policy) {
    std::vector<std::string> rules{"oifname \"lo\" accept"};
    if (policy.tunnel) {
        rules.push_back("oifname \"" + *policy.tunnel + "\"" + (policy.blockIPv6 ? " meta nfproto ipv4" : "") +
                        " accept");
    }
    if (policy.relay && policy.blockTraffic) {
        const RelayEndpoint& relay = *policy.relay;
        rules.push_back(std::string(isIPv4(relay.address) ? "ip" : "ip6") + " daddr " + relay.address + " " +
                        relay.protocol + " dport " + std::to_string(relay.port) + " accept");
    }
    rules.push_back(std::string("ip6 daddr ") + kLinkLocalIPv6 + " accept");
    if (policy.blockTraffic) {
        rules.push_back("udp sport 68 udp dport 67 accept");
        if (policy.allowLocalNetwork) {
            rules.push_back(std::string("ip daddr ") + kLocalIPv4 + " accept");
            if (!policy.blockIPv6) rules.push_back(std::string("ip6 daddr ") + kLocalIPv6 + " accept");
        }
        rules.push_back(kReject);
    } else {
        rules.push_back(std::string("meta nfproto ipv6 ") + kReject);
    }
    return rules;
}

void appendChain(std::string& out, const char* name, const std::vector<std::string>& rules) {
    out += "\tchain ";
    out += name;
    out += " {\n\t\ttype filter hook ";
    out += name;
    // Before the usual filter tables, so no accept elsewhere is reached first; a drop in any
    // base chain wins either way.
    out += " priority filter - 10; policy accept;\n";
    for (const std::string& rule : rules) out += "\t\t" + rule + "\n";
    out += "\t}\n";
}

}  // namespace

std::string firewallRuleset(const FirewallPolicy& policy) {
    if (policy.relay) {
        const RelayEndpoint& relay = *policy.relay;
        if (!(isIPv4(relay.address) || isIPv6(relay.address)) || (relay.protocol != "udp" && relay.protocol != "tcp") ||
            relay.port == 0) {
            throw FirewallError::invalidRule();
        }
    }
    if (policy.tunnel && !isInterfaceName(*policy.tunnel)) throw FirewallError::invalidRule();

    // Declaring the table first makes the delete succeed when there is none; the whole script
    // is one transaction, so the old table is replaced without a moment of either none or both.
    std::string out = "table " + table() + "\ndelete table " + table() + "\ntable " + table() + " {\n";
    const std::vector<std::string> rules = chainRules(policy);
    appendChain(out, "output", rules);
    appendChain(out, "forward", rules);
    out += "}\n";
    return out;
}

std::string firewallRemoval() {
    return "table " + table() + "\ndelete table " + table() + "\n";
}

std::optional<RelayEndpoint> relayEndpoint(std::string_view configuration) {
    std::optional<std::string> protocol;
    std::optional<RelayEndpoint> relay;
    while (!configuration.empty()) {
        const auto end = configuration.find('\n');
        const std::string_view line = configuration.substr(0, end);
        configuration.remove_prefix(end == std::string_view::npos ? configuration.size() : end + 1);
        if (line.starts_with("proto ")) {
            const std::string_view name = line.substr(6);
            if (name.starts_with("udp")) protocol = "udp";
            if (name.starts_with("tcp")) protocol = "tcp";
        } else if (line.starts_with("remote ") && !relay) {
            const std::string_view rest = line.substr(7);
            const auto space = rest.find(' ');
            if (space == std::string_view::npos) return std::nullopt;
            const std::string address(rest.substr(0, space));
            const std::string_view portText = rest.substr(space + 1);
            unsigned port = 0;
            const auto [stop, error] = std::from_chars(portText.data(), portText.data() + portText.size(), port);
            if (error != std::errc() || stop != portText.data() + portText.size() || port == 0 || port > 65535 ||
                !(isIPv4(address) || isIPv6(address))) {
                return std::nullopt;
            }
            relay = RelayEndpoint{address, "", static_cast<std::uint16_t>(port)};
        }
    }
    if (!relay || !protocol) return std::nullopt;
    relay->protocol = *protocol;
    return relay;
}

}  // namespace orlune
