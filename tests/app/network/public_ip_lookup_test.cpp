#include "network/public_ip_lookup.h"

#include <QSet>

#include <gtest/gtest.h>

#include "core/tunnel_error.h"
#include "support/await.h"
#include "support/local_endpoints.h"
#include "support/test_https_server.h"

namespace orlune {
namespace {

using namespace std::chrono_literals;
using test::await;

TEST(PublicIPAnswer, TraceAndPlainFormats) {
    const struct {
        QByteArray body;
        std::optional<QString> address;
    } cases[] = {
        {"fl=12\nh=1.1.1.1\nip=203.0.113.9\nts=1.2\n", "203.0.113.9"},
        {"fl=12\r\nip=203.0.113.9\r\nts=1.2\r\n", "203.0.113.9"},
        {"fl=12\nip=2001:db8::1\nts=1.2\n", std::nullopt},
        {"203.0.113.9\n", "203.0.113.9"},
        {"  203.0.113.9  ", "203.0.113.9"},
        {"203.0.113.9 is your address", std::nullopt},
        {"<html><body>203.0.113.9</body></html>", std::nullopt},
        {"2001:db8::1", std::nullopt},
        {"203.0.113", std::nullopt},
        {"203.0.113.256", std::nullopt},
        {"", std::nullopt},
        {"\xff\xfe", std::nullopt},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(PublicIPLookup::addressFromBody(c.body), c.address) << c.body.toStdString();
    }
}

class PublicIPLookupTest : public ::testing::Test {
protected:
    test::TestHttpsServer server;
    test::ScopedEndpoints endpoints{test::endpointsOn(server)};
    test::ScopedTimeouts timeouts{{.publicIP = 2000ms}};
};

TEST_F(PublicIPLookupTest, FastFourthEndpointBeatsASlowFirstAndTheRestAreCancelled) {
    server.route("/cdn-cgi/trace", {.body = "ip=198.51.100.1\n", .delay = 1500ms});
    server.route("/echo1/", {.body = "<html>nope</html>"});
    server.route("/echo2/", {.status = 301});
    server.route("/ip", {.body = "203.0.113.9\n"});
    EXPECT_EQ(await(PublicIPLookup::current()), "203.0.113.9");
    // Every lookup's connection is dropped by the client at once: the slow one is cancelled,
    // not left waiting for its answer 1.5 s later.
    EXPECT_TRUE(test::waitUntil([&] { return server.closedConnections().size() == server.connectionCount(); }, 1000ms));
    EXPECT_LE(server.requestCount("/cdn-cgi/trace"), 1);
}

TEST_F(PublicIPLookupTest, ASlowOnlyAnswerIsStillTaken) {
    server.route("/cdn-cgi/trace", {.body = "fl=1\nip=198.51.100.1\n", .delay = 200ms});
    EXPECT_EQ(await(PublicIPLookup::current()), "198.51.100.1");
}

TEST_F(PublicIPLookupTest, NoValidAnswerIsVpnIPUnavailable) {
    server.route("/cdn-cgi/trace", {.body = "ip=2001:db8::1\n"});
    server.route("/echo1/", {.status = 500, .body = "203.0.113.9"});
    server.route("/ip", {.hang = true});
    test::ScopedTimeouts quick({.publicIP = 200ms});
    try {
        await(PublicIPLookup::current());
        ADD_FAILURE() << "no error";
    } catch (const TunnelError& error) {
        EXPECT_EQ(error.kind(), TunnelError::Kind::vpnIPUnavailable);
    }
    test::ScopedEndpoints closed(test::closedLocalEndpoints());
    EXPECT_THROW(await(PublicIPLookup::current()), TunnelError);
}

TEST_F(PublicIPLookupTest, LookupsNeverShareAConnection) {
    for (const char* path : {"/cdn-cgi/trace", "/echo1/", "/echo2/", "/ip"}) {
        server.route(path, {.body = "203.0.113.9", .delay = 20ms});
    }
    EXPECT_EQ(await(PublicIPLookup::current()), "203.0.113.9");
    EXPECT_EQ(await(PublicIPLookup::current()), "203.0.113.9");
    QSet<int> connections;
    for (const auto& request : server.requests()) {
        EXPECT_FALSE(connections.contains(request.connection)) << request.path.toStdString();
        connections.insert(request.connection);
    }
    EXPECT_GE(connections.size(), 2);
}

}  // namespace
}  // namespace orlune
