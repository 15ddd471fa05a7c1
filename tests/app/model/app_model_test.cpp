#include "model/app_model.h"

#include <QCoreApplication>

#include <gtest/gtest.h>

#include <tuple>

#include "core/cancellation_error.h"
#include "core/tunnel_error.h"
#include "model/relay_memory.h"
#include "model_fakes.h"
#include "support/await.h"

namespace orlune {
namespace {

using test::await;
using test::makeRelay;

std::exception_ptr failure(TunnelError error) {
    return std::make_exception_ptr(std::move(error));
}

class AppModelTest : public ::testing::Test {
protected:
    AppModelTest() {
        jp1 = makeRelay("jp-best", "Japan", "JP", 10, 90'000'000, "198.51.100.11");
        jp2 = makeRelay("jp-second", "Japan", "JP", 20, 90'000'000, "198.51.100.12");
        jp3 = makeRelay("jp-third", "Japan", "JP", 30, 90'000'000, "198.51.100.13");
        jp4 = makeRelay("jp-fourth", "Japan", "JP", 40, 90'000'000, "198.51.100.14");
        kr = makeRelay("kr-only", "Korea Republic of", "KR", 10, 90'000'000, "198.51.100.21");
        fixture.catalog->relays = {jp3, kr, jp1, jp4, jp2};
    }
    AppModel& model() { return fixture.model(); }
    void load() { ASSERT_TRUE(await(model().refreshCatalog())); }
    void connectTo(const QString& code) {
        model().selectCountry(code);
        await(model().connectSelected());
    }

