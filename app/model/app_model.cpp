#include "model/app_model.h"

#include <algorithm>

#include "core/tunnel_held_elsewhere.h"
#include "model/detached_task.h"
#include "model/model_messages.h"
#include "model/relay_memory.h"

namespace orlune {

using model_detail::describe;

AppModel::AppModel(Dependencies dependencies, QObject* parent)
    : QObject(parent),
      preferences_(*dependencies.preferences),
      catalogProvider_(std::move(dependencies.catalogProvider)),
      tunnelProvider_(std::move(dependencies.tunnelProvider)),
      network_(std::move(dependencies.network)),
      clock_(std::move(dependencies.clock)),
      pathMonitor_(std::move(dependencies.pathMonitor)),
      history_(dependencies.history ? std::move(dependencies.history) : std::make_unique<RelayHistoryStore>(QString())),
      measurer_(std::move(dependencies.measurer)),
      sleepMonitor_(std::move(dependencies.sleepMonitor)),
      startWall_(clock_->now()),
      startElapsed_(clock_->elapsed()) {
    if (auto problem = history_->reload()) historyMessage_ = std::move(problem);
    quarantinedUntil_ = readQuarantine(preferences_, steadyNow());
    lastStored_ = readQuarantine(preferences_, QDateTime::fromSecsSinceEpoch(0, Qt::UTC));
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

LeakProtection AppModel::leakProtection() const {
    return LeakProtection{
        .blockTraffic = forcedBlockTraffic_ || preferences_.boolValue(PreferenceKey::blockOutsideVPN).value_or(false),
        .allowLocalNetwork = preferences_.boolValue(PreferenceKey::allowLocalNetwork).value_or(true),
        .blockIPv6 = forcedBlockIPv6_ || preferences_.boolValue(PreferenceKey::blockIPv6).value_or(false),
    };
}

void AppModel::startMonitoring() {
    if (healthTimer_.isActive()) return;
    if (pathMonitor_) {
        connect(pathMonitor_.get(), &NetworkPathMonitor::pathChanged, this, &AppModel::handleNetworkPath);
        pathMonitor_->start();
    }
    if (sleepMonitor_) {
        connect(sleepMonitor_.get(), &SleepMonitor::woke, this, &AppModel::handleWake);
        sleepMonitor_->start();
    }
    healthTimer_.setInterval(kHealthInterval);
    connect(&healthTimer_, &QTimer::timeout, this, &AppModel::healthTick);
    healthTimer_.start();
}

QCoro::Task<> AppModel::startupSequence() {
    try {
        co_await tunnelProvider_->recoverStaleConnections();
    } catch (const TunnelHeldElsewhere& held) {
        setConnectionState(ConnectionState::failed(QString::fromUtf8(held.what())));
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
    return {relays_, limits(), quarantinedUntil_, mismatchedRelayIDs_, steadyNow()};
}

QDateTime AppModel::steadyNow() const {
    return startWall_.addMSecs((clock_->elapsed() - startElapsed_).count());
}

std::optional<std::chrono::seconds> AppModel::catalogAge() const {
    if (!updatedElapsed_) return std::nullopt;
    return std::chrono::duration_cast<std::chrono::seconds>(clock_->elapsed() - *updatedElapsed_);
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

// ---- Favourite relays --------------------------------------------------------------------

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

// ---- View entry points ------------------------------------------------------------------

void AppModel::requestRefresh() {
    detach([](AppModel* model) -> QCoro::Task<> { co_await model->refreshCatalog(); }(this));
}
void AppModel::requestConnect() {
    detach(connectSelected());
}
void AppModel::requestQuickConnect() {
    detach(quickConnect());
}
void AppModel::requestConnectRecentlyWorked(const QString& relayId) {
    detach(connectRecentlyWorked(relayId));
}
void AppModel::requestRetry() {
    detach(retryConnection());
}
void AppModel::requestDisconnect() {
    detach(disconnect());
}
void AppModel::requestRefreshIfIdle() {
    detach(refreshIfIdle());
}

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
    updatedElapsed_ = clock_->elapsed();
    emit lastUpdatedChanged();
}

void AppModel::setKeptCatalogDate(std::optional<QDateTime> date) {
    if (keptCatalogDate_ == date) return;
    keptCatalogDate_ = std::move(date);
    emit keptCatalogDateChanged();
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

}  // namespace orlune
