// Random orders of events against the model, with its rules checked after every event.
// ORLUNE_MODEL_CHECK_SEQUENCES sets how many sequences run (the default suits `make test`),
// ORLUNE_MODEL_CHECK_SEED replays one seed.

#include <QCoreApplication>
#include <QFileInfo>
#include <QRandomGenerator>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "control/wire_failure.h"
#include "core/tunnel_error.h"
#include "model/app_model.h"
#include "model/relay_memory.h"
#include "model_fakes.h"

namespace orlune {
namespace {

using test::makeRelay;

enum class Kind {
    connect,
    quickConnect,
    retry,
    disconnect,
    selectRelay,
    selectCountry,
    refresh,
    linkLost,
    linkBack,
    checksFail,
    healthTick,
    tunnelDies,
    stopElsewhere,
    relayWorks,
    relayUnreachable,
    relayWrongExit,
    relayUnchangedIP,
    serviceRefuses,
    socketFails,
    slowConnect,
    slowStop,
    slowCatalog,
    catalogFails,
    catalogWorks,
    stopUnconfirmed,
    answer,
    clockJumps,
    autoReconnectOff,
    otherProcessHides,
    wake,
    wallClockSet,
    count,
};

const char* const kNames[] = {
    "connect",
    "quickConnect",
    "retry",
    "disconnect",
    "selectRelay",
    "selectCountry",
    "refresh",
    "linkLost",
    "linkBack",
    "checksFail",
    "healthTick",
    "tunnelDies",
    "stopElsewhere",
    "relayWorks",
    "relayUnreachable",
    "relayWrongExit",
    "relayUnchangedIP",
    "serviceRefuses",
    "socketFails",
    "slowConnect",
    "slowStop",
    "slowCatalog",
    "catalogFails",
    "catalogWorks",
    "stopUnconfirmed",
    "answer",
    "clockJumps",
    "autoReconnectOff",
    "otherProcessHides",
    "wake",
    "wallClockSet",
};
static_assert(std::size(kNames) == std::size_t(Kind::count));

struct Event {
    Kind kind;
    int relay;  // which of the relays, where the event names one
};

std::string describe(const std::vector<Event>& events) {
    std::string text;
    for (const Event& event : events) {
        if (!text.empty()) text += ", ";
        text += kNames[int(event.kind)];
        text += "(" + std::to_string(event.relay) + ")";
    }
    return text;
}

// One sequence over fresh fakes; answers the first broken rule.
class Run {
public:
    Run() {
        relays = {makeRelay("jp-a", "Japan", "JP", 10, 90'000'000, "198.51.100.31"),
                  makeRelay("jp-b", "Japan", "JP", 20, 90'000'000, "198.51.100.32"),
                  makeRelay("jp-c", "Japan", "JP", 30, 90'000'000, "198.51.100.33"),
                  makeRelay("kr-a", "Korea Republic of", "KR", 10, 90'000'000, "198.51.100.41")};
        fixture.catalog->relays = relays;
        fixture.tunnel->faithful = true;
        fixture.tunnel->answered = [this](const QString& id) {
            if (relayFaults.contains(id) && fixture.network->physicalUp) failedRelays.insert(id);
        };
        model().requestRefresh();
    }

    AppModel& model() { return fixture.model(); }

    std::optional<std::string> play(const std::vector<Event>& events) {
        for (const Event& event : events) {
            apply(event);
            QCoreApplication::processEvents();
            if (auto broken = check()) return broken;
        }
        apply({Kind::answer, 0});
        return check();
    }

