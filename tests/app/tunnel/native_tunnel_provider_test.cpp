#include "tunnel/native_tunnel_provider.h"

#include <QTemporaryDir>

#include <qcoro/qcorotimer.h>

#include <atomic>
#include <fstream>
#include <thread>

#include <gtest/gtest.h>

#include "control/wire_failure.h"
#include "core/cancellation_error.h"
#include "core/tunnel_error.h"
#include "fake_control_service.h"
#include "support/await.h"
#include "support/catalog_fixtures.h"
#include "support/local_endpoints.h"
#include "support/test_https_server.h"
#include "tunnel/tunnel_holder.h"

namespace orlune {
namespace {

using namespace std::chrono_literals;
using test::await;
using test::reply;
using Kind = TunnelError::Kind;

constexpr const char* kOriginalIP = "192.0.2.50";
constexpr const char* kTunnelIP = "198.51.100.20";

// Route answers in turn; the last one repeats.
struct RouteScript : RouteLookup {
    std::vector<std::optional<QString>> answers{QStringLiteral("eth0")};
    std::size_t calls = 0;
    std::optional<QString> interfaceTowardsInternet() override {
        return answers[std::min(calls++, answers.size() - 1)];
    }
    std::optional<QString> defaultRoute{QStringLiteral("tun0")};
    std::optional<QString> interfaceCarryingDefaultRoute() override { return defaultRoute; }
};

// A service that stops on request, starts on "connect" and reports the tunnel up on tun0
// after `pollsUntilConnected` status requests.
struct ServiceScript {
    int pollsUntilConnected = 2;
    NativeReply connected = reply(true, NativeState::connected, "", "tun0");
    int polls = 0;
    NativeReply operator()(const NativeRequest& request) {
        if (request.operation == NativeOperation::disconnect) return reply(true, NativeState::stopped);
        if (request.operation == NativeOperation::connect) return reply(true, NativeState::connecting);
        return ++polls > pollsUntilConnected ? connected : reply(true, NativeState::connecting);
    }
};

void expectCancellation(const std::exception_ptr& outcome) {
    ASSERT_TRUE(outcome);
    try {
        std::rethrow_exception(outcome);
    } catch (const CancellationError&) {
    } catch (const std::exception& other) {
        ADD_FAILURE() << "unexpected: " << other.what();
    }
}

class NativeTunnelProviderTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(directory.isValid());
        server.route("/api/iphone/", {.body = test::catalogBody({test::catalogLine(row)})});
        for (const char* path : {"/cdn-cgi/trace", "/echo1/", "/echo2/", "/ip"})
            server.route(path, {.body = kTunnelIP});
        server.route(QStringLiteral("/info/%1/country").arg(kTunnelIP), {.body = "jp\n"});
    }

    NativeTunnelProvider& provider() {
        if (!provider_) {
            auto lookup = std::make_unique<RouteScript>();
            route = lookup.get();
            provider_ = std::make_unique<NativeTunnelProvider>(NativeTunnelProvider::Dependencies{
                .socketPath = socketPath,
                .routeLookup = std::move(lookup),
                .internetReachable = [this]() -> QCoro::Task<bool> {
                    ++reachabilityChecks;
                    co_return internetReachable;
                },
                .interfaceExists = [this](const QString&) { return tunnelInterfacePresent; },
                .timings = timings,
                .clock = {.now = [this] { return now; },
                          .sleep = [this](std::chrono::milliseconds duration) -> QCoro::Task<> {
                              now += duration;
                              co_return;
                          }},
                .catalogAccess = nullptr,
            });
        }
        return *provider_;
    }

    void startService(test::FakeControlService::Handler handler) {
        service = std::make_unique<test::FakeControlService>(socketPath, std::move(handler));
    }

    QCoro::Task<TunnelVerification> connect(std::optional<QString> originalIP = QString(kOriginalIP)) {
        return provider().connect(relay, std::move(originalIP), [this](const QString& line) { progress.append(line); });
    }

    template <class Task>
    Kind tunnelFailure(Task task) {
        try {
            await(std::move(task));
        } catch (const TunnelError& error) {
            lastError = error.errorDescription();
            return error.kind();
        }
        ADD_FAILURE() << "no tunnel error";
        return Kind::noInternet;
    }

