// The connect flow: checks before any relay is contacted, then same-country failover.

#include <QPointer>

#include <utility>

#include "catalog/catalog_cache.h"
#include "model/app_model.h"
#include "model/cancellation.h"
#include "model/model_messages.h"
#include "model/relay_memory.h"
#include "network/interface_names.h"
#include "network/step_trace.h"

namespace orlune {
namespace {

using model_detail::describe;
using model_detail::tunnelErrorKind;

const QString kSelectFirst = QStringLiteral("Select a live server first. A selection is not a connection.");
const QString kChecksFailedNoServerContacted = QStringLiteral(
    "Internet access could not be verified: Wi-Fi/Ethernet is up, but all independent external checks failed. No "
    "VPN server was contacted.");
const QString kPublicIPUnusable = QStringLiteral(
    "Internet checks succeeded, but the public-IP services did not return a usable address. No VPN connection was "
    "started.");
const QString kFeedNotRefreshed = QStringLiteral("The provider feed could not be refreshed.");

// Why a verification the provider returned does not prove the tunnel; null when it does.
std::exception_ptr verificationFailure(const TunnelVerification& v, const Relay& relay, const QString& original) {
    const bool countryMatches =
        v.exitCountryCode && v.exitCountryCode->compare(relay.countryCode, Qt::CaseInsensitive) == 0;
    if (v.isTunnelActive && v.vpnPublicIP && *v.vpnPublicIP != original && countryMatches && v.tunnelInterface &&
        v.tunnelInterface->startsWith(kTunnelInterfacePrefix)) {
        return nullptr;
    }
    if (countryMatches) return std::make_exception_ptr(TunnelError(TunnelError::Kind::providerDidNotVerify));
    return std::make_exception_ptr(
        TunnelError::countryMismatch(relay.countryCode.toUpper().toStdString(),
                                     v.exitCountryCode.value_or(QStringLiteral("Unavailable")).toStdString()));
}

}  // namespace

quint64 AppModel::beginAttempt() {
    // Every user action, and the reconnection, replaces whatever was pending.
    reconnectWhenNetworkReturns_ = false;
    connectionAttemptID_ = ++nextAttempt_;
    return *connectionAttemptID_;
}

void AppModel::endAttempt(QString failure) {
    setConnectionState(ConnectionState::failed(std::move(failure)));
    connectionAttemptID_.reset();
}

QCoro::Task<> AppModel::connectSelected() {
    if (!selected_) {
        setPage(QStringLiteral("Servers"));
        setCatalogMessage(kSelectFirst);
        co_return;
    }
    co_await connectTo(*selected_);
}

QCoro::Task<> AppModel::retryConnection() {
    if (!selected_) {
        setPage(QStringLiteral("Servers"));
        co_return;
    }
    co_await connectTo(*selected_);
}

QCoro::Task<> AppModel::quickConnect() {
    if (loading_) co_return;
    std::optional<Relay> relay;
    if (selectedCountryCode_) relay = bestRelay(*selectedCountryCode_);
    if (!relay) {
        const auto recommended = recommendedRelays();
        if (!recommended.empty()) relay = recommended.front();
    }
    if (!relay) {
        setConnectionState(ConnectionState::failed(describe(TunnelError::Kind::noCompatibleServer)));
        co_return;
    }
    setSelected(relay);
    setSelectedCountryCode(relay->countryCode);
    explicitPick_ = false;
    co_await connectTo(*relay);
}

namespace {

QCoro::Task<bool> timedReachability(NetworkChecks& network) {
    StepTimer step("reachability");
    co_return co_await network.isInternetReachable();
}

QCoro::Task<std::optional<QString>> timedAddress(NetworkChecks& network) {
    StepTimer step("address_before");
    try {
        co_return co_await network.publicIP();
    } catch (...) {
        co_return std::nullopt;
    }
}

}  // namespace

QCoro::Task<bool> AppModel::timedRefresh() {
    StepTimer step("catalog");
    co_return co_await refreshCatalog();
}

AppModel::ConnectChecks AppModel::startConnectChecks() {
    // None waits for another: all three are in flight before the first answer is read, so the
    // checks cost the slowest of them rather than their sum. Their answers are still read in
    // the order below, and the first that fails ends the attempt with its own reason.
    return ConnectChecks{timedReachability(*network_), timedRefresh(), timedAddress(*network_)};
}

QCoro::Task<bool> AppModel::prepareConnect() {
    ConnectChecks running = startConnectChecks();
    CheckOutcome outcome;
    outcome.reachable = co_await running.reachable;
    outcome.refreshed = co_await running.refreshed;
    outcome.original = co_await running.original;
    outcome.at = clock_->now();
    preparedChecks_ = outcome;
    co_return outcome.refreshed;
}

QCoro::Task<bool> AppModel::checkNetworkAndRefresh(quint64 attempt, std::optional<QString>& original) {
    setConnectionState(ConnectionState::connecting(QStringLiteral("Checking Wi-Fi/Ethernet and internet access…")));
    // Answers the command line asked for just before (while it loaded the catalog) serve once.
    std::optional<CheckOutcome> prepared = std::exchange(preparedChecks_, std::nullopt);
    if (prepared && prepared->at.secsTo(clock_->now()) > kPreparedChecksLifetimeSeconds) prepared.reset();
    std::optional<ConnectChecks> running;
    if (!prepared) running = startConnectChecks();

    // Plain statements around each co_await: GCC 12 mishandles one inside a conditional operator.
    bool reachable = false;
    if (prepared) {
        reachable = prepared->reachable;
    } else {
        reachable = co_await running->reachable;
    }
    if (!isCurrent(attempt)) co_return false;
    if (!reachable) {
        const bool physical = network_->isPhysicalNetworkInterfaceUp();
        setOffline(!physical);
        endAttempt(physical ? kChecksFailedNoServerContacted : describe(TunnelError::Kind::noInternet));
        co_return false;
    }
    setOffline(false);
    setConnectionState(ConnectionState::connecting(QStringLiteral("Refreshing the live server catalog…")));
    bool refreshed = false;
    if (prepared) {
        refreshed = prepared->refreshed;
    } else {
        refreshed = co_await running->refreshed;
    }
    if (!isCurrent(attempt)) co_return false;
    if (!refreshed) {
        // The kept catalog stands in for the live one while it is recent enough; the profile
        // then comes from it too, unless a live source answers by then.
        if (!keptCatalogDate_ || keptCatalogTooOld()) {
            endAttempt(catalogMessage_.value_or(kFeedNotRefreshed));
            co_return false;
        }
        setConnectionState(ConnectionState::connecting(
            QStringLiteral("Using the catalog from %1 — the live catalog could not be loaded.")
                .arg(catalogAgeText(*keptCatalogDate_, clock_->now()))));
    }
    // The address before the tunnel: proof that the tunnel changed it.
    setConnectionState(ConnectionState::connecting(QStringLiteral("Checking your original public IP…")));
    if (prepared) {
        original = prepared->original;
    } else {
        original = co_await running->original;
    }
    co_return isCurrent(attempt);
}

QCoro::Task<std::optional<QString>> AppModel::readOriginalAddress(quint64 attempt, std::optional<QString> original) {
    if (!original) {
        const bool stillReachable = co_await network_->isInternetReachable();
        // A newer attempt or a disconnect may have taken over during that check.
        if (!isCurrent(attempt)) co_return std::nullopt;
        setOffline(!network_->isPhysicalNetworkInterfaceUp());
        endAttempt(stillReachable ? kPublicIPUnusable : describe(TunnelError::Kind::noInternet));
        co_return std::nullopt;
    }
    if (originalPublicIP_ != original) {
        originalPublicIP_ = original;
        emit publicIPChanged();
    }
    setPublicIP(original);
    co_return original;
}

QCoro::Task<> AppModel::connectRecentlyWorked(QString relayId) {
    for (const RelayRecord& record : recentlyWorkedRelays()) {
        if (record.relay.id != relayId) continue;
        co_await connectTo(record.relay, record.profile);
        co_return;
    }
    setConnectionState(ConnectionState::failed(
        QStringLiteral("That relay is not among those that worked recently and left the list. Refresh the catalog "
                       "or pick a listed server.")));
}

QCoro::Task<> AppModel::connectTo(Relay requested, QString keptProfile) {
    if (connectionState_.isConnected()) co_return;
    const quint64 attempt = beginAttempt();
    const QString country = requested.country;
    const QString countryHeading = country.toUpper();
    tunnelProvider_->setLeakProtection(leakProtection());
    // While the block holds (after a loss or a failed attempt) nothing but a relay answers: the
    // catalog and the address read before it closed serve.
    const bool closed = tunnelProvider_->holdsBlock() && originalPublicIP_;
    std::optional<QString> found;
    if (!closed && !co_await checkNetworkAndRefresh(attempt, found)) co_return;
    const std::vector<Relay> candidates =
        keptProfile.isEmpty() ? connectionCandidates(recommendedRelays(), requested, mismatchedRelayIDs_,
                                                     maxRecommendedRelaysPerCountry())
                              : std::vector<Relay>{requested};
    if (candidates.empty()) {
        endAttempt(countryHeading +
                   " — CONNECTION FAILED / NO CURRENT LIVE RELAYS MEET YOUR SETTINGS. Refresh the catalog or relax the "
                   "speed/ping filters.");
        co_return;
    }
    std::optional<QString> original = originalPublicIP_;
    if (!closed) original = co_await readOriginalAddress(attempt, std::move(found));
    if (!original) co_return;

    QStringList failureLines;
    const int count = int(candidates.size());
    for (int index = 0; index < count; ++index) {
        const Relay& relay = candidates[std::size_t(index)];
        setSelected(relay);
        setConnectionState(ConnectionState::connecting(country + " · trying " + relay.name + " · server " +
                                                       QString::number(index + 1) + " of " + QString::number(count) +
                                                       "…"));
        // Lines arrive on this thread while the provider works; a line that comes after the
        // attempt was replaced, or after it ended, is dropped.
        QPointer<AppModel> self(this);
        auto progress = [self, attempt](const QString& line) {
            if (self && self->isCurrent(attempt) && self->connectionState_.isConnecting()) {
                self->setConnectionState(ConnectionState::connecting(line));
            }
        };

        std::optional<TunnelVerification> verification;
        std::exception_ptr error;
        tunnelOwner_ = attempt;
        if (!keptProfile.isEmpty()) tunnelProvider_->useKeptProfile(relay.id, keptProfile);
        try {
            verification = co_await tunnelProvider_->connect(relay, original, progress);
        } catch (...) {
            error = std::current_exception();
        }

        if (!isCurrent(attempt)) {
            // A newer action owns the state now; what this attempt started must not stay up
            // behind it, unless a newer attempt started its own (which replaces it) or a stop
            // cancelled it (which ended it).
            if (tunnelOwner_ != attempt || (error && isCancellation(error))) co_return;
            try {
                co_await tunnelProvider_->disconnect();
            } catch (...) {
            }
            co_return;
        }
        if (verification) {
            error = verificationFailure(*verification, relay, *original);
            if (!error) {
                setPublicIP(verification->vpnPublicIP);
                setConnectionState(ConnectionState::connected(clock_->now(), relay, *verification->vpnPublicIP));
                recordOutcome(relay, true, verification->profile);
                co_return;
            }
        }

        const QString description = describe(error);
        const auto kind = tunnelErrorKind(error);
        // A relay answers for a failure only while this computer's link was up.
        if (shouldQuarantine(error) && network_->isPhysicalNetworkInterfaceUp()) {
            if (kind == TunnelError::Kind::countryMismatch) addMismatch(relay.id);
            syncQuarantine(&relay);
            recordOutcome(relay, false);
        }
        if (kind == TunnelError::Kind::backendCommandFailed || kind == TunnelError::Kind::backendUnavailable) {
            endAttempt(countryHeading + " — profile setup needs attention. " + description);
            co_return;
        }

        std::exception_ptr cleanupError;
        try {
            co_await tunnelProvider_->disconnect();
        } catch (...) {
            cleanupError = std::current_exception();
        }
        if (!isCurrent(attempt)) co_return;
        if (cleanupError) {
            endAttempt(countryHeading + " — " + relay.name + " failed: " + description +
                       " Cleanup also could not confirm the VPN stopped: " + describe(cleanupError) +
                       ". No other relay was started.");
            co_return;
        }
        failureLines.append(relay.name + ": " + description);
    }

    if (selected_) {
        const auto eligible = eligibleRelays();
        if (std::find(eligible.begin(), eligible.end(), *selected_) == eligible.end()) setSelected(std::nullopt);
    }
    endAttempt(countryHeading + " — CONNECTION FAILED / NO WORKING SERVER. Tried " + QString::number(count) +
               " live relays in " + country + "; no other country was attempted. " + failureLines.join(u" • "));
}

}  // namespace orlune