    int eventsRun = 0;

private:
    void apply(const Event& event) {
        ++eventsRun;
        const Relay& relay = relays[std::size_t(event.relay) % relays.size()];
        auto& tunnel = *fixture.tunnel;
        auto& network = *fixture.network;
        const bool connected = model().connectionState().isConnected();
        switch (event.kind) {
        case Kind::connect:
            userConnects();
            model().requestConnect();
            break;
        case Kind::quickConnect:
            userConnects();
            explicitPick.reset();
            model().requestQuickConnect();
            break;
        case Kind::retry:
            userConnects();
            model().requestRetry();
            break;
        case Kind::disconnect:
            userStops();
            model().requestDisconnect();
            break;
        case Kind::selectRelay:
            model().selectRelay(relay.id);
            if (model().selected() && model().selected()->id == relay.id) {
                explicitPick = relay.id;
                connectsAtPick = tunnel.connectedIDs.size();
            }
            break;
        case Kind::selectCountry:
            explicitPick.reset();
            model().chooseCountry(relay.countryCode);
            break;
        case Kind::refresh:
            model().requestRefresh();
            break;
        case Kind::linkLost:
            network.physicalUp = false;
            network.reachable = false;
            model().handleNetworkPath(NetworkPathStatus::unsatisfied);
            break;
        case Kind::linkBack:
            network.physicalUp = true;
            network.reachable = true;
            model().handleNetworkPath(NetworkPathStatus::satisfied);
            break;
        case Kind::checksFail:
            network.reachable = false;
            model().handleNetworkPath(NetworkPathStatus::satisfied);
            break;
        case Kind::healthTick:
            model().healthTick();
            break;
        case Kind::tunnelDies:
            if (connected) lostBehindTheModel = true;
            tunnel.holding.reset();
            break;
        case Kind::stopElsewhere:
            // Of a tunnel the model holds, this is the user's stop; of an attempt under way it
            // cannot know.
            if (connected) lostBehindTheModel = true;
            if (connected && !model().isConnectionBusy()) userStops();
            tunnel.stopElsewhere();
            break;
        case Kind::relayWorks:
            tunnel.outcomes.erase(relay.id);
            relayFaults.erase(relay.id);
            break;
        case Kind::relayUnreachable:
            script(relay, std::make_exception_ptr(TunnelError::serverConnectionFailed("The relay timed out.")), true);
            break;
        case Kind::relayWrongExit: {
            auto verification = test::FakeTunnel::verified(relay);
            verification.exitCountryCode = relay.countryCode == "JP" ? "KR" : "JP";
            script(relay, verification, true);
            break;
        }
        case Kind::relayUnchangedIP: {
            auto verification = test::FakeTunnel::verified(relay);
            verification.vpnPublicIP = network.address;
            script(relay, verification, true);
            break;
        }
        case Kind::serviceRefuses:
            script(relay, std::make_exception_ptr(TunnelError::backendCommandFailed("Unauthorized local client.")),
                   false);
            break;
        case Kind::socketFails:
            script(relay, std::make_exception_ptr(WireFailure::invalid()), false);
            break;
        case Kind::slowConnect:
            tunnel.connectGate = gate();
            break;
        case Kind::slowStop:
            tunnel.disconnectGate = gate();
            break;
        case Kind::slowCatalog:
            fixture.catalog->gate = gate();
            break;
        case Kind::catalogFails:
            fixture.catalog->error = std::make_exception_ptr(std::runtime_error("HTTP status 503"));
            break;
        case Kind::catalogWorks:
            fixture.catalog->error = nullptr;
            break;
        case Kind::stopUnconfirmed:
            tunnel.disconnectError = std::make_exception_ptr(TunnelError(TunnelError::Kind::disconnectNotConfirmed));
            break;
        case Kind::answer:
            tunnel.connectGate = tunnel.disconnectGate = fixture.catalog->gate = nullptr;
            tunnel.disconnectError = nullptr;
            for (auto& waiting : gates) waiting->open();
            // Waiters resume from the event loop; the gates must outlive that.
            for (int round = 0; round < 4; ++round) QCoreApplication::processEvents();
            gates.clear();
            break;
        case Kind::clockJumps:
            fixture.clock->current = fixture.clock->current.addSecs(kQuarantineSeconds / 2);
            break;
        case Kind::wake:
            model().handleWake();
            // The wake's check is the model's to make at once: from here on it must know.
            if (!model().isConnectionBusy()) lostBehindTheModel = false;
            break;
        case Kind::wallClockSet:
            // A change of the system's clock only, either way: no real time passes.
            fixture.clock->wallShift += std::chrono::hours(event.relay % 2 == 0 ? 2 : -2);
            // What another process stored before the change reads moved by it until this model
            // next rewrites the stored ends: the stored form's limit, not a fault.
            hiddenElsewhere.clear();
            break;
        case Kind::autoReconnectOff:
            fixture.preferences().setValue(PreferenceKey::autoReconnectEnabled, false);
            break;
        case Kind::otherProcessHides: {
            Preferences other(std::make_unique<QSettings>(fixture.settingsPath(), QSettings::IniFormat));
            other.reload();
            auto stored = readQuarantine(other, fixture.clock->now());
            stored.insert(relay.id, fixture.clock->now().addSecs(kQuarantineSeconds));
            writeQuarantine(other, stored);
            other.reload();
            hiddenElsewhere[relay.id] = fixture.clock->current.addSecs(kQuarantineSeconds);
            everHiddenElsewhere.insert(relay.id);
            break;
        }
        case Kind::count:
            break;
        }
    }

