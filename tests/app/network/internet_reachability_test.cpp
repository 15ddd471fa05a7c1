#include "network/internet_reachability.h"

#include <QElapsedTimer>

#include <gtest/gtest.h>

#include "support/await.h"
#include "support/local_endpoints.h"
#include "support/test_https_server.h"

namespace orlune {
namespace {

using namespace std::chrono_literals;
using test::await;

class ReachabilityTest : public ::testing::Test {
protected:
    bool reachable() {
        return await(InternetReachability::isInternetReachable([] { return true; }));
    }

    test::TestHttpsServer server;
    test::ScopedEndpoints endpoints{test::endpointsOn(server)};
    // Generous for probes that answer (slow sanitizer builds, loaded CI machines); the hanging
    // probe's test shortens it.
    test::ScopedTimeouts timeouts{{.probe = 5000ms}};
};

TEST_F(ReachabilityTest, NoPhysicalLinkMeansNoRequest) {
    server.route("/generate_204", {.status = 204});
    EXPECT_FALSE(await(InternetReachability::isInternetReachable([] { return false; })));
    EXPECT_TRUE(server.requests().isEmpty());
}

TEST_F(ReachabilityTest, AnyOneProbeIsEnoughAndEveryProbeIsAsked) {
    server.route("/api/iphone/", {.status = 200, .body = "*vpn_servers"});
    EXPECT_TRUE(reachable());
    for (const char* path : {"/generate_204", "/cdn-cgi/trace", "/echo1/", "/api/iphone/"}) {
        EXPECT_EQ(server.requestCount(path), 1) << path;
    }
    EXPECT_EQ(server.requests().front().headers.value("cache-control"), "no-cache");
}

TEST_F(ReachabilityTest, RedirectCountsButClientAndServerErrorsDoNot) {
    const struct {
        int status;
        bool reachable;
    } cases[] = {{204, true}, {301, true}, {302, true}, {404, false}, {500, false}};
    for (const auto& c : cases) {
        server.route("/generate_204", {.status = c.status});
        EXPECT_EQ(reachable(), c.reachable) << c.status;
    }
}

TEST_F(ReachabilityTest, NothingAnsweringIsUnreachable) {
    test::ScopedEndpoints closed(test::closedLocalEndpoints());
    EXPECT_FALSE(reachable());
}

TEST_F(ReachabilityTest, OneHangingProbeDelaysTheAnswer) {
    server.route("/generate_204", {.status = 204});
    server.route("/echo1/", {.hang = true});
    test::ScopedTimeouts hangLimit({.probe = 1000ms});
    QElapsedTimer elapsed;
    elapsed.start();
    EXPECT_TRUE(reachable());
    // The answer waited for the hanging probe to give up (Qt's coarse timers may fire a
    // little early, hence the margin).
    EXPECT_GE(elapsed.elapsed(), 900);
    EXPECT_EQ(server.requestCount("/echo1/"), 1);
}

}  // namespace
}  // namespace orlune
