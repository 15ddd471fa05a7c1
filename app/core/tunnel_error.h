#pragma once

#include <exception>
#include <string>

namespace orlune {

// Every failure of the app's profile, connect and disconnect paths. Each value carries one
// user-facing sentence that can stand alone in the status line.
class TunnelError : public std::exception {
public:
    enum class Kind {
        countryMismatch,
        serverConnectionFailed,
        backendCommandFailed,
        noInternet,
        noCompatibleServer,
        providerDidNotVerify,
        serverConfigurationUnavailable,
        serverMissingFromFreshCatalog,
        serverProfileInvalid,
        unsafeServerConfiguration,
        backendUnavailable,
        originalIPUnavailable,
        tunnelRouteUnverified,
        physicalRouteNotRestored,
        internetUnverifiedAfterDisconnect,
        publicIPDidNotChange,
        vpnIPUnavailable,
        exitCountryUnavailable,
        disconnectNotConfirmed,
    };

    // Cases with values.
    static TunnelError countryMismatch(std::string expected, std::string actual);
    static TunnelError serverConnectionFailed(std::string text);
    static TunnelError backendCommandFailed(std::string text);
    // Plain cases; `kind` must not be one of the three above.
    explicit TunnelError(Kind kind);

    Kind kind() const noexcept { return kind_; }
    // For countryMismatch: the selected country and the exit country.
    const std::string& expected() const noexcept { return first_; }
    const std::string& actual() const noexcept { return second_; }
    // For serverConnectionFailed and backendCommandFailed: the supplied text.
    const std::string& text() const noexcept { return first_; }

    const std::string& errorDescription() const noexcept { return description_; }
    const char* what() const noexcept override { return description_.c_str(); }

    friend bool operator==(const TunnelError& a, const TunnelError& b) {
        return a.kind_ == b.kind_ && a.first_ == b.first_ && a.second_ == b.second_;
    }

private:
    TunnelError(Kind kind, std::string first, std::string second);

    Kind kind_;
    std::string first_;
    std::string second_;
    std::string description_;
};

}  // namespace orlune