    QTemporaryDir directory;
    std::string socketPath = directory.filePath("control.sock").toStdString();
    test::TestHttpsServer server;
    test::ScopedEndpoints endpoints{test::endpointsOn(server)};
    test::CatalogRow row{.code = "jp"};
    Relay relay = test::relayFor(row);
    std::unique_ptr<test::FakeControlService> service;
    // The provider's clock moves only by its own pauses, so a deadline is a number of looks
    // (here 600 and 400), however slow the build.
    TunnelTimings timings{.confirmationDeadline = 3000ms,
                          .statusInterval = 5ms,
                          .restoreDeadline = 2000ms,
                          .routeInterval = 5ms,
                          .fastStatusInterval = 5ms};
    std::chrono::steady_clock::time_point now;
    RouteScript* route = nullptr;
    bool internetReachable = true;
    bool tunnelInterfacePresent = false;
    int reachabilityChecks = 0;
    QStringList progress;
    std::string lastError;

private:
    std::unique_ptr<NativeTunnelProvider> provider_;
};

TEST_F(NativeTunnelProviderTest, ConnectProvesTheTunnelAndReportsEachStep) {
    startService(ServiceScript{});
    const TunnelVerification verification = await(connect());
    EXPECT_EQ(verification,
              (TunnelVerification{true, QString(kTunnelIP), QString("JP"), QString("tun0"), verification.profile}));
    EXPECT_EQ(provider().activeInterface(), "tun0");
    EXPECT_EQ(progress, (QStringList{"Fetching a fresh VPN Gate profile…", "Starting the built-in VPN…",
                                     "Verifying VPN route and IPv4 address…", "Verifying VPN exit country…"}));
    const auto requests = service->requests();
    EXPECT_EQ(service->operations(),
              (std::vector<std::string>{"disconnect", "connect", "status", "status", "status", "status"}));
    ASSERT_GE(requests.size(), 2u);
    EXPECT_EQ(requests[1].expectedHost, "203.0.113.7");
    ASSERT_TRUE(requests[1].profile);
    EXPECT_NE(requests[1].profile->find("remote 203.0.113.7 1194\n"), std::string::npos);
    EXPECT_NE(requests[1].profile->find("ping-exit 60\n"), std::string::npos);
    EXPECT_EQ(verification.profile.toStdString(), *requests[1].profile);  // kept for when the relay leaves the list
    EXPECT_TRUE(await(provider().isTunnelActive()));
}

TEST_F(NativeTunnelProviderTest, TheBlockIsAskedForKeptBetweenRelaysAndLiftedOnlyByTheUsersStop) {
    bool blocking = false;
    bool serviceKnowsBlocks = true;
    startService([&](const NativeRequest& request) {
        if (request.operation == NativeOperation::connect) blocking = serviceKnowsBlocks && request.blockTraffic;
        if (request.operation == NativeOperation::disconnect && !request.keepBlocking) blocking = false;
        NativeReply answer = ServiceScript{.pollsUntilConnected = 0}(request);
        answer.blockingTraffic = answer.blockingIPv6 = blocking;
        return answer;
    });
    provider().setLeakProtection({.blockTraffic = true, .allowLocalNetwork = false, .blockIPv6 = true});
    await(connect());
    EXPECT_TRUE(provider().holdsBlock());
    const NativeRequest asked = service->requests().at(1);
    EXPECT_TRUE(asked.blockTraffic && asked.blockIPv6 && !asked.allowLocalNetwork);

    // A stop between relays keeps it and trusts the physical route alone (nothing else answers);
    // the next relay's profile comes from the catalog read before the block.
    internetReachable = false;
    server.route("/api/iphone/", {.status = 503});
    await(provider().disconnect());
    EXPECT_TRUE(service->requests().back().keepBlocking);
    EXPECT_EQ(reachabilityChecks, 0);
    await(connect());
    provider().setLeakProtection({});
    internetReachable = true;
    await(provider().disconnect());
    EXPECT_FALSE(service->requests().back().keepBlocking);
    EXPECT_FALSE(provider().holdsBlock());

    // A service that ignores the request must not pass for a blocking one.
    server.route("/api/iphone/", {.body = test::catalogBody({test::catalogLine(row)})});
    serviceKnowsBlocks = false;
    provider().setLeakProtection({.blockTraffic = true, .allowLocalNetwork = true, .blockIPv6 = false});
    EXPECT_EQ(tunnelFailure(connect()), Kind::backendCommandFailed);
    EXPECT_NE(lastError.find("did not block traffic outside the VPN"), std::string::npos) << lastError;
}

