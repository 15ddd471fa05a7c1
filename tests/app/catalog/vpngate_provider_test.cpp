#include "catalog/vpngate_provider.h"

#include <gtest/gtest.h>

#include "catalog/catalog_error.h"
#include "core/tunnel_error.h"
#include "network/http.h"
#include "support/await.h"
#include "support/catalog_fixtures.h"
#include "support/local_endpoints.h"
#include "support/test_https_server.h"

namespace orlune {
namespace {

using test::await;

class VPNGateProviderTest : public ::testing::Test {
protected:
    test::TestHttpsServer server;
    test::ScopedEndpoints endpoints{test::endpointsOn(server)};
    VPNGateProvider provider;
};

TEST_F(VPNGateProviderTest, FetchesAndRanksTheRealCapture) {
    server.route("/api/iphone/", {.body = test::readSample("vpngate_api_iphone_2025-09-27.csv")});
    const std::vector<Relay> relays = await(provider.fetch());
    EXPECT_EQ(relays.size(), 97u);
    ASSERT_EQ(server.requests().size(), 1);
    EXPECT_EQ(server.requests()[0].headers.value("user-agent"), "Orlune-VPN/0.2 (Linux server catalog)");
    EXPECT_EQ(provider.name(), "VPN Gate");
}

TEST_F(VPNGateProviderTest, ErrorAnswersAreInvalidAndUnreachableIsATransportError) {
    const test::TestResponse answers[] = {
        {.status = 200, .body = test::readSample("vpngate_api_error_2026-08-21.txt")},
        {.status = 503, .body = test::catalogBody({test::catalogLine({})})},
        {.status = 301},
    };
    for (const test::TestResponse& answer : answers) {
        server.route("/api/iphone/", answer);
        EXPECT_THROW(await(provider.fetch()), CatalogError) << answer.status;
    }
    test::ScopedEndpoints closed(test::closedLocalEndpoints());
    EXPECT_THROW(await(provider.fetch()), TransportError);
}

TEST_F(VPNGateProviderTest, SilentServerTimesOutAsATransportError) {
    using namespace std::chrono_literals;
    test::ScopedTimeouts quick({.catalog = 100ms});
    server.route("/api/iphone/", {.hang = true});
    try {
        await(provider.fetch());
        ADD_FAILURE() << "no error";
    } catch (const TransportError& error) {
        EXPECT_EQ(error.code(), QNetworkReply::TimeoutError);
        EXPECT_STREQ(error.what(), "The request timed out.");
    }
}

TEST_F(VPNGateProviderTest, ProfileComesFromAListOfTheLastTwoMinutesElseAFreshDownload) {
    auto access = std::make_shared<CatalogAccess>();
    QDateTime now = QDateTime::currentDateTimeUtc();
    access->clock = access->steadyClock = [&now] { return now; };
    VPNGateProvider fresh(access);
    const test::CatalogRow row;
    server.route("/api/iphone/", {.body = test::catalogBody({test::catalogLine(row)})});
    const Relay relay = test::relayFor(row);
    const QString first = await(fresh.openVPNConfiguration(relay));
    EXPECT_TRUE(first.contains("remote 203.0.113.7 1194\n"));
    EXPECT_TRUE(first.endsWith("ping-exit 60\n"));

    // The relay left the list meanwhile: the list of the last two minutes still serves, also
    // once it is held compressed.
    server.route("/api/iphone/", {.body = test::catalogBody({})});
    access->holdRecentListCompressed();
    now = now.addSecs(CatalogAccess::kRecentListSeconds);
    EXPECT_EQ(await(fresh.openVPNConfiguration(relay)), first);
    EXPECT_EQ(server.requestCount("/api/iphone/"), 1);
    now = now.addSecs(1);
    try {
        await(fresh.openVPNConfiguration(relay));
        ADD_FAILURE() << "no error";
    } catch (const TunnelError& error) {
        EXPECT_EQ(error.kind(), TunnelError::Kind::serverMissingFromFreshCatalog);
    }
    EXPECT_EQ(server.requestCount("/api/iphone/"), 2);
    EXPECT_EQ(server.requests()[1].headers.value("user-agent"), "Orlune-VPN/0.3 (OpenVPN configuration request)");

    server.route("/api/iphone/", {.status = 404});
    try {
        await(fresh.openVPNConfiguration(relay));
        ADD_FAILURE() << "no error";
    } catch (const TunnelError& error) {
        EXPECT_EQ(error.kind(), TunnelError::Kind::serverConfigurationUnavailable);
    }
}

}  // namespace
}  // namespace orlune
