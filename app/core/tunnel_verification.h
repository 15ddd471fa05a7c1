#pragma once

#include <QString>

#include <optional>

namespace orlune {

// The proof that a tunnel is up. The provider only returns it with every field filled; the
// model still checks each one.
struct TunnelVerification {
    bool isTunnelActive = false;
    std::optional<QString> vpnPublicIP;
    std::optional<QString> exitCountryCode;  // upper case
    std::optional<QString> tunnelInterface;
    QString profile;  // the profile the engine ran with (kept for a relay that leaves the list)

    friend bool operator==(const TunnelVerification&, const TunnelVerification&) = default;
};

}  // namespace orlune
