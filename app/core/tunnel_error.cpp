#include "core/tunnel_error.h"

#include <stdexcept>
#include <utility>

#include "texts/platform_texts.h"

namespace orlune {
namespace {

std::string fixedDescription(TunnelError::Kind kind) {
    using Kind = TunnelError::Kind;
    switch (kind) {
    case Kind::noInternet:
        return "No Internet Connection. Connect to the internet, refresh the server catalog, and retry.";
    case Kind::noCompatibleServer:
        return "No currently listed server has an OpenVPN configuration. Refresh the catalog or choose "
               "another provider.";
    case Kind::providerDidNotVerify:
        return "The tunnel provider did not confirm an active tunnel and a changed public IP. The app "
               "remains disconnected.";
    case Kind::serverConfigurationUnavailable:
        return "This live server no longer provides a usable OpenVPN profile. It will be marked failed.";
    case Kind::serverMissingFromFreshCatalog:
        return "This relay disappeared from the provider's fresh catalog before its profile was fetched. "
               "It was skipped.";
    case Kind::serverProfileInvalid:
        return "The relay's published OpenVPN profile was invalid or could not be decoded. It was skipped.";
    case Kind::unsafeServerConfiguration:
        return "The server profile was rejected because its contents or endpoint could not be safely "
               "verified.";
    case Kind::backendUnavailable:
        return std::string(kPlatformTexts.setupRequired);
    case Kind::originalIPUnavailable:
        return "Could not read the original public IP. Connection was not started.";
    case Kind::tunnelRouteUnverified:
        return "The VPN engine reported a connection, but the OpenVPN process or tunnel route could not "
               "be verified.";
    case Kind::physicalRouteNotRestored:
        return std::string(kPlatformTexts.physicalRouteNotRestored);
    case Kind::internetUnverifiedAfterDisconnect:
        return "The default route returned to Wi-Fi/Ethernet, but independent internet checks failed. No "
               "other relay was attempted; check the physical network and retry.";
    case Kind::publicIPDidNotChange:
        return "The tunnel did not produce a different public IP. The app remains disconnected.";
    case Kind::vpnIPUnavailable:
        return "The tunnel route is active, but the VPN public IP could not be verified.";
    case Kind::exitCountryUnavailable:
        return "The VPN tunnel is active, but the public IP country lookup did not return a verifiable "
               "country code.";
    case Kind::disconnectNotConfirmed:
        return "The VPN service did not confirm that the connection stopped.";
    case Kind::countryMismatch:
    case Kind::serverConnectionFailed:
    case Kind::backendCommandFailed:
        break;
    }
    throw std::invalid_argument("TunnelError: this case needs its values");
}

}  // namespace

TunnelError::TunnelError(Kind kind) : kind_(kind), description_(fixedDescription(kind)) {}

TunnelError::TunnelError(Kind kind, std::string first, std::string second)
    : kind_(kind), first_(std::move(first)), second_(std::move(second)) {}

TunnelError TunnelError::countryMismatch(std::string expected, std::string actual) {
    TunnelError error(Kind::countryMismatch, std::move(expected), std::move(actual));
    error.description_ = "The VPN exit country was " + error.second_ + ", but " + error.first_ +
                         " was selected. The relay was disconnected and marked mismatched.";
    return error;
}

TunnelError TunnelError::serverConnectionFailed(std::string text) {
    TunnelError error(Kind::serverConnectionFailed, std::move(text), {});
    error.description_ = error.first_;
    return error;
}

TunnelError TunnelError::backendCommandFailed(std::string text) {
    TunnelError error(Kind::backendCommandFailed, std::move(text), {});
    error.description_ = error.first_;
    return error;
}

}  // namespace orlune