    test::ModelFixture fixture;
    Relay jp1, jp2, jp3, jp4, kr;
};

// ---- Catalog refresh and selection --------------------------------------------------------

TEST_F(AppModelTest, RefreshStoresTheCatalogInRecommendedOrderWithoutDuplicates) {
    Relay newerJp1 = jp1;
    newerJp1.sessions = 42;
    fixture.catalog->relays.push_back(newerJp1);
    load();
    ASSERT_EQ(model().relays().size(), 5u);
    EXPECT_EQ(model().relays().front(), newerJp1);
    EXPECT_TRUE(model().catalogRefreshSucceeded());
    EXPECT_EQ(model().lastUpdated(), fixture.clock->current);
    EXPECT_FALSE(model().catalogMessage());
}

TEST_F(AppModelTest, OverlappingRefreshesCollapseIntoTheRunningOne) {
    // The previous refresh failed; a Connect during the next one waits for it and uses it.
    load();
    model().selectCountry("JP");
    fixture.catalog->error = std::make_exception_ptr(std::runtime_error("HTTP status 503"));
    ASSERT_FALSE(await(model().refreshCatalog()));
    fixture.catalog->error = nullptr;
    test::Gate gate;
    fixture.catalog->gate = &gate;
    auto first = model().refreshCatalog();
    auto second = model().refreshCatalog();
    auto attempt = model().connectSelected();
    EXPECT_TRUE(model().loading());
    gate.open();
    EXPECT_TRUE(await(std::move(first)));
    EXPECT_TRUE(await(std::move(second)));
    await(std::move(attempt));
    EXPECT_TRUE(model().connectionState().isConnected()) << model().connectionState().text.toStdString();
    EXPECT_EQ(fixture.catalog->fetches, 3);
    EXPECT_FALSE(model().loading());
}

TEST_F(AppModelTest, AnExplicitRelayPickSurvivesARefreshWhileListedAndNotHidden) {
    load();
    model().select(jp2);
    load();
    EXPECT_EQ(model().selected(), jp2);
    fixture.tunnel->outcomes[jp2.id] = failure(TunnelError::serverConnectionFailed("down"));
    await(model().connectSelected());
    EXPECT_EQ(fixture.tunnel->connectedIDs.front(), jp2.id);
    await(model().disconnect());
    model().select(jp3);
    fixture.catalog->relays = {jp1, jp2, jp4};
    load();  // gone from the catalog: the country's best takes its place
    EXPECT_EQ(model().selected(), jp1);
}

TEST_F(AppModelTest, AFailedRefreshKeepsTheCatalogAndSaysWhoIsAtFault) {
    load();
    fixture.catalog->error = std::make_exception_ptr(std::runtime_error("HTTP status 503"));
    EXPECT_FALSE(await(model().refreshCatalog()));
    EXPECT_EQ(model().relays().size(), 5u);
    EXPECT_FALSE(model().loading());
    EXPECT_EQ(*model().catalogMessage(),
              "Internet is available, but VPN Gate's live catalog request failed: HTTP status 503. Existing data is "
              "kept; refresh and retry.");
    fixture.network->reachable = false;
    await(model().refreshCatalog());
    EXPECT_FALSE(model().offline());
    EXPECT_TRUE(model().catalogMessage()->startsWith("Internet access could not be verified"));
    fixture.network->physicalUp = false;
    await(model().refreshCatalog());
    EXPECT_TRUE(model().offline());
    EXPECT_EQ(*model().catalogMessage(),
              "No Internet Connection: the physical network interface is down. Existing server data is kept.");
}

TEST_F(AppModelTest, TheKeptCatalogStandsInWithItsAgeAndConnectsOnlyWhileYoungEnough) {
    fixture.catalog->error = std::make_exception_ptr(std::runtime_error("Connection refused"));
    CatalogFetch kept;
    kept.relays = {jp1, jp2};
    kept.keptFrom = fixture.clock->current.addSecs(-3 * 3600);
    kept.liveFailure = "Connection refused";
    fixture.catalog->kept = kept;
    EXPECT_FALSE(await(model().refreshCatalog())) << "a kept catalog is not a successful refresh";
    EXPECT_FALSE(model().catalogRefreshSucceeded());
    EXPECT_FALSE(model().lastUpdated().has_value());
    EXPECT_EQ(model().relays().size(), 2u);
    EXPECT_EQ(*model().catalogMessage(),
              "Catalog from 3 hours ago — the live catalog could not be loaded: Connection refused.");
    connectTo("JP");
    ASSERT_TRUE(model().connectionState().isConnected()) << model().connectionState().text.toStdString();
    await(model().disconnect());

    fixture.catalog->kept->keptFrom = fixture.clock->current.addDays(-8);
    await(model().refreshCatalog());
    EXPECT_EQ(*model().catalogMessage(),
              "Catalog from 8 days ago — the live catalog could not be loaded: Connection refused. It is older than 7 "
              "days: its relays are shown, not used to connect.");
    EXPECT_EQ(model().relays().size(), 2u);
    connectTo("JP");
    EXPECT_TRUE(model().connectionState().isFailed());
    EXPECT_TRUE(model().connectionState().text.startsWith("Catalog from 8 days ago"));
    EXPECT_EQ(fixture.tunnel->connectedIDs.size(), 1u) << "no relay of the old catalog was contacted";

    // The live catalog back: the kept one's date is gone.
    fixture.catalog->error = nullptr;
    load();
    EXPECT_FALSE(model().keptCatalogDate().has_value());
    EXPECT_FALSE(model().catalogMessage().has_value());
}

TEST_F(AppModelTest, ACatalogThatMeetsNoLimitIsASuccessWithAMessage) {
    fixture.catalog->relays = {makeRelay("slow", "Japan", "JP", 400, 1'000'000)};
    EXPECT_TRUE(await(model().refreshCatalog()));
    EXPECT_EQ(*model().catalogMessage(),
              "No live relays met the quality filter (provider ping ≤ 250 ms and speed ≥ 10 Mbps).");
    fixture.catalog->relays.clear();
    EXPECT_TRUE(await(model().refreshCatalog()));
    EXPECT_EQ(*model().catalogMessage(), "The provider returned no live servers with an OpenVPN configuration.");
}

TEST_F(AppModelTest, AStoredCountryThatVanishedIsClearedOnlyWhileDisconnected) {
    load();
    model().selectCountry("kr");
    EXPECT_EQ(fixture.preferences().stringValue(PreferenceKey::selectedCountryCode), "KR");
    fixture.catalog->relays = {jp1};
    load();
    EXPECT_FALSE(model().selected());
    EXPECT_FALSE(model().selectedCountryCode());
    EXPECT_FALSE(fixture.preferences().contains(PreferenceKey::selectedCountryCode));
    EXPECT_EQ(*model().catalogMessage(),
              "No recommended live relay remains for the previously selected country. Choose another country.");

    fixture.catalog->relays = {jp1, kr};
    load();
    connectTo("KR");
    ASSERT_TRUE(model().connectionState().isConnected());
    fixture.catalog->relays = {jp1};
    load();
    EXPECT_EQ(model().selected(), kr);
    EXPECT_EQ(model().selectedCountryCode(), "KR");
}

TEST_F(AppModelTest, SelectionRules) {
    load();
    Relay staleCopy = jp2;
    staleCopy.pingMilliseconds = 11;
    model().select(staleCopy);
    EXPECT_FALSE(model().selected());

    fixture.network->reachable = false;
    fixture.network->physicalUp = false;
    await(model().retryConnection());  // nothing selected: only the page changes
    EXPECT_EQ(model().page(), "Servers");
    model().select(jp2);
    await(model().connectSelected());
    ASSERT_TRUE(model().connectionState().isFailed());
    model().select(jp3);
    EXPECT_EQ(model().selected(), jp3);
    EXPECT_TRUE(model().connectionState().isDisconnected());

    test::Gate gate;
    fixture.catalog->gate = &gate;
    auto refresh = model().refreshCatalog();
    model().selectCountry("KR");  // ignored while loading
    EXPECT_EQ(model().selected(), jp3);
    gate.open();
    await(std::move(refresh));
}

TEST_F(AppModelTest, ALimitChangeShowsInTheRankingsWithoutARefresh) {
    load();
    int changes = 0;
    QObject::connect(&model(), &AppModel::rankingsChanged, [&] { ++changes; });
    EXPECT_EQ(model().bestRelay(u"JP"), jp1);
    fixture.preferences().setValue(PreferenceKey::maxPingMilliseconds, 50);
    fixture.preferences().setValue(PreferenceKey::maxRelaysPerCountry, 2);
    EXPECT_GE(changes, 2);
    EXPECT_EQ(model().recommendedRelays().size(), 3u);  // KR plus the two best of JP
}

// ---- Connect -----------------------------------------------------------------------------

TEST_F(AppModelTest, ConnectVerifiesAndShowsTheTunnelAddress) {
    load();
    fixture.tunnel->progressLines = {"Fetching a fresh VPN Gate profile…"};
    std::vector<QString> states;
    QObject::connect(&model(), &AppModel::connectionStateChanged, [&] {
        states.push_back(model().connectionState().name() + ":" + model().connectionState().text);
    });
    connectTo("JP");
    const auto& state = model().connectionState();
    ASSERT_TRUE(state.isConnected()) << state.text.toStdString();
    EXPECT_EQ(state.relay, jp1);
    EXPECT_EQ(state.vpnIP, "exit-198.51.100.11");
    EXPECT_EQ(model().publicIP(), "exit-198.51.100.11");
    EXPECT_EQ(model().connectedIP(), "exit-198.51.100.11");
    EXPECT_EQ(states, (std::vector<QString>{"connecting:Checking Wi-Fi/Ethernet and internet access…",
                                            "connecting:Refreshing the live server catalog…",
                                            "connecting:Checking your original public IP…",
                                            "connecting:Japan · trying jp-best · server 1 of 4…",
                                            "connecting:Fetching a fresh VPN Gate profile…", "connected:"}));
    // Connecting again while connected changes nothing.
    await(model().connectSelected());
    EXPECT_EQ(fixture.tunnel->connectedIDs.size(), 1u);
}

TEST_F(AppModelTest, TheChecksRunSideBySideAndPreparedAnswersServeOneConnect) {
    load();
    model().selectCountry("JP");
    const auto asked = [this] {
        return std::tuple(fixture.network->reachabilityChecks, fixture.catalog->fetches,
                          fixture.network->addressLookups);
    };
    const auto before = asked();
    test::Gate gate;
    fixture.catalog->gate = &gate;
    QCoro::Task<> connecting = model().connectSelected();
    // The refresh is held back, yet the other two were asked already.
    EXPECT_EQ(asked(), std::tuple(std::get<0>(before) + 1, std::get<1>(before) + 1, std::get<2>(before) + 1));
    gate.open();
    await(std::move(connecting));
    ASSERT_TRUE(model().connectionState().isConnected()) << model().connectionState().text.toStdString();
    await(model().disconnect());

    // What the command line asked while loading the catalog serves the connect that follows, once.
    ASSERT_TRUE(await(model().prepareConnect()));
    const auto prepared = asked();
    connectTo("JP");
    EXPECT_TRUE(model().connectionState().isConnected());
    EXPECT_EQ(asked(), prepared);
    await(model().disconnect());
    connectTo("JP");
    EXPECT_EQ(std::get<1>(asked()), std::get<1>(prepared) + 1);
}

TEST_F(AppModelTest, TheRequestedRelayIsTriedFirstThenTheOthersInOrderUpToTheCap) {
    fixture.preferences().setValue(PreferenceKey::maxRelaysPerCountry, 2);
    load();
    for (const Relay& relay : {jp1, jp2, jp3, jp4}) {
        fixture.tunnel->outcomes[relay.id] = failure(TunnelError::serverConnectionFailed("The relay timed out."));
    }
    model().select(jp2);
    await(model().connectSelected());
    EXPECT_EQ(fixture.tunnel->connectedIDs, (std::vector<QString>{jp2.id, jp1.id}));
    EXPECT_EQ(model().connectionState().text,
              "JAPAN — CONNECTION FAILED / NO WORKING SERVER. Tried 2 live relays in Japan; no other country was "
              "attempted. jp-second: The relay timed out. • jp-best: The relay timed out.");
    // Both are hidden, so the selection no longer stands, and a clean-up followed each failure.
    EXPECT_FALSE(model().selected());
    EXPECT_EQ(fixture.tunnel->disconnects, 2);
    EXPECT_TRUE(model().quarantinedUntil().contains(jp1.id));
    EXPECT_EQ(model().bestRelay(u"JP"), jp3);
}

TEST_F(AppModelTest, AWrongExitCountryMarksAndHidesTheRelayAndTheNextOneIsTried) {
    load();
    auto wrong = test::FakeTunnel::verified(jp1);
    wrong.exitCountryCode = "KR";
    fixture.tunnel->outcomes[jp1.id] = wrong;
    connectTo("JP");
    ASSERT_TRUE(model().connectionState().isConnected());
    EXPECT_EQ(model().connectionState().relay, jp2);
    EXPECT_TRUE(model().mismatchedRelayIDs().contains(jp1.id));
    EXPECT_TRUE(model().quarantinedUntil().contains(jp1.id));
    // Hidden for the run even after the 30 minutes.
    fixture.clock->current = fixture.clock->current.addSecs(kQuarantineSeconds + 1);
    EXPECT_EQ(model().bestRelay(u"JP"), jp2);
}

TEST_F(AppModelTest, TheModelRechecksEveryFieldOfTheVerification) {
    load();
    auto sameAddress = test::FakeTunnel::verified(jp1);
    sameAddress.vpnPublicIP = "203.0.113.10";  // the address before connecting
    auto wrongInterface = test::FakeTunnel::verified(jp2);
    wrongInterface.tunnelInterface = "eth0";
    auto noCountry = test::FakeTunnel::verified(jp3);
    noCountry.exitCountryCode.reset();
    fixture.tunnel->outcomes = {{jp1.id, sameAddress}, {jp2.id, wrongInterface}, {jp3.id, noCountry}};
    connectTo("JP");
    ASSERT_TRUE(model().connectionState().isConnected());
    EXPECT_EQ(model().connectionState().relay, jp4);
    const QString didNotVerify =
        QString::fromStdString(TunnelError(TunnelError::Kind::providerDidNotVerify).errorDescription());
    EXPECT_TRUE(model().quarantinedUntil().contains(jp1.id));
    EXPECT_TRUE(model().quarantinedUntil().contains(jp2.id));
    EXPECT_TRUE(model().mismatchedRelayIDs().contains(jp3.id));  // "Unavailable" is not Japan
    EXPECT_FALSE(model().mismatchedRelayIDs().contains(jp1.id));
}

TEST_F(AppModelTest, AServiceRefusalEndsTheAttemptAtOnceWithoutAStop) {
    load();
    fixture.tunnel->outcomes[jp1.id] = failure(TunnelError::backendCommandFailed("Unauthorized local client."));
    connectTo("JP");
    EXPECT_EQ(model().connectionState(),
              ConnectionState::failed("JAPAN — profile setup needs attention. Unauthorized local client."));
    EXPECT_EQ(fixture.tunnel->connectedIDs.size(), 1u);
    EXPECT_EQ(fixture.tunnel->disconnects, 0);
    EXPECT_TRUE(model().quarantinedUntil().isEmpty());
}

TEST_F(AppModelTest, AFailedCleanUpStopsTheFailoverWithBothReasons) {
    load();
    fixture.tunnel->outcomes[jp1.id] = failure(TunnelError::serverConnectionFailed("The relay timed out."));
    fixture.tunnel->disconnectError = failure(TunnelError(TunnelError::Kind::disconnectNotConfirmed));
    connectTo("JP");
    EXPECT_EQ(model().connectionState().text,
              "JAPAN — jp-best failed: The relay timed out. Cleanup also could not confirm the VPN stopped: The VPN "
              "service did not confirm that the connection stopped.. No other relay was started.");
    EXPECT_EQ(fixture.tunnel->connectedIDs.size(), 1u);
}

TEST_F(AppModelTest, EarlyFailuresNameTheirCause) {
    load();
    fixture.network->reachable = false;
    connectTo("JP");
    EXPECT_TRUE(model().connectionState().text.endsWith("No VPN server was contacted."));
    fixture.network->reachable = true;
    fixture.network->address.reset();
    model().selectCountry("JP");
    await(model().connectSelected());
    EXPECT_EQ(model().connectionState().text,
              "Internet checks succeeded, but the public-IP services did not return a usable address. No VPN "
              "connection was started.");
    EXPECT_TRUE(fixture.tunnel->connectedIDs.empty());

    fixture.network->address = "203.0.113.10";
    model().select(kr);
    model().setPage("Home");
    model().selectCountry("KR");
    fixture.catalog->relays = {jp1};  // KR vanishes in the connect's own refresh
    await(model().retryConnection());
    EXPECT_EQ(model().connectionState().text,
              "KOREA REPUBLIC OF — CONNECTION FAILED / NO CURRENT LIVE RELAYS MEET YOUR SETTINGS. Refresh the catalog "
              "or relax the speed/ping filters.");
}

TEST_F(AppModelTest, QuickConnectWithoutAnyRelayFails) {
    fixture.catalog->relays.clear();
    load();
    await(model().quickConnect());
    EXPECT_EQ(model().connectionState().text.toStdString(),
              TunnelError(TunnelError::Kind::noCompatibleServer).errorDescription());
    await(model().connectSelected());
    EXPECT_EQ(*model().catalogMessage(), "Select a live server first. A selection is not a connection.");
    EXPECT_EQ(model().page(), "Servers");
}

TEST_F(AppModelTest, ADisconnectDuringAnAttemptStopsItsVerifiedTunnelQuietly) {
    load();
    test::Gate gate;
    fixture.tunnel->connectGate = &gate;
    model().selectCountry("JP");
    auto attempt = model().connectSelected();
    ASSERT_TRUE(model().isConnectionBusy());
    await(model().disconnect());
    EXPECT_TRUE(model().connectionState().isDisconnected());
    EXPECT_EQ(fixture.tunnel->disconnects, 1);
    gate.open();  // the old attempt's tunnel comes up now
    await(std::move(attempt));
    EXPECT_TRUE(model().connectionState().isDisconnected());
    EXPECT_EQ(fixture.tunnel->disconnects, 2);
    EXPECT_TRUE(model().quarantinedUntil().isEmpty());
}

TEST_F(AppModelTest, ACancelledAttemptDoesNotHideItsRelay) {
    load();
    fixture.tunnel->outcomes[jp1.id] = std::make_exception_ptr(CancellationError());
    test::Gate gate;
    fixture.tunnel->connectGate = &gate;
    model().selectCountry("JP");
    auto attempt = model().connectSelected();
    auto stop = model().disconnect();
    gate.open();
    await(std::move(attempt));
    await(std::move(stop));
    EXPECT_TRUE(model().quarantinedUntil().isEmpty());
    EXPECT_EQ(fixture.tunnel->connectedIDs.size(), 1u);
}

TEST_F(AppModelTest, PressingDisconnectTwiceSendsOneStop) {
    load();
    connectTo("JP");
    test::Gate gate;
    fixture.tunnel->disconnectGate = &gate;
    auto first = model().disconnect();
    await(model().disconnect());
    gate.open();
    await(std::move(first));
    EXPECT_EQ(fixture.tunnel->disconnects, 1);
    EXPECT_TRUE(model().connectionState().isDisconnected());
    EXPECT_EQ(model().publicIP(), "203.0.113.10");
    EXPECT_FALSE(model().isStoppingTunnel());
}

TEST_F(AppModelTest, AnUnconfirmedStopIsShown) {
    load();
    connectTo("JP");
    fixture.tunnel->disconnectError = failure(TunnelError(TunnelError::Kind::physicalRouteNotRestored));
    await(model().disconnect());
    EXPECT_TRUE(model().connectionState().text.startsWith(
        "Could not stop the Orlune VPN tunnel and restore normal internet routing: The VPN stopped, but the system"));
}

// ---- Hidden relays across runs ------------------------------------------------------------

TEST_F(AppModelTest, HiddenRelaysSurviveARestartAndReturnAfterThirtyMinutes) {
    load();
    fixture.tunnel->outcomes[jp1.id] = failure(TunnelError::serverConnectionFailed("down"));
    connectTo("JP");
    ASSERT_TRUE(model().connectionState().isConnected());
    fixture.rebuild();
    load();
    EXPECT_EQ(model().bestRelay(u"JP"), jp2);
    fixture.clock->current = fixture.clock->current.addSecs(kQuarantineSeconds);
    load();
    EXPECT_EQ(model().bestRelay(u"JP"), jp1);
    EXPECT_TRUE(readQuarantine(fixture.preferences(), fixture.clock->current.addSecs(-kQuarantineSeconds)).isEmpty());
}

TEST_F(AppModelTest, FavouritesToggleAndFollowTheCatalog) {
    load();
    model().toggleFavorite(jp2);
    Relay updated = jp2;
    updated.sessions = 7;
    fixture.catalog->relays = {jp1, updated};
    load();
    fixture.rebuild();
    EXPECT_EQ(model().favorites(), (QSet<QString>{jp2.id}));
    EXPECT_EQ(model().favoriteSnapshots().value(jp2.id), updated);
    fixture.catalog->relays = {jp1};
    load();
    const auto favourites = model().favoriteRelays();
    ASSERT_EQ(favourites.size(), 1u);
    EXPECT_FALSE(favourites[0].available);
    model().toggleFavorite(updated);
    EXPECT_TRUE(model().favorites().isEmpty());
    EXPECT_TRUE(readFavoriteSnapshots(fixture.preferences()).isEmpty());
}

// ---- Network loss and reconnection ---------------------------------------------------------

TEST_F(AppModelTest, LosingThePhysicalLinkStopsTheTunnelAndItsReturnReconnectsTheSameCountry) {
    load();
    connectTo("JP");
    fixture.network->reachable = false;
    fixture.network->physicalUp = false;
    model().handleNetworkPath(NetworkPathStatus::unsatisfied);
    EXPECT_EQ(model().connectionState().text,
              "No Internet Connection: the physical network interface went down. Orlune VPN is stopping the tunnel "
              "safely.");
    EXPECT_EQ(fixture.tunnel->disconnects, 1);
    EXPECT_TRUE(model().reconnectWhenNetworkReturns());
    EXPECT_TRUE(model().offline());
    EXPECT_EQ(fixture.clock->sleeps.front(), std::chrono::milliseconds(1500));

    fixture.network->reachable = true;
    fixture.network->physicalUp = true;
    model().handleNetworkPath(NetworkPathStatus::satisfied);
    ASSERT_TRUE(model().connectionState().isConnected());
    EXPECT_EQ(model().connectionState().relay->countryCode, "JP");
    EXPECT_EQ(fixture.tunnel->disconnects, 2);  // the reset before reconnecting
    EXPECT_FALSE(model().reconnectWhenNetworkReturns());
}

TEST_F(AppModelTest, ADeadTunnelOnAWorkingNetworkIsALossAndAutoReconnectOffOnlyRefreshes) {
    load();
    connectTo("JP");
    fixture.preferences().setValue(PreferenceKey::autoReconnectEnabled, false);
    fixture.tunnel->tunnelActive = false;
    model().healthTick();
    EXPECT_EQ(model().connectionState().text,
              "The VPN health check failed while Wi-Fi/Ethernet remains up. Orlune VPN is stopping the tunnel safely.");
    const int fetches = fixture.catalog->fetches;
    model().healthTick();  // pending reconnection: the network answers, so it is rebuilt
    EXPECT_TRUE(model().connectionState().isDisconnected());
    EXPECT_EQ(fixture.catalog->fetches, fetches + 1);
    EXPECT_EQ(fixture.tunnel->connectedIDs.size(), 1u);
}

TEST_F(AppModelTest, AfterAWakeATunnelMustProveItselfAtOnceOrIsRebuilt) {
    const struct {
        const char* name;
        bool engineHolds;  // the service still reports the tunnel
        bool answers;      // the Internet answers through it
        bool answersLate;  // ... but only after the proof's time is up
        bool networkBack;  // the network answers once the tunnel is stopped
        bool keptAsIs;
    } cases[] = {
        {"a tunnel that survived", true, true, false, true, true},
        {"the engine gone", false, true, false, true, false},
        {"no answer through the tunnel", true, false, false, false, false},
        {"an answer too late", true, true, true, true, false},
    };
    for (const auto& c : cases) {
        test::ModelFixture f;
        f.catalog->relays = {jp1, jp2};
        ASSERT_TRUE(await(f.model().refreshCatalog()));
        f.model().selectCountry("JP");
        await(f.model().connectSelected());
        ASSERT_TRUE(f.model().connectionState().isConnected()) << c.name;
        f.tunnel->tunnelActive = c.engineHolds;
        f.network->reachable = c.answers;
        test::Gate late;
        if (c.answersLate) f.network->quickCheckGate = &late;
        f.model().handleWake();
        QCoreApplication::processEvents();
        if (c.keptAsIs) {
            EXPECT_TRUE(f.model().connectionState().isConnected()) << c.name;
            EXPECT_EQ(f.tunnel->disconnects, 0) << c.name;
            continue;
        }
        if (c.networkBack) {
            // Stopped and rebuilt at once, to the same country, without waiting for a health tick.
            EXPECT_TRUE(f.model().connectionState().isConnected()) << c.name;
            EXPECT_EQ(f.tunnel->connectedIDs.size(), 2u) << c.name;
        } else {
            EXPECT_TRUE(f.model().connectionState().text.startsWith("The VPN health check failed")) << c.name;
            EXPECT_TRUE(f.model().reconnectWhenNetworkReturns()) << c.name;
        }
        late.open();
        QCoreApplication::processEvents();
    }
}

TEST_F(AppModelTest, HiddenRelaysAndTheCatalogAgeFollowRealTimeWhateverTheWallClockDoes) {
    using std::chrono::minutes;
    const struct {
        const char* name;
        minutes jump;
        minutes passed;
        bool restart;
        bool hidden;
    } cases[] = {
        {"wall clock set forward", minutes(60), minutes(29), false, true},
        {"wall clock set back", minutes(-60), minutes(30), false, false},
        {"set forward, then a restart", minutes(60), minutes(29), true, true},
        {"set back, then a restart", minutes(-60), minutes(30), true, false},
    };
    for (const auto& c : cases) {
        test::ModelFixture f;
        f.catalog->relays = {jp1, jp2};
        f.tunnel->outcomes[jp1.id] = failure(TunnelError::serverConnectionFailed("down"));
        ASSERT_TRUE(await(f.model().refreshCatalog()));
        f.model().selectCountry("JP");
        await(f.model().connectSelected());
        await(f.model().disconnect());
        f.clock->wallShift += c.jump;
        if (c.restart) {
            ASSERT_TRUE(await(f.model().refreshCatalog()));
            f.rebuild();
            ASSERT_TRUE(await(f.model().refreshCatalog()));
        }
        f.clock->current = f.clock->current.addSecs(std::chrono::seconds(c.passed).count());
        EXPECT_EQ(f.model().catalogAge(), std::chrono::seconds(c.passed)) << c.name;
        ASSERT_TRUE(await(f.model().refreshCatalog()));
        EXPECT_EQ(f.model().bestRelay(u"JP"), c.hidden ? jp2 : jp1) << c.name;
    }
}

TEST_F(AppModelTest, ANetworkThatFailsOnlyTheExternalChecksGetsASecondChance) {
    load();
    connectTo("JP");
    fixture.network->reachable = false;  // link up, checks failing
    const int before = fixture.network->reachabilityChecks;
    model().handleNetworkPath(NetworkPathStatus::satisfied);
    EXPECT_EQ(fixture.network->reachabilityChecks, before + 2);
    EXPECT_EQ(fixture.clock->sleeps, (std::vector<std::chrono::milliseconds>{std::chrono::milliseconds(3000)}));
    EXPECT_TRUE(model().connectionState().text.startsWith("The VPN health check failed"));
}

TEST_F(AppModelTest, PathReportsAndHealthTicksWhileBusyChangeNothing) {
    load();
    test::Gate gate;
    fixture.tunnel->connectGate = &gate;
    model().selectCountry("JP");
    auto attempt = model().connectSelected();
    fixture.network->reachable = false;
    const int checks = fixture.network->reachabilityChecks;
    model().handleNetworkPath(NetworkPathStatus::unsatisfied);
    model().healthTick();
    EXPECT_EQ(fixture.network->reachabilityChecks, checks);
    EXPECT_TRUE(model().connectionState().isConnecting());
    gate.open();
    await(std::move(attempt));
    EXPECT_TRUE(model().connectionState().isConnected());
}

TEST_F(AppModelTest, AStopAfterALossThatFailsIsShownAndTheReconnectionStaysPending) {
    load();
    connectTo("JP");
    fixture.tunnel->disconnectError = failure(TunnelError(TunnelError::Kind::disconnectNotConfirmed));
    fixture.network->reachable = false;
    model().handleNetworkPath(NetworkPathStatus::satisfied);
    EXPECT_EQ(model().connectionState().text,
              "Network interrupted and tunnel stop was not confirmed: The VPN service did not confirm that the "
              "connection stopped.");
    EXPECT_TRUE(model().reconnectWhenNetworkReturns());
    fixture.network->reachable = true;
    model().healthTick();
    EXPECT_TRUE(model().connectionState().text.startsWith("Could not safely reset the interrupted tunnel: "));
    EXPECT_FALSE(model().reconnectWhenNetworkReturns());
}

// ---- Orders of events: the newest action wins, local faults hide nothing -------------------

TEST_F(AppModelTest, AManualConnectEndsAPendingReconnection) {
    load();
    connectTo("JP");
    fixture.network->reachable = false;
    model().handleNetworkPath(NetworkPathStatus::satisfied);
    ASSERT_TRUE(model().reconnectWhenNetworkReturns());
    fixture.network->reachable = true;
    await(model().connectSelected());  // the user is quicker than the health timer
    ASSERT_TRUE(model().connectionState().isConnected());
    const int stops = fixture.tunnel->disconnects;
    model().healthTick();
    EXPECT_TRUE(model().connectionState().isConnected());
    EXPECT_EQ(fixture.tunnel->disconnects, stops);
    EXPECT_EQ(fixture.tunnel->connectedIDs.size(), 2u);
}

TEST_F(AppModelTest, ADisconnectDuringTheReconnectionsResetWins) {
    load();
    connectTo("JP");
    fixture.tunnel->tunnelActive = false;
    model().healthTick();  // a loss: stopped, reconnection pending
    fixture.tunnel->tunnelActive = true;
    test::Gate gate;
    fixture.tunnel->disconnectGate = &gate;
    model().healthTick();  // the network answers: the reconnection's reset stop waits
    auto stop = model().disconnect();
    gate.open();
    await(std::move(stop));
    EXPECT_TRUE(model().connectionState().isDisconnected());
    EXPECT_EQ(fixture.tunnel->connectedIDs.size(), 1u);
    EXPECT_FALSE(fixture.tunnel->holding);
}

TEST_F(AppModelTest, ALinkLostDuringAnAttemptHidesNoRelay) {
    load();
    fixture.tunnel->outcomes[jp1.id] = failure(TunnelError::serverConnectionFailed("The relay timed out."));
    test::Gate gate;
    fixture.tunnel->connectGate = &gate;
    model().selectCountry("JP");
    auto attempt = model().connectSelected();
    fixture.network->physicalUp = false;
    gate.open();
    await(std::move(attempt));
    EXPECT_TRUE(model().quarantinedUntil().isEmpty());
    EXPECT_TRUE(model().mismatchedRelayIDs().isEmpty());
}

TEST_F(AppModelTest, ALateCleanUpOfAnOldAttemptLeavesTheNewerTunnelAlone) {
    load();
    test::Gate gate;
    fixture.tunnel->connectGate = &gate;
    model().selectCountry("JP");
    auto old = model().connectSelected();
    await(model().disconnect());
    auto newer = model().connectSelected();
    gate.open();  // the old attempt's tunnel comes up late, then the newer one's
    await(std::move(old));
    await(std::move(newer));
    EXPECT_TRUE(model().connectionState().isConnected());
    EXPECT_EQ(fixture.tunnel->disconnects, 1);
    EXPECT_EQ(fixture.tunnel->holding, jp1.id);
    EXPECT_TRUE(model().quarantinedUntil().isEmpty());
}

TEST_F(AppModelTest, AStopAskedForElsewhereIsTheUsersStop) {
    load();
    connectTo("JP");
    fixture.tunnel->stopElsewhere();  // `orlune-vpn disconnect`
    model().healthTick();
    EXPECT_TRUE(model().connectionState().isDisconnected());
    EXPECT_FALSE(model().reconnectWhenNetworkReturns());
    model().healthTick();
    EXPECT_EQ(fixture.tunnel->connectedIDs.size(), 1u);
}

TEST_F(AppModelTest, MeasuringNeverHoldsBackConnectedAndWhatEachAttemptDidIsRecorded) {
    load();
    fixture.tunnel->outcomes[jp1.id] = failure(TunnelError::serverConnectionFailed("down"));
    test::Gate gate;
    fixture.measurer->gate = &gate;
    fixture.measurer->rtt = 42;
    fixture.measurer->throughput = 12'300'000;
    // Off by default: only the round trip.
    connectTo("JP");
    ASSERT_TRUE(model().connectionState().isConnected());
    ASSERT_TRUE(model().measurement() && model().measurement()->running);
    const RelayHistory& history = model().relayHistory();
    EXPECT_EQ(history.value(jp1.id).failedCount(), 1);
    EXPECT_EQ(history.value(jp2.id).workedCount(), 1);
    gate.open();
    ASSERT_TRUE(test::waitUntil([&] { return !model().measurement()->running; }));
    EXPECT_EQ(model().measurement()->rttMilliseconds, 42);
    EXPECT_EQ(fixture.measurer->downloads, 0);
    EXPECT_EQ(history.value(jp2.id).rttMilliseconds, 42);

    // With the setting, the download too; a measurement that finds nothing changes nothing else.
    await(model().disconnect());
    fixture.preferences().setValue(PreferenceKey::measureThroughput, true);
    fixture.measurer->rtt.reset();
    connectTo("JP");
    ASSERT_TRUE(test::waitUntil([&] { return !model().measurement()->running; }));
    EXPECT_EQ(fixture.measurer->downloads, 1);
    EXPECT_EQ(history.value(jp2.id).throughputBitsPerSecond, 12'300'000);
    EXPECT_EQ(history.value(jp2.id).rttMilliseconds, 42);
    EXPECT_TRUE(model().connectionState().isConnected());
}

// A relay that worked keeps its profile; once it leaves the list it is offered only to a user who
// opted in, and connecting to it tries that relay alone, with the profile it worked with.
TEST_F(AppModelTest, ARelayThatLeftTheListIsOfferedOnlyOnRequestWithItsKeptProfile) {
    load();
    connectTo("JP");
    await(model().disconnect());
    const QString kept = QStringLiteral("profile of ") + jp1.id;
    ASSERT_EQ(model().relayHistory().value(jp1.id).profile, kept);
    std::erase(fixture.catalog->relays, jp1);
    load();
    const auto offered = [&] {
        std::vector<QString> ids;
        for (const RelayRecord& record : model().recentlyWorkedRelays()) ids.push_back(record.relay.id);
        return ids;
    };
    EXPECT_TRUE(offered().empty());  // not asked for
    fixture.preferences().setValue(PreferenceKey::offerRecentlyWorked, true);
    ASSERT_EQ(offered(), std::vector<QString>{jp1.id});

    fixture.tunnel->outcomes[jp1.id] = failure(TunnelError::serverConnectionFailed("gone"));
    const std::size_t before = fixture.tunnel->connectedIDs.size();
    await(model().connectRecentlyWorked(jp1.id));
    EXPECT_TRUE(model().connectionState().isFailed());
    EXPECT_EQ(fixture.tunnel->connectedIDs.size(), before + 1);  // no failover to listed relays
    fixture.tunnel->outcomes.erase(jp1.id);
    fixture.clock->current = fixture.clock->current.addSecs(60);
    await(model().connectRecentlyWorked(jp1.id));
    ASSERT_TRUE(model().connectionState().isConnected());
    EXPECT_EQ(model().connectionState().relay, jp1);
    EXPECT_EQ(fixture.tunnel->keptProfiles.back(), std::make_pair(jp1.id, kept));
    EXPECT_EQ(model().relayHistory().value(jp1.id).workedCount(), 2);

    await(model().disconnect());
    await(model().connectRecentlyWorked(jp2.id));  // listed: not one of them
    EXPECT_TRUE(model().connectionState().isFailed());
}

TEST_F(AppModelTest, HiddenRelaysOfTwoProcessesMerge) {
    load();
    Preferences other(std::make_unique<QSettings>(fixture.settingsPath(), QSettings::IniFormat));
    fixture.tunnel->outcomes[jp1.id] = failure(TunnelError::serverConnectionFailed("down"));
    connectTo("JP");  // this process hides jp1
    auto theirs = readQuarantine(other, fixture.clock->current);
    ASSERT_TRUE(theirs.contains(jp1.id));
    theirs.insert(kr.id, fixture.clock->current.addSecs(kQuarantineSeconds));  // the other hides kr
    writeQuarantine(other, theirs);
    other.reload();
    await(model().disconnect());
    fixture.tunnel->outcomes[jp2.id] = failure(TunnelError::serverConnectionFailed("down"));
    connectTo("JP");  // this process hides jp2 and keeps kr
    other.reload();
    const auto stored = readQuarantine(other, fixture.clock->current);
    EXPECT_EQ(QSet<QString>(stored.keyBegin(), stored.keyEnd()), (QSet<QString>{jp1.id, jp2.id, kr.id}));
    EXPECT_FALSE(model().bestRelay(u"KR"));
}

// ---- Start-up -----------------------------------------------------------------------------

TEST_F(AppModelTest, StartUpRecoversLoadsAndConnectsOnlyWithASelection) {
    fixture.preferences().setValue(PreferenceKey::connectOnLaunch, true);
    fixture.tunnel->recoverError = failure(TunnelError::backendCommandFailed("Unauthorized local client."));
    await(model().startupSequence());
    EXPECT_EQ(model().connectionState().text,
              "Could not safely stop a previous Orlune tunnel: Unauthorized local client.");
    EXPECT_EQ(model().relays().size(), 5u);
    EXPECT_EQ(model().publicIP(), "203.0.113.10");
    EXPECT_TRUE(fixture.tunnel->connectedIDs.empty());  // no stored country, no selection

    fixture.preferences().setValue(PreferenceKey::selectedCountryCode, "KR");
    fixture.tunnel->recoverError = nullptr;
    fixture.rebuild();
    await(model().startupSequence());
    EXPECT_TRUE(model().connectionState().isConnected());
    EXPECT_EQ(model().connectionState().relay, kr);
}

TEST_F(AppModelTest, RefreshIfIdleLeavesAConnectionAlone) {
    load();
    connectTo("JP");
    const int fetches = fixture.catalog->fetches;
    fixture.network->address = "203.0.113.99";
    await(model().refreshIfIdle());
    EXPECT_EQ(fixture.catalog->fetches, fetches);
    EXPECT_EQ(model().publicIP(), "exit-198.51.100.11");
}

}  // namespace
}  // namespace orlune
