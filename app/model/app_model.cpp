#include "model/app_model.h"
#include "model/detached_task.h"

#include <QPointer>

#include <qcoro/qcorosignal.h>

#include <algorithm>

#include "model/cancellation.h"
#include "model/relay_memory.h"
#include "tunnel/tunnel_error.h"

namespace orlune {
namespace {

using namespace std::chrono_literals;

// Tunnel interfaces carry this prefix (OpenVPN names them tun0, tun1, …).
#if defined(__APPLE__)
constexpr QStringView kTunnelPrefix = u"utun";
#else
constexpr QStringView kTunnelPrefix = u"tun";
#endif

constexpr auto kUnsettledPathDelay = 1500ms;
constexpr auto kSecondChanceDelay = 3000ms;

const QString kEmptyCatalog = QStringLiteral("The provider returned no live servers with an OpenVPN configuration.");
const QString kNothingMeetsFilter =
    QStringLiteral("No live relays met the quality filter (provider ping ≤ 250 ms and speed ≥ 10 Mbps).");
const QString kSelectedCountryGone = QStringLiteral(
    "No recommended live relay remains for the previously selected country. Choose another country.");
const QString kSelectedRelayGone =
    QStringLiteral("Your selected relay is no longer in the live catalog. Choose another server.");
const QString kSelectFirst = QStringLiteral("Select a live server first. A selection is not a connection.");
const QString kChecksFailedNoServerContacted = QStringLiteral(
    "Internet access could not be verified: Wi-Fi/Ethernet is up, but all independent external checks failed. No "
    "VPN server was contacted.");
const QString kPublicIPUnusable = QStringLiteral(
    "Internet checks succeeded, but the public-IP services did not return a usable address. No VPN connection was "
    "started.");
const QString kFeedNotRefreshed = QStringLiteral("The provider feed could not be refreshed.");
const QString kHealthCheckFailed = QStringLiteral(
    "The VPN health check failed while Wi-Fi/Ethernet remains up. Orlune VPN is stopping the tunnel safely.");
const QString kPhysicalLinkLost = QStringLiteral(
    "No Internet Connection: the physical network interface went down. Orlune VPN is stopping the tunnel safely.");

QString describe(const std::exception_ptr& error) {
    try {
        std::rethrow_exception(error);
    } catch (const TunnelError& tunnelError) {
        return QString::fromStdString(tunnelError.errorDescription());
    } catch (const std::exception& other) {
        return QString::fromUtf8(other.what());
    } catch (...) {
        return QStringLiteral("An unexpected error occurred.");
    }
}

std::optional<TunnelError::Kind> tunnelErrorKind(const std::exception_ptr& error) {
    try {
        std::rethrow_exception(error);
    } catch (const TunnelError& tunnelError) {
        return tunnelError.kind();
    } catch (...) {
        return std::nullopt;
    }
}

QString describe(TunnelError::Kind kind) {
    return QString::fromStdString(TunnelError(kind).errorDescription());
}

bool sameCode(const QString& a, const QString& b) {
    return a.compare(b, Qt::CaseInsensitive) == 0;
}

}  // namespace

AppModel::AppModel(Dependencies dependencies, QObject* parent)
    : QObject(parent),
      preferences_(*dependencies.preferences),
      catalogProvider_(std::move(dependencies.catalogProvider)),
      tunnelProvider_(std::move(dependencies.tunnelProvider)),
      network_(std::move(dependencies.network)),
      clock_(std::move(dependencies.clock)),
      pathMonitor_(std::move(dependencies.pathMonitor)) {
    quarantinedUntil_ = readQuarantine(preferences_, clock_->now());
    selectedCountryCode_ = preferences_.stringValue(PreferenceKey::selectedCountryCode);
    favorites_ = readFavorites(preferences_);
    favoriteSnapshots_ = readFavoriteSnapshots(preferences_);
    // Any preference may be a quality limit; the rankings are re-read on every change.
    connect(&preferences_, &Preferences::changed, this, &AppModel::rankingsChanged);
    connect(this, &AppModel::connectionStateChanged, this, &AppModel::isConnectionBusyChanged);
    connect(this, &AppModel::isStoppingTunnelChanged, this, &AppModel::isConnectionBusyChanged);
    for (auto changed : {&AppModel::relaysChanged, &AppModel::quarantinedUntilChanged,
                         &AppModel::mismatchedRelayIDsChanged, &AppModel::favoritesChanged}) {
        connect(this, changed, this, &AppModel::rankingsChanged);
    }
}

AppModel::~AppModel() = default;

void AppModel::start() {
    startMonitoring();
    detach(startupSequence());
}

void AppModel::startMonitoring() {
    if (healthTimer_.isActive()) return;
    if (pathMonitor_) {
        connect(pathMonitor_.get(), &NetworkPathMonitor::pathChanged, this, &AppModel::handleNetworkPath);
        pathMonitor_->start();
    }
    healthTimer_.setInterval(kHealthInterval);
    connect(&healthTimer_, &QTimer::timeout, this, &AppModel::healthTick);
    healthTimer_.start();
}

QCoro::Task<> AppModel::startupSequence() {
    try {
        co_await tunnelProvider_->recoverStaleConnections();
    } catch (...) {
        setConnectionState(ConnectionState::failed("Could not safely stop a previous Orlune tunnel: " +
                                                   describe(std::current_exception())));
    }
    co_await refreshCatalog();
    co_await refreshPublicIP();
    if (preferences_.boolValue(PreferenceKey::connectOnLaunch).value_or(false) && selected_) {
        co_await connectSelected();
    }
}

// ---- Derived views ----------------------------------------------------------------------

QualityLimits AppModel::limits() const {
    return QualityLimits::fromStored(preferences_.intValue(PreferenceKey::maxPingMilliseconds),
                                     preferences_.intValue(PreferenceKey::minimumSpeedMbps),
                                     preferences_.intValue(PreferenceKey::maxRelaysPerCountry));
}

RankingInputs AppModel::rankingInputs() const {
    return {relays_, limits(), quarantinedUntil_, mismatchedRelayIDs_, clock_->now()};
}

std::vector<Relay> AppModel::eligibleRelays() const {
    return orlune::eligibleRelays(rankingInputs());
}

std::vector<Relay> AppModel::recommendedRelays() const {
    return orlune::recommendedRelays(rankingInputs());
}

QStringList AppModel::countries() const {
    return orlune::countries(recommendedRelays());
}

std::vector<CountryChoice> AppModel::countryChoices() const {
    return orlune::countryChoices(recommendedRelays());
}

std::optional<Relay> AppModel::bestRelay(QStringView code) const {
    return orlune::bestRelay(recommendedRelays(), code);
}

std::vector<FavoriteEntry> AppModel::favoriteRelays() const {
    return orlune::favoriteRelays(favorites_, favoriteSnapshots_, relays_, eligibleRelays());
}

std::optional<Relay> AppModel::connectedRelay() const {
    return connectionState_.isConnected() ? connectionState_.relay : std::nullopt;
}

std::optional<QString> AppModel::connectedIP() const {
    if (!connectionState_.isConnected()) return std::nullopt;
    return connectionState_.vpnIP;
}

// ---- Catalog ----------------------------------------------------------------------------

QCoro::Task<bool> AppModel::refreshCatalog() {
    // A second caller shares the running refresh's outcome rather than the previous one's.
    if (loading_) co_return co_await qCoro(this, &AppModel::catalogRefreshFinished);
    setLoading(true);
    syncQuarantine();
    setCatalogMessage(std::nullopt);

    std::vector<Relay> fetched;
    std::exception_ptr error;
    try {
        fetched = co_await catalogProvider_->fetch();
    } catch (...) {
        error = std::current_exception();
    }

    if (error) {
        setCatalogRefreshSucceeded(false);
        const bool reachable = co_await network_->isInternetReachable();
        const bool physical = network_->isPhysicalNetworkInterfaceUp();
        setOffline(!physical);
        if (reachable) {
            setCatalogMessage("Internet is available, but VPN Gate's live catalog request failed: " + describe(error) +
                              ". Existing data is kept; refresh and retry.");
        } else if (physical) {
            setCatalogMessage(QStringLiteral(
                "Internet access could not be verified: Wi-Fi/Ethernet is up, but all independent external checks "
                "failed. Existing server data is kept; check the route and retry."));
        } else {
            setCatalogMessage(QStringLiteral(
                "No Internet Connection: the physical network interface is down. Existing server data is kept."));
        }
        finishRefresh(false);
        co_return false;
    }

    // A later record of the same relay replaces an earlier one.
    QHash<QString, std::size_t> position;
    std::vector<Relay> unique;
    for (Relay& relay : fetched) {
        if (auto found = position.constFind(relay.id); found != position.constEnd()) {
            unique[*found] = std::move(relay);
        } else {
            position.insert(relay.id, unique.size());
            unique.push_back(std::move(relay));
        }
    }
    std::stable_sort(unique.begin(), unique.end(), Relay::recommendedOrder);
    setRelays(std::move(unique));

    if (relays_.empty()) {
        setCatalogMessage(kEmptyCatalog);
    } else if (recommendedRelays().empty()) {
        setCatalogMessage(kNothingMeetsFilter);
    } else {
        setCatalogMessage(std::nullopt);
    }

    if (connectionState_.isFailed() || connectionState_.isDisconnected()) {
        const auto eligible = eligibleRelays();
        const auto stillListed = [&](const Relay& pick) {
            return std::find_if(eligible.begin(), eligible.end(), [&](const Relay& r) { return r.id == pick.id; });
        };
        if (explicitPick_ && selected_ && stillListed(*selected_) != eligible.end()) {
            // The user's own pick stands while the catalog lists it and it is not hidden.
            setSelected(*stillListed(*selected_));
        } else if (selectedCountryCode_) {
            explicitPick_ = false;
            if (auto best = bestRelay(*selectedCountryCode_)) {
                setSelected(best);
            } else {
                setSelected(std::nullopt);
                setSelectedCountryCode(std::nullopt);
                setCatalogMessage(kSelectedCountryGone);
            }
        } else if (selected_) {
            auto found = stillListed(*selected_);
            if (found != eligible.end()) {
                auto best = bestRelay(found->countryCode);
                setSelected(best ? *best : *found);
            } else {
                setSelected(std::nullopt);
                setSelectedCountryCode(std::nullopt);
                setCatalogMessage(kSelectedRelayGone);
            }
        }
    }

    bool snapshotsChanged = false;
    for (const Relay& relay : relays_) {
        if (favorites_.contains(relay.id)) {
            favoriteSnapshots_.insert(relay.id, relay);
            snapshotsChanged = true;
        }
    }
    if (snapshotsChanged) {
        writeFavoriteSnapshots(preferences_, favoriteSnapshots_);
        emit favoritesChanged();
    }

    setLastUpdated(clock_->now());
    setOffline(false);
    setCatalogRefreshSucceeded(true);
    finishRefresh(true);
    co_return true;
}

void AppModel::finishRefresh(bool succeeded) {
    setLoading(false);
    emit catalogRefreshFinished(succeeded);
}

void AppModel::select(const Relay& relay) {
    const auto eligible = eligibleRelays();
    if (std::find(eligible.begin(), eligible.end(), relay) == eligible.end()) return;
    setSelected(relay);
    setSelectedCountryCode(relay.countryCode);
    explicitPick_ = true;
    if (connectionState_.isFailed()) setConnectionState(ConnectionState::disconnected());
}

void AppModel::selectCountry(const QString& code) {
    if (loading_ || isConnectionBusy()) return;
    const auto best = bestRelay(code);
    if (!best) return;
    setSelectedCountryCode(best->countryCode);
    setSelected(best);
    explicitPick_ = false;
    if (connectionState_.isFailed()) setConnectionState(ConnectionState::disconnected());
}

// ---- Hidden, mismatched and favourite relays ---------------------------------------------

void AppModel::syncQuarantine(const Relay* hiding) {
    const QDateTime now = clock_->now();
    // Another process (the command line, a second window) may have hidden relays meanwhile.
    preferences_.reload();
    // Every stored entry, ended ones included, so that those are dropped from the file too.
    const auto stored = readQuarantine(preferences_, QDateTime::fromSecsSinceEpoch(0, Qt::UTC));
    auto merged = mergeQuarantine(stored, quarantinedUntil_, now);
    if (hiding) merged.insert(hiding->id, now.addSecs(kQuarantineSeconds));
    if (merged != stored) writeQuarantine(preferences_, merged);
    if (merged == quarantinedUntil_) return;
    quarantinedUntil_ = std::move(merged);
    emit quarantinedUntilChanged();
}

void AppModel::addMismatch(const QString& id) {
    if (mismatchedRelayIDs_.contains(id)) return;
    mismatchedRelayIDs_.insert(id);
    emit mismatchedRelayIDsChanged();
}

void AppModel::toggleFavorite(const Relay& relay) {
    if (favorites_.contains(relay.id)) {
        favorites_.remove(relay.id);
        favoriteSnapshots_.remove(relay.id);
    } else {
        favorites_.insert(relay.id);
        favoriteSnapshots_.insert(relay.id, relay);
    }
    writeFavoriteSnapshots(preferences_, favoriteSnapshots_);
    writeFavorites(preferences_, favorites_);
    emit favoritesChanged();
}

// ---- Connect ------------------------------------------------------------------------------

quint64 AppModel::beginAttempt() {
    // Every user action, and the reconnection, replaces whatever was pending.
    reconnectWhenNetworkReturns_ = false;
    connectionAttemptID_ = ++nextAttempt_;
    return *connectionAttemptID_;
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

QCoro::Task<> AppModel::connectTo(Relay requested) {
    if (connectionState_.isConnected()) co_return;
    const quint64 attempt = beginAttempt();
    setConnectionState(ConnectionState::connecting(QStringLiteral("Checking Wi-Fi/Ethernet and internet access…")));
    const bool reachable = co_await network_->isInternetReachable();
    if (!isCurrent(attempt)) co_return;
    if (!reachable) {
        const bool physical = network_->isPhysicalNetworkInterfaceUp();
        setOffline(!physical);
        setConnectionState(ConnectionState::failed(physical ? kChecksFailedNoServerContacted
                                                            : describe(TunnelError::Kind::noInternet)));
        connectionAttemptID_.reset();
        co_return;
    }

    setOffline(false);
    const QString country = requested.country;
    const QString countryHeading = country.toUpper();
    const QString targetCode = requested.countryCode.toUpper();
    setConnectionState(ConnectionState::connecting(QStringLiteral("Refreshing the live server catalog…")));
    const bool refreshed = co_await refreshCatalog();
    if (!isCurrent(attempt)) co_return;
    if (!refreshed) {
        setConnectionState(ConnectionState::failed(catalogMessage_.value_or(kFeedNotRefreshed)));
        connectionAttemptID_.reset();
        co_return;
    }

    std::vector<Relay> ofCountry;
    for (const Relay& relay : recommendedRelays()) {
        if (relay.supportsOpenVPN && relay.countryCode.toUpper() == targetCode &&
            !mismatchedRelayIDs_.contains(relay.id)) {
            ofCountry.push_back(relay);
        }
    }
    std::stable_sort(ofCountry.begin(), ofCountry.end(), Relay::recommendedOrder);
    std::vector<Relay> candidates;
    if (!ofCountry.empty()) {
        auto preferred = std::find_if(ofCountry.begin(), ofCountry.end(),
                                      [&](const Relay& relay) { return relay.id == requested.id; });
        if (preferred == ofCountry.end()) preferred = ofCountry.begin();
        candidates.push_back(*preferred);
        for (auto it = ofCountry.begin(); it != ofCountry.end(); ++it) {
            if (it != preferred) candidates.push_back(*it);
        }
        candidates.resize(std::min<std::size_t>(candidates.size(), std::size_t(maxRecommendedRelaysPerCountry())));
    }
    if (candidates.empty()) {
        setConnectionState(ConnectionState::failed(
            countryHeading + " — CONNECTION FAILED / NO CURRENT LIVE RELAYS MEET YOUR SETTINGS. Refresh the catalog "
                             "or relax the speed/ping filters."));
        connectionAttemptID_.reset();
        co_return;
    }

    setConnectionState(ConnectionState::connecting(QStringLiteral("Checking your original public IP…")));
    std::optional<QString> original;
    try {
        original = co_await network_->publicIP();
    } catch (...) {
    }
    if (!original) {
        if (!isCurrent(attempt)) co_return;
        const bool stillReachable = co_await network_->isInternetReachable();
        // A newer attempt or a disconnect may have taken over during that check.
        if (!isCurrent(attempt)) co_return;
        setOffline(!network_->isPhysicalNetworkInterfaceUp());
        setConnectionState(ConnectionState::failed(stillReachable ? kPublicIPUnusable
                                                                  : describe(TunnelError::Kind::noInternet)));
        connectionAttemptID_.reset();
        co_return;
    }
    if (!isCurrent(attempt)) co_return;
    if (originalPublicIP_ != original) {
        originalPublicIP_ = original;
        emit publicIPChanged();
    }
    setPublicIP(original);

    QStringList failureLines;
    const int count = int(candidates.size());
    for (int index = 0; index < count; ++index) {
        const Relay& relay = candidates[std::size_t(index)];
        setSelected(relay);
        setConnectionState(ConnectionState::connecting(country + " · trying " + relay.name + " · server " +
                                                       QString::number(index + 1) + " of " +
                                                       QString::number(count) + "…"));
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
            const auto& v = *verification;
            const bool countryMatches = v.exitCountryCode && sameCode(*v.exitCountryCode, relay.countryCode);
            if (v.isTunnelActive && v.vpnPublicIP && *v.vpnPublicIP != *original && countryMatches &&
                v.tunnelInterface && v.tunnelInterface->startsWith(kTunnelPrefix)) {
                setPublicIP(v.vpnPublicIP);
                setConnectionState(ConnectionState::connected(clock_->now(), relay, *v.vpnPublicIP));
                co_return;
            }
            if (countryMatches) {
                error = std::make_exception_ptr(TunnelError(TunnelError::Kind::providerDidNotVerify));
            } else {
                error = std::make_exception_ptr(TunnelError::countryMismatch(
                    targetCode.toStdString(), v.exitCountryCode.value_or(QStringLiteral("Unavailable")).toStdString()));
            }
        }

        const QString description = describe(error);
        const auto kind = tunnelErrorKind(error);
        // A relay answers for a failure only while this computer's link was up.
        if (shouldQuarantine(error) && network_->isPhysicalNetworkInterfaceUp()) {
            if (kind == TunnelError::Kind::countryMismatch) addMismatch(relay.id);
            syncQuarantine(&relay);
        }
        if (kind == TunnelError::Kind::backendCommandFailed || kind == TunnelError::Kind::backendUnavailable) {
            setConnectionState(
                ConnectionState::failed(countryHeading + " — profile setup needs attention. " + description));
            connectionAttemptID_.reset();
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
            setConnectionState(ConnectionState::failed(countryHeading + " — " + relay.name + " failed: " +
                                                       description +
                                                       " Cleanup also could not confirm the VPN stopped: " +
                                                       describe(cleanupError) + ". No other relay was started."));
            connectionAttemptID_.reset();
            co_return;
        }
        failureLines.append(relay.name + ": " + description);
    }

    if (selected_) {
        const auto eligible = eligibleRelays();
        if (std::find(eligible.begin(), eligible.end(), *selected_) == eligible.end()) setSelected(std::nullopt);
    }
    setConnectionState(ConnectionState::failed(
        countryHeading + " — CONNECTION FAILED / NO WORKING SERVER. Tried " + QString::number(count) +
        " live relays in " + country + "; no other country was attempted. " + failureLines.join(u" • ")));
    connectionAttemptID_.reset();
}

// ---- Disconnect and network handling ------------------------------------------------------

QCoro::Task<> AppModel::disconnect() {
    // The newest action wins: a pending reconnection or a running attempt ends here.
    userStopAction_ = beginAttempt();
    connectionAttemptID_.reset();
    // One stop is enough, unless a tunnel was asked for after the running one began.
    if (userStopsRunning_ > 0 && tunnelOwner_ == ownerAtStop_) co_return;
    ownerAtStop_ = tunnelOwner_;
    ++userStopsRunning_;
    setStoppingTunnel(true);
    std::exception_ptr error;
    try {
        co_await tunnelProvider_->disconnect();
    } catch (...) {
        error = std::current_exception();
    }
    if (--userStopsRunning_ > 0) co_return;  // the later stop reports
    if (nextAttempt_ != userStopAction_) {
        // A newer connect owns the state now.
        setStoppingTunnel(false);
        co_return;
    }
    if (error) {
        setConnectionState(ConnectionState::failed(
            "Could not stop the Orlune VPN tunnel and restore normal internet routing: " + describe(error)));
        setStoppingTunnel(false);
        co_return;
    }
    setConnectionState(ConnectionState::disconnected());
    co_await refreshPublicIP();
    setStoppingTunnel(false);
}

QCoro::Task<std::optional<QString>> AppModel::serviceEngineVersion() {
    std::optional<QString> version = co_await tunnelProvider_->engineVersion();
    co_return version;
}

QCoro::Task<> AppModel::refreshPublicIP() {
    std::optional<QString> address;
    try {
        address = co_await network_->publicIP();
    } catch (...) {
    }
    setPublicIP(address);
}

void AppModel::handleNetworkPath(NetworkPathStatus status) {
    // A newer report replaces the pending probe: the older one changes nothing after its wait.
    const quint64 probe = ++probeGeneration_;
    detach(probeNetwork(status, probe));
}

QCoro::Task<> AppModel::probeNetwork(NetworkPathStatus status, quint64 probe) {
    if (status != NetworkPathStatus::satisfied) co_await clock_->sleep(kUnsettledPathDelay);
    if (!probeIsValid(probe)) co_return;
    bool reachable = co_await network_->isInternetReachable();
    if (!reachable && network_->isPhysicalNetworkInterfaceUp()) {
        co_await clock_->sleep(kSecondChanceDelay);
        if (!probeIsValid(probe)) co_return;
        reachable = co_await network_->isInternetReachable();
    }
    if (connectionState_.isConnected()) {
        const TunnelHealth health = co_await tunnelProvider_->tunnelHealth();
        if (probe != probeGeneration_ || isConnectionBusy() || !connectionState_.isConnected()) co_return;
        // A stop asked for elsewhere (the command line) is the user's stop, not a loss,
        // whatever the network does.
        if (health == TunnelHealth::stoppedOnRequest) {
            beginAttempt();
            connectionAttemptID_.reset();
            setConnectionState(ConnectionState::disconnected());
            co_await refreshPublicIP();
            co_return;
        }
        // A dead tunnel on a working network is handled as a loss.
        if (reachable) {
            co_await applyInternetStatus(health == TunnelHealth::active);
            co_return;
        }
    }
    if (!probeIsValid(probe)) co_return;
    co_await applyInternetStatus(reachable);
}

QCoro::Task<> AppModel::applyInternetStatus(bool reachable) {
    const bool physical = network_->isPhysicalNetworkInterfaceUp();
    setOffline(!physical);
    if (reachable) {
        if (reconnectWhenNetworkReturns_ && !isStoppingTunnel_) {
            reconnectWhenNetworkReturns_ = false;
            co_await reconnectAfterLoss();
        }
        co_return;
    }
    if (!connectionState_.isConnected()) co_return;
    const quint64 action = nextAttempt_;
    reconnectWhenNetworkReturns_ = true;
    setConnectionState(ConnectionState::failed(physical ? kHealthCheckFailed : kPhysicalLinkLost));
    setStoppingTunnel(true);
    co_await stopAfterLoss(action);
}

QCoro::Task<> AppModel::stopAfterLoss(quint64 action) {
    try {
        co_await tunnelProvider_->disconnect();
    } catch (...) {
        // The loss text gives way to the reason the stop is unconfirmed, unless the user acted since.
        if (nextAttempt_ == action) {
            setConnectionState(ConnectionState::failed("Network interrupted and tunnel stop was not confirmed: " +
                                                       describe(std::current_exception())));
        }
    }
    if (userStopsRunning_ == 0) setStoppingTunnel(false);
}

QCoro::Task<> AppModel::reconnectAfterLoss() {
    // The reconnection is an attempt of its own: any user action during its reset replaces it.
    const quint64 attempt = beginAttempt();
    std::exception_ptr error;
    try {
        co_await tunnelProvider_->disconnect();
    } catch (...) {
        error = std::current_exception();
    }
    if (!isCurrent(attempt)) co_return;
    connectionAttemptID_.reset();
    if (error) {
        setConnectionState(
            ConnectionState::failed("Could not safely reset the interrupted tunnel: " + describe(error)));
        co_return;
    }
    setConnectionState(ConnectionState::disconnected());
    if (preferences_.boolValue(PreferenceKey::autoReconnectEnabled) == false) {
        co_await refreshCatalog();
        co_await refreshPublicIP();
        co_return;
    }
    co_await connectSelected();
}

void AppModel::healthTick() {
    if (isConnectionBusy()) return;
    if (connectionState_.isConnected() || reconnectWhenNetworkReturns_) handleNetworkPath(NetworkPathStatus::satisfied);
}

QCoro::Task<> AppModel::refreshIfIdle() {
    if (!connectionState_.isFailed() && !connectionState_.isDisconnected()) co_return;
    co_await refreshCatalog();
    co_await refreshPublicIP();
}

// ---- View entry points ------------------------------------------------------------------

void AppModel::requestRefresh() {
    detach([](AppModel* model) -> QCoro::Task<> { co_await model->refreshCatalog(); }(this));
}
void AppModel::requestConnect() { detach(connectSelected()); }
void AppModel::requestQuickConnect() { detach(quickConnect()); }
void AppModel::requestRetry() { detach(retryConnection()); }
void AppModel::requestDisconnect() { detach(disconnect()); }
void AppModel::requestRefreshIfIdle() { detach(refreshIfIdle()); }

void AppModel::selectRelay(const QString& id) {
    for (const Relay& relay : relays_) {
        if (relay.id == id) return select(relay);
    }
}

void AppModel::toggleFavoriteRelay(const QString& id) {
    for (const Relay& relay : relays_) {
        if (relay.id == id) return toggleFavorite(relay);
    }
    if (auto snapshot = favoriteSnapshots_.constFind(id); snapshot != favoriteSnapshots_.constEnd()) {
        toggleFavorite(*snapshot);
    }
}

QVariantMap AppModel::bestRelayFor(const QString& code) const {
    const auto relay = bestRelay(code);
    return relay ? relayToVariant(*relay) : QVariantMap();
}

// ---- Setters ----------------------------------------------------------------------------

void AppModel::setRelays(std::vector<Relay> relays) {
    relays_ = std::move(relays);
    emit relaysChanged();
}

void AppModel::setLoading(bool value) {
    if (loading_ == value) return;
    loading_ = value;
    emit loadingChanged();
}

void AppModel::setOffline(bool value) {
    if (offline_ == value) return;
    offline_ = value;
    emit offlineChanged();
}

void AppModel::setCatalogMessage(std::optional<QString> message) {
    if (catalogMessage_ == message) return;
    catalogMessage_ = std::move(message);
    emit catalogMessageChanged();
}

void AppModel::setCatalogRefreshSucceeded(bool value) {
    if (catalogRefreshSucceeded_ == value) return;
    catalogRefreshSucceeded_ = value;
    emit catalogRefreshSucceededChanged();
}

void AppModel::setPublicIP(std::optional<QString> address) {
    if (publicIP_ == address) return;
    publicIP_ = std::move(address);
    emit publicIPChanged();
}

void AppModel::setConnectionState(ConnectionState state) {
    if (connectionState_ == state) return;
    connectionState_ = std::move(state);
    emit connectionStateChanged();
}

void AppModel::setSelected(std::optional<Relay> relay) {
    if (selected_ == relay) return;
    selected_ = std::move(relay);
    emit selectedChanged();
}

void AppModel::setSelectedCountryCode(std::optional<QString> code) {
    if (code) {
        preferences_.setValue(PreferenceKey::selectedCountryCode, *code);
    } else {
        preferences_.remove(PreferenceKey::selectedCountryCode);
    }
    if (selectedCountryCode_ == code) return;
    selectedCountryCode_ = std::move(code);
    emit selectedCountryCodeChanged();
}

void AppModel::setLastUpdated(QDateTime when) {
    lastUpdated_ = std::move(when);
    emit lastUpdatedChanged();
}

void AppModel::setStoppingTunnel(bool value) {
    if (isStoppingTunnel_ == value) return;
    isStoppingTunnel_ = value;
    emit isStoppingTunnelChanged();
}

void AppModel::setPage(const QString& page) {
    if (page_ == page) return;
    page_ = page;
    emit pageChanged();
}

void AppModel::setServerSearch(const QString& text) {
    if (serverSearch_ == text) return;
    serverSearch_ = text;
    emit serverSearchChanged();
}

void AppModel::setCountrySearch(const QString& text) {
    if (countrySearch_ == text) return;
    countrySearch_ = text;
    emit countrySearchChanged();
}

// ---- View forms -------------------------------------------------------------------------

QVariantMap AppModel::relayToVariant(const Relay& relay) {
    QVariantMap map = relay.toJson().toVariantMap();
    map.insert(QStringLiteral("pingText"), relay.pingText());
    map.insert(QStringLiteral("speedText"), relay.speedText());
    map.insert(QStringLiteral("protocolText"), relay.protocolText());
    map.insert(QStringLiteral("uptimeText"), relay.uptimeText());
    return map;
}

namespace {
QVariantList toVariantList(const std::vector<Relay>& relays) {
    QVariantList list;
    list.reserve(qsizetype(relays.size()));
    for (const Relay& relay : relays) list.append(AppModel::relayToVariant(relay));
    return list;
}
}  // namespace

QVariantList AppModel::relaysVariant() const { return toVariantList(relays_); }
QVariantList AppModel::recommendedRelaysVariant() const { return toVariantList(recommendedRelays()); }

QStringList AppModel::mismatchedRelayIDsList() const {
    QStringList ids(mismatchedRelayIDs_.begin(), mismatchedRelayIDs_.end());
    ids.sort();
    return ids;
}

QVariantMap AppModel::quarantinedUntilVariant() const {
    QVariantMap map;
    for (auto entry = quarantinedUntil_.constBegin(); entry != quarantinedUntil_.constEnd(); ++entry) {
        map.insert(entry.key(), entry.value());
    }
    return map;
}

QVariantMap AppModel::connectionStateVariant() const {
    QVariantMap map{{QStringLiteral("state"), connectionState_.name()}, {QStringLiteral("text"), connectionState_.text}};
    if (connectionState_.isConnected()) {
        map.insert(QStringLiteral("since"), connectionState_.since);
        map.insert(QStringLiteral("relay"), relayToVariant(*connectionState_.relay));
        map.insert(QStringLiteral("vpnIP"), connectionState_.vpnIP);
    }
    return map;
}

QVariantMap AppModel::selectedVariant() const {
    return selected_ ? relayToVariant(*selected_) : QVariantMap();
}

QStringList AppModel::favoritesList() const {
    QStringList ids(favorites_.begin(), favorites_.end());
    ids.sort();
    return ids;
}

QVariantMap AppModel::favoriteSnapshotsVariant() const {
    QVariantMap map;
    for (auto entry = favoriteSnapshots_.constBegin(); entry != favoriteSnapshots_.constEnd(); ++entry) {
        map.insert(entry.key(), relayToVariant(entry.value()));
    }
    return map;
}

QVariantList AppModel::countryChoicesVariant() const {
    QVariantList list;
    for (const CountryChoice& choice : countryChoices()) {
        list.append(QVariantMap{{QStringLiteral("code"), choice.code},
                                {QStringLiteral("name"), choice.name},
                                {QStringLiteral("relayCount"), choice.relayCount}});
    }
    return list;
}

QVariantList AppModel::favoriteRelaysVariant() const {
    QVariantList list;
    for (const FavoriteEntry& entry : favoriteRelays()) {
        QVariantMap map = relayToVariant(entry.relay);
        map.insert(QStringLiteral("available"), entry.available);
        list.append(map);
    }
    return list;
}

}  // namespace orlune
