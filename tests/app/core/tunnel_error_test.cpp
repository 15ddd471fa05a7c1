#include "core/tunnel_error.h"

#include <set>
#include <stdexcept>

#include <gtest/gtest.h>

namespace orlune {
namespace {

using Kind = TunnelError::Kind;

TEST(TunnelError, CountryMismatchNamesTheExitCountryFirst) {
    const auto error = TunnelError::countryMismatch("JP", "KR");
    EXPECT_STREQ(error.what(),
                 "The VPN exit country was KR, but JP was selected. The relay was disconnected and marked mismatched.");
    EXPECT_EQ(error.expected(), "JP");
    EXPECT_EQ(error.actual(), "KR");
}

TEST(TunnelError, TextCasesDescribeThemselvesWithTheirText) {
    EXPECT_EQ(TunnelError::serverConnectionFailed("").errorDescription(), "");
    EXPECT_EQ(TunnelError::backendCommandFailed("Unauthorized local client.").errorDescription(),
              "Unauthorized local client.");
    EXPECT_NE(TunnelError::serverConnectionFailed("x"), TunnelError::backendCommandFailed("x"));
}

TEST(TunnelError, PlainCasesHaveDistinctSentencesWithLinuxWording) {
    const Kind plain[] = {Kind::noInternet,
                          Kind::noCompatibleServer,
                          Kind::providerDidNotVerify,
                          Kind::serverConfigurationUnavailable,
                          Kind::serverMissingFromFreshCatalog,
                          Kind::serverProfileInvalid,
                          Kind::unsafeServerConfiguration,
                          Kind::backendUnavailable,
                          Kind::originalIPUnavailable,
                          Kind::tunnelRouteUnverified,
                          Kind::physicalRouteNotRestored,
                          Kind::internetUnverifiedAfterDisconnect,
                          Kind::publicIPDidNotChange,
                          Kind::vpnIPUnavailable,
                          Kind::exitCountryUnavailable,
                          Kind::disconnectNotConfirmed};
    std::set<std::string> seen;
    for (Kind kind : plain) {
        const TunnelError error(kind);
        EXPECT_EQ(error.kind(), kind);
        EXPECT_FALSE(error.errorDescription().empty());
        EXPECT_EQ(error.errorDescription().find("macOS"), std::string::npos) << error.what();
        EXPECT_EQ(error.errorDescription().find(".pkg"), std::string::npos) << error.what();
        seen.insert(error.errorDescription());
    }
    EXPECT_EQ(seen.size(), std::size(plain));
    EXPECT_EQ(TunnelError(Kind::backendUnavailable).errorDescription(),
              "One-time setup is required. Install the Orlune VPN package (.deb) with administrator rights. After "
              "setup, Connect and Disconnect do not need an administrator password.");
    EXPECT_EQ(TunnelError(Kind::physicalRouteNotRestored).errorDescription(),
              "The VPN stopped, but the system did not restore the default route to Wi-Fi/Ethernet within 15 "
              "seconds. No other relay was attempted.");
}

TEST(TunnelError, CasesWithValuesCannotBeBuiltWithoutThem) {
    EXPECT_THROW(TunnelError{Kind::countryMismatch}, std::invalid_argument);
    EXPECT_THROW(TunnelError{Kind::serverConnectionFailed}, std::invalid_argument);
}

}  // namespace
}  // namespace orlune
