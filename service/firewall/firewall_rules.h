#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace orlune {

// The one table the service owns. Nothing else in the system's firewall is ever read or changed.
inline constexpr std::string_view kFirewallFamily = "inet";
inline constexpr std::string_view kFirewallTable = "orlune_vpn";

// The relay the engine talks to: the only address outside the tunnel that stays reachable.
struct RelayEndpoint {
    std::string address;   // an IPv4 or IPv6 address, as the engine's configuration names it
    std::string protocol;  // "udp" or "tcp"
    std::uint16_t port = 0;

    friend bool operator==(const RelayEndpoint&, const RelayEndpoint&) = default;
};

// What the table lets through.
struct FirewallPolicy {
    // Nothing leaves except loopback, DHCP, the relay and the tunnel (and the local network when
    // allowed).
    bool blockTraffic = false;
    bool allowLocalNetwork = true;
    // No IPv6 leaves except loopback and link-local, also not through the tunnel.
    bool blockIPv6 = false;
    std::optional<RelayEndpoint> relay;
    // The tunnel's interface, once the engine has it up.
    std::optional<std::string> tunnel;

    bool blocksAnything() const { return blockTraffic || blockIPv6; }
    friend bool operator==(const FirewallPolicy&, const FirewallPolicy&) = default;
};

// The nft script that replaces our table, as one transaction, by one for `policy`. Addresses
// and names must have passed relayEndpoint() or the interface check; others throw FirewallError.
std::string firewallRuleset(const FirewallPolicy& policy);
// The nft script that removes our table; it succeeds also when the table is already gone.
std::string firewallRemoval();

// The relay of an engine configuration the service built ("proto" and "remote" lines); none
// when the configuration names no usable one.
std::optional<RelayEndpoint> relayEndpoint(std::string_view configuration);

}  // namespace orlune