TEST_F(NativeTunnelProviderTest, NoControlSocketFailsBeforeAnyNetworkAccess) {
    EXPECT_EQ(tunnelFailure(connect()), Kind::backendUnavailable);
    EXPECT_TRUE(server.requests().isEmpty());
    // Nothing to stop: disconnect only waits for the physical route and the Internet.
    await(provider().disconnect());
    EXPECT_EQ(reachabilityChecks, 1);
    await(provider().recoverStaleConnections());
}

TEST_F(NativeTunnelProviderTest, MissingOriginalAddressFailsBeforeRecovery) {
    startService(ServiceScript{});
    EXPECT_EQ(tunnelFailure(connect(std::nullopt)), Kind::originalIPUnavailable);
    EXPECT_EQ(tunnelFailure(connect(QString())), Kind::originalIPUnavailable);
    EXPECT_TRUE(service->requests().empty());
}

TEST_F(NativeTunnelProviderTest, ConnectedWithoutATunnelInterfaceTimesOut) {
    for (const std::optional<std::string>& interface :
         {std::optional<std::string>(), std::optional<std::string>("eth0"), std::optional<std::string>("utun0")}) {
        ServiceScript script{.pollsUntilConnected = 0};
        script.connected = reply(true, NativeState::connected, "Engine ready.", interface);
        service.reset();
        startService(script);
        EXPECT_EQ(tunnelFailure(connect()), Kind::serverConnectionFailed);
        EXPECT_EQ(lastError, "VPN confirmation timed out after 30 seconds. Engine ready.");
    }
}

TEST_F(NativeTunnelProviderTest, StillConnectingAtTheDeadlineTimesOut) {
    timings.confirmationDeadline = 150ms;
    // The prefix keeps its blank before an empty message.
    startService(ServiceScript{.pollsUntilConnected = 1'000'000});
    EXPECT_EQ(tunnelFailure(connect()), Kind::serverConnectionFailed);
    EXPECT_EQ(lastError, "VPN confirmation timed out after 30 seconds. ");
}

TEST_F(NativeTunnelProviderTest, ServiceVerdictsWhileConnecting) {
    const struct {
        NativeReply status;
        Kind kind;
        const char* description;
    } cases[] = {
        {reply(true, NativeState::failed, ""), Kind::serverConnectionFailed,
         "The selected relay ended the connection attempt."},
        {reply(false, NativeState::failed, "TLS handshake failed."), Kind::serverConnectionFailed,
         "TLS handshake failed."},
        {reply(true, NativeState::stopped, ""), Kind::serverConnectionFailed,
         "The selected relay ended the connection attempt."},
        {reply(false, NativeState::connecting, "Another user owns the active VPN connection."),
         Kind::backendCommandFailed, "Another user owns the active VPN connection."},
    };
    for (const auto& c : cases) {
        service.reset();
        ServiceScript script{.pollsUntilConnected = 0};
        script.connected = c.status;
        startService(script);
        EXPECT_EQ(tunnelFailure(connect()), c.kind);
        EXPECT_EQ(lastError, c.description);
    }
    service.reset();
    startService([](const NativeRequest& request) {
        return request.operation == NativeOperation::connect ? reply(false, NativeState::failed, "Profile refused.")
                                                             : reply(true, NativeState::stopped);
    });
    EXPECT_EQ(tunnelFailure(connect()), Kind::backendCommandFailed);
    EXPECT_EQ(lastError, "Profile refused.");
}

TEST_F(NativeTunnelProviderTest, RefusedRecoveryEndsTheConnectUnchanged) {
    startService([](const NativeRequest&) { return reply(false, NativeState::failed, "Not allowed."); });
    EXPECT_EQ(tunnelFailure(connect()), Kind::backendCommandFailed);
    EXPECT_EQ(service->operations(), std::vector<std::string>{"disconnect"});
}

TEST_F(NativeTunnelProviderTest, UnchangedAddressOrWrongCountryIsNotATunnel) {
    startService(ServiceScript{.pollsUntilConnected = 0});
    EXPECT_EQ(tunnelFailure(connect(QString(kTunnelIP))), Kind::publicIPDidNotChange);

    server.route(QStringLiteral("/info/%1/country").arg(kTunnelIP), {.body = "KR"});
    EXPECT_EQ(tunnelFailure(connect()), Kind::countryMismatch);
    EXPECT_EQ(lastError,
              "The VPN exit country was KR, but JP was selected. The relay was disconnected and "
              "marked mismatched.");
    // The interface confirmed before the failure stays recorded until a disconnect.
    EXPECT_EQ(provider().activeInterface(), "tun0");

    // The listed address's country is asked alongside the echo, and counts only when the echo
    // saw that very address.
    server.route(QStringLiteral("/info/%1/country").arg(relay.hostname), {.body = "jp"});
    EXPECT_EQ(tunnelFailure(connect()), Kind::countryMismatch);
    for (const char* path : {"/cdn-cgi/trace", "/echo1/", "/echo2/", "/ip"})
        server.route(path, {.body = relay.hostname.toUtf8()});
    EXPECT_EQ(await(connect()).exitCountryCode, "JP");
}