    std::optional<std::string> check() {
        const ConnectionState& state = model().connectionState();
        const auto& tunnel = *fixture.tunnel;
        const bool settled = gates.empty();
        if (!state.isConnected()) lostBehindTheModel = false;

        // While a stop is under way the views say so over the Connected state.
        if (state.isConnected() && !lostBehindTheModel && !model().isStoppingTunnel() &&
            tunnel.holding != state.relay->id) {
            return "Connected to " + state.relay->id.toStdString() + " without that relay's tunnel";
        }
        if (settled && !state.isConnected() && !model().isConnectionBusy() && tunnel.holding) {
            return "a tunnel to " + tunnel.holding->toStdString() + " is up behind the state '" +
                   state.name().toStdString() + "'";
        }
        if (settled && (model().isConnectionBusy() || model().loading())) {
            return "still busy with every answer given";
        }
        if (stoppedAt && tunnel.connectedIDs.size() > *stoppedAt) {
            return "a tunnel was started after the user's stop without a new connect";
        }
        const auto& hidden = model().quarantinedUntil();
        for (auto id = hidden.keyBegin(); id != hidden.keyEnd(); ++id) {
            if (!failedRelays.contains(*id) && !everHiddenElsewhere.contains(*id)) {
                return "relay " + id->toStdString() + " was hidden without a failure of its own";
            }
        }
        for (const QString& marked : model().mismatchedRelayIDs()) {
            if (!failedRelays.contains(marked))
                return "relay " + marked.toStdString() + " was marked without a failure";
        }
        const auto stored = readQuarantine(fixture.preferences(), fixture.clock->now());
        for (auto [id, until] : hiddenElsewhere.asKeyValueRange()) {
            if (until > fixture.clock->current && !stored.contains(id)) {
                return "relay " + id.toStdString() + " hidden by another process was erased";
            }
        }
        // Failover moves the selection on; only a refresh must not.
        if (tunnel.connectedIDs.size() > connectsAtPick) explicitPick.reset();
        if (explicitPick && !state.isConnecting()) {
            const auto eligible = model().eligibleRelays();
            const bool listed = std::any_of(eligible.begin(), eligible.end(),
                                            [&](const Relay& relay) { return relay.id == *explicitPick; });
            if (listed && (!model().selected() || model().selected()->id != *explicitPick)) {
                return "the user's pick " + explicitPick->toStdString() + " was replaced";
            }
            if (!listed) explicitPick.reset();
        }
        if (state.isFailed() && fixture.catalog->pending > 0 && state.text.contains(u"could not be refreshed")) {
            return "a connect failed on a refresh that is still running";
        }
        return std::nullopt;
    }

    void script(const Relay& relay, std::variant<TunnelVerification, std::exception_ptr> outcome, bool relayFault) {
        fixture.tunnel->outcomes[relay.id] = std::move(outcome);
        if (relayFault) {
            relayFaults.insert(relay.id);
        } else {
            relayFaults.erase(relay.id);
        }
    }

    void userConnects() { stoppedAt.reset(); }
    void userStops() { stoppedAt = fixture.tunnel->connectedIDs.size(); }

    test::Gate* gate() {
        gates.push_back(std::make_unique<test::Gate>());
        return gates.back().get();
    }

public:
    test::ModelFixture fixture;
    std::vector<Relay> relays;
    std::set<QString> relayFaults;              // relays whose scripted answer is the relay's fault
    QSet<QString> failedRelays;                 // relays that failed by their own fault with the link up
    QHash<QString, QDateTime> hiddenElsewhere;  // their real-time ends
    QSet<QString> everHiddenElsewhere;
    std::vector<std::unique_ptr<test::Gate>> gates;
    std::optional<std::size_t> stoppedAt;  // provider connects when the user last stopped
    std::optional<QString> explicitPick;
    std::size_t connectsAtPick = 0;
    bool lostBehindTheModel = false;  // the tunnel went while Connected; the model learns at a tick
};

std::vector<Event> randomEvents(QRandomGenerator& random) {
    std::vector<Event> events(std::size_t(random.bounded(8, 40)));
    for (Event& event : events) {
        event.kind = Kind(random.bounded(int(Kind::count)));
        event.relay = random.bounded(4);
    }
    return events;
}

std::optional<std::string> replay(const std::vector<Event>& events, int* eventsRun = nullptr) {
    Run run;
    auto broken = run.play(events);
    if (eventsRun) *eventsRun += run.eventsRun;
    return broken;
}

// Drops events one at a time while the same rule still breaks.
std::vector<Event> shorten(std::vector<Event> events, const std::string& broken) {
    for (std::size_t index = events.size(); index-- > 0;) {
        auto fewer = events;
        fewer.erase(fewer.begin() + std::ptrdiff_t(index));
        if (replay(fewer) == broken) events = std::move(fewer);
    }
    return events;
}

int fromEnvironment(const char* name, int fallback) {
    const char* text = std::getenv(name);
    return text && *text ? std::atoi(text) : fallback;
}

TEST(AppModelCheck, RandomOrdersOfEventsKeepEveryRule) {
    // Settings files on a memory file system: their writes wait for the disk otherwise.
    if (QFileInfo(QStringLiteral("/dev/shm")).isWritable()) qputenv("TMPDIR", "/dev/shm");
    const int sequences = fromEnvironment("ORLUNE_MODEL_CHECK_SEQUENCES", 3000);
    const int anySeed = int(QRandomGenerator::global()->bounded(1 << 30));
    const quint32 seed = quint32(fromEnvironment("ORLUNE_MODEL_CHECK_SEED", anySeed));
    // Said first: a crash mid-run must still tell which seed replays it.
    std::printf("model check: seed %u\n", seed);
    std::fflush(stdout);
    QRandomGenerator random(seed);
    int eventsRun = 0;
    for (int sequence = 0; sequence < sequences; ++sequence) {
        const auto events = randomEvents(random);
        if (auto broken = replay(events, &eventsRun)) {
            const auto shortest = shorten(events, *broken);
            FAIL() << "seed " << seed << ", sequence " << sequence << ": " << *broken
                   << "\n  after: " << describe(shortest);
        }
    }
    std::printf("model check: %d sequences, %d events\n", sequences, eventsRun);
}

}  // namespace
}  // namespace orlune
