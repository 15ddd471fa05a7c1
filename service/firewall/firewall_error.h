#pragma once

#include <string>

#include "core/service_failure.h"

namespace orlune {

// The leak block's failures: each case is one sentence a user can act on, sent to the client as
// any other service failure is. Paths, tool output and system error numbers never reach it.
class FirewallError : public ServiceFailure {
public:
    // The table could not be loaded (nft missing, refused the rules, or the record failed).
    static FirewallError notRaised() {
        return FirewallError(
            "Traffic outside the VPN could not be blocked, so no connection was started. Check that the nftables "
            "package is installed, or turn off \"Block traffic outside the VPN\" and \"Block IPv6 while connected\".");
    }
    // The table is still there; the record stays, so the next stop or start removes it.
    static FirewallError notLifted() {
        return FirewallError(
            "The VPN stopped, but the block on traffic outside the VPN could not be lifted yet. Restart the "
            "orlune-vpn service to restore normal networking.");
    }
    // Input the rules cannot carry (a relay or interface name of the wrong form).
    static FirewallError invalidRule() {
        return FirewallError("The relay's address or tunnel interface cannot be used in the traffic block.");
    }

private:
    explicit FirewallError(std::string sentence) : ServiceFailure(std::move(sentence), {}) {}
};

}  // namespace orlune