TEST_F(NativeTunnelProviderTest, ProfileProblemsPassThrough) {
    startService(ServiceScript{});
    server.route("/api/iphone/", {.body = test::catalogBody({})});
    EXPECT_EQ(tunnelFailure(connect()), Kind::serverMissingFromFreshCatalog);
    EXPECT_EQ(service->operations(), std::vector<std::string>{"disconnect"});
}

TEST_F(NativeTunnelProviderTest, DisconnectDuringPollingCancelsTheConnect) {
    timings.confirmationDeadline = 24h;  // looks that never run out: only the disconnect ends them
    startService(ServiceScript{.pollsUntilConnected = 1'000'000});
    auto connecting = connect();
    const std::exception_ptr outcome = test::failureOf([&]() -> QCoro::Task<void> {
        co_await QCoro::sleepFor(40ms);
        co_await provider().disconnect();
        co_await std::move(connecting);
    }());
    expectCancellation(outcome);
}

TEST_F(NativeTunnelProviderTest, TunnelActiveOnlyOnTheRecordedInterfaceOfAReachableService) {
    std::string interface = "tun0";
    std::mutex mutex;
    startService([&](const NativeRequest& request) {
        if (request.operation == NativeOperation::status) {
            std::lock_guard lock(mutex);
            return reply(true, NativeState::connected, "", interface);
        }
        return reply(true,
                     request.operation == NativeOperation::connect ? NativeState::connecting : NativeState::stopped);
    });
    await(connect());
    EXPECT_TRUE(await(provider().isTunnelActive()));
    {
        std::lock_guard lock(mutex);
        interface = "tun1";
    }
    EXPECT_FALSE(await(provider().isTunnelActive()));
    EXPECT_EQ(await(provider().tunnelHealth()), TunnelHealth::lost);
    {
        std::lock_guard lock(mutex);
        interface = "tun0";
    }
    for (const char* split : {"eth0", "tun1", ""}) {
        route->defaultRoute = *split ? std::optional<QString>(split) : std::nullopt;
        EXPECT_FALSE(await(provider().isTunnelActive())) << "default route on '" << split << "'";
    }
    route->defaultRoute = QStringLiteral("tun0");
    EXPECT_TRUE(await(provider().isTunnelActive()));
    service.reset();
    EXPECT_FALSE(await(provider().isTunnelActive()));
    // Only "stopped" with the service's word that a client asked for it is the user's stop; a
    // restarted service's plain "stopped" and an engine that failed are losses.
    const std::vector<std::pair<NativeReply, TunnelHealth>> answers = {
        {[] {
             auto r = reply(true, NativeState::stopped);
             r.stopRequested = true;
             return r;
         }(),
         TunnelHealth::stoppedOnRequest},
        {reply(true, NativeState::stopped), TunnelHealth::lost},
        {reply(true, NativeState::failed, "The engine ended."), TunnelHealth::lost},
    };
    for (const auto& [answer, health] : answers) {
        service.reset();
        startService([answer = answer](const NativeRequest&) { return answer; });
        EXPECT_EQ(await(provider().tunnelHealth()), health) << encodeMessage(answer);
    }
}

TEST_F(NativeTunnelProviderTest, SupersededAtTheLastCheckIsACancellationNotARelayFailure) {
    std::atomic<int> statuses = 0;
    startService([&](const NativeRequest& request) {
        if (request.operation != NativeOperation::status) {
            return reply(
                true, request.operation == NativeOperation::connect ? NativeState::connecting : NativeState::stopped);
        }
        if (++statuses == 2) std::this_thread::sleep_for(1500ms);  // the last check answers slowly
        return reply(true, NativeState::connected, "", "tun0");
    });
    auto connecting = connect();
    const std::exception_ptr outcome = test::failureOf([&]() -> QCoro::Task<void> {
        while (statuses < 2) co_await QCoro::sleepFor(5ms);
        co_await provider().disconnect();
        co_await std::move(connecting);
    }());
    expectCancellation(outcome);
}

