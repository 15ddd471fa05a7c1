#include <gtest/gtest.h>

#include "core/tunnel_error.h"
#include "network/http.h"
#include "support/await.h"
#include "support/local_endpoints.h"
#include "support/test_https_server.h"
#include "tunnel/exit_country_lookup.h"
#include "tunnel/route_lookup.h"

namespace orlune {
namespace {

using test::await;

TEST(RouteCheck, DeviceOfTheRouteDecidesWhetherItIsPhysical) {
    const struct {
        QByteArray output;
        std::optional<QString> interface;
        bool physical;
    } cases[] = {
        {"1.1.1.1 via 192.0.2.1 dev eth0 src 192.0.2.10 uid 1000 \n    cache \n", "eth0", true},
        {"1.1.1.1 via 10.8.0.1 dev tun0 table 51820 src 10.8.0.6 uid 0 \n    cache \n", "tun0", false},
        {"1.1.1.1 dev enp3s0 src 10.0.0.2\n", "enp3s0", true},
        {"1.1.1.1 via 10.0.0.1 dev wlp2s0 src 10.0.0.2\n", "wlp2s0", true},
        {"1.1.1.1 via 10.0.0.1 dev br0 src 10.0.0.2\n", "br0", true},
        {"1.1.1.1 via 10.0.0.1 dev veth12 src 10.0.0.2\n", "veth12", false},
        {"1.1.1.1 via 10.0.0.1 dev\n", std::nullopt, false},
        {"", std::nullopt, false},
        {"1.1.1.1 dev \xff\xfe\n", std::nullopt, false},
    };
    for (const auto& c : cases) {
        const auto interface = interfaceFromIpRouteOutput(c.output);
        EXPECT_EQ(interface, c.interface) << c.output.toStdString();
        EXPECT_EQ(isPhysicalRouteInterface(interface), c.physical) << c.output.toStdString();
    }
}

class ExitCountryTest : public ::testing::Test {
protected:
    TunnelError::Kind failure() {
        try {
            await(ExitCountryLookup::countryCode("203.0.113.9"));
        } catch (const TunnelError& error) {
            return error.kind();
        }
        ADD_FAILURE() << "no error";
        return TunnelError::Kind::noInternet;
    }

    test::TestHttpsServer server;
    test::ScopedEndpoints endpoints{test::endpointsOn(server)};
};

TEST_F(ExitCountryTest, TwoLettersInAnyCaseAreTheCountry) {
    server.route("/info/203.0.113.9/country", {.body = "us\n"});
    EXPECT_EQ(await(ExitCountryLookup::countryCode("203.0.113.9")), "US");
    server.route("/info/203.0.113.9/country", {.body = " Jp \r\n"});
    EXPECT_EQ(await(ExitCountryLookup::countryCode("203.0.113.9")), "JP");
}

TEST_F(ExitCountryTest, AnythingElseIsUnavailable) {
    const test::TestResponse answers[] = {
        {.body = "USA"},
        {.body = "u1"},
        {.body = ""},
        {.body = "u s"},
        {.body = "{\"country\":\"US\"}"},
        {.status = 429, .body = "US"},
        {.status = 301},
    };
    for (const auto& answer : answers) {
        server.route("/info/203.0.113.9/country", answer);
        EXPECT_EQ(failure(), TunnelError::Kind::exitCountryUnavailable) << answer.body.toStdString();
    }
}

TEST_F(ExitCountryTest, NoAnswerIsATransportError) {
    test::ScopedEndpoints closed(test::closedLocalEndpoints());
    EXPECT_THROW(await(ExitCountryLookup::countryCode("203.0.113.9")), TransportError);
}

}  // namespace
}  // namespace orlune