TEST_F(NativeTunnelProviderTest, EngineVersionIsWhatTheServiceReports) {
    // No socket at all: nothing to ask.
    EXPECT_EQ(await(provider().engineVersion()), std::nullopt);
    startService([](const NativeRequest&) {
        NativeReply answer = reply(true, NativeState::stopped);
        answer.engineVersion = "2.6.14";
        return answer;
    });
    EXPECT_EQ(await(provider().engineVersion()), QStringLiteral("2.6.14"));
    // A service that went away leaves its socket file behind: no version, no exception.
    service.reset();
    std::ofstream(socketPath).put('x');
    EXPECT_EQ(await(provider().engineVersion()), std::nullopt);
}

TEST_F(NativeTunnelProviderTest, ControlTransportFailurePassesThroughUnchanged) {
    // A file at the socket path that nobody listens on.
    std::ofstream(socketPath).put('x');
    EXPECT_THROW(await(connect()), WireFailure);
    EXPECT_THROW(await(provider().disconnect()), WireFailure);
}

TEST_F(NativeTunnelProviderTest, DisconnectWaitsForAPhysicalRouteAndTheInternet) {
    startService(ServiceScript{});
    provider();
    route->answers = {QString("tun0"), QString("tun0"), QString("eth0")};
    await(provider().disconnect());
    EXPECT_EQ(route->calls, 3u);
    EXPECT_EQ(reachabilityChecks, 1);  // asked only once the route was physical
    EXPECT_EQ(service->operations(), std::vector<std::string>{"disconnect"});
}

TEST_F(NativeTunnelProviderTest, DisconnectReportsWhatDidNotComeBack) {
    timings.restoreDeadline = 100ms;
    startService(ServiceScript{});
    provider();
    route->answers = {QString("tun0")};
    EXPECT_EQ(tunnelFailure(provider().disconnect()), Kind::physicalRouteNotRestored);
    EXPECT_EQ(reachabilityChecks, 0);

    route->answers = {QString("eth0")};
    route->calls = 0;
    internetReachable = false;
    EXPECT_EQ(tunnelFailure(provider().disconnect()), Kind::internetUnverifiedAfterDisconnect);

    service.reset();
    startService([](const NativeRequest&) { return reply(true, NativeState::connected, "", "tun0"); });
    EXPECT_EQ(tunnelFailure(provider().disconnect()), Kind::disconnectNotConfirmed);
}

TEST_F(NativeTunnelProviderTest, WithNoRouteAtAllAStopIsConfirmedOnceTheTunnelInterfaceIsGone) {
    timings.restoreDeadline = 100ms;
    startService(ServiceScript{.pollsUntilConnected = 0});
    await(connect());
    route->answers = {std::nullopt};  // the link went away: no route to the Internet at all
    tunnelInterfacePresent = true;
    EXPECT_EQ(tunnelFailure(provider().disconnect()), Kind::physicalRouteNotRestored);
    await(connect());
    tunnelInterfacePresent = false;
    await(provider().disconnect());
    EXPECT_EQ(reachabilityChecks, 0);
}

// The guard the window wraps its provider in passes the wrapped provider's verdict on, a stop
// asked for elsewhere included (the default would call that a loss).
TEST(SharedTunnelGuardTest, PassesTheWrappedProvidersHealthOn) {
    struct FixedHealth : TunnelConnectionProvider {
        TunnelHealth health = TunnelHealth::active;
        QCoro::Task<TunnelVerification> connect(Relay, std::optional<QString>, Progress) override { co_return {}; }
        QCoro::Task<void> disconnect() override { co_return; }
        QCoro::Task<void> recoverStaleConnections() override { co_return; }
        QCoro::Task<bool> isTunnelActive() override { co_return health == TunnelHealth::active; }
        QCoro::Task<TunnelHealth> tunnelHealth() override { co_return health; }
    };
    auto inner = std::make_unique<FixedHealth>();
    FixedHealth& fixed = *inner;
    SharedTunnelGuard guard(std::move(inner), "/nonexistent/control.sock");
    for (TunnelHealth health : {TunnelHealth::active, TunnelHealth::lost, TunnelHealth::stoppedOnRequest}) {
        fixed.health = health;
        EXPECT_EQ(await(guard.tunnelHealth()), health);
    }
}

}  // namespace
}  // namespace orlune
