#pragma once

#include <QDateTime>
#include <QHash>
#include <QObject>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <qcoro/qcorotask.h>

#include <coroutine>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "catalog/catalog_provider.h"
#include "core/relay.h"
#include "core/tunnel_connection_provider.h"
#include "core/tunnel_verification.h"
#include "model/connection_state.h"
#include "model/model_environment.h"
#include "model/preferences.h"
#include "model/relay_history.h"
#include "model/relay_rankings.h"

namespace orlune {

// The one model behind every screen and the command line: the catalog and its rankings, the
// selection, the connection state machine with same-country failover, the hidden and favourite
// relays, and the network monitoring that stops a lost tunnel and rebuilds it. Lives on the UI
// thread; its waits suspend and resume there. The flows live in their own files: the catalog
// refresh (app_model_catalog.cpp), connect and failover (app_model_connect.cpp), disconnect and
// the network watch (app_model_network.cpp).
class AppModel : public QObject {
    Q_OBJECT

public:
    struct Dependencies {
        Preferences* preferences = nullptr;  // not owned; outlives the model
        std::unique_ptr<ServerCatalogProvider> catalogProvider;
        std::unique_ptr<TunnelConnectionProvider> tunnelProvider;
        std::unique_ptr<NetworkChecks> network;
        std::unique_ptr<ModelClock> clock;
        std::unique_ptr<NetworkPathMonitor> pathMonitor;  // may be null: no path reports
        std::unique_ptr<RelayHistoryStore> history;       // may be null: kept in memory only
        std::unique_ptr<TunnelMeasurer> measurer;         // may be null: nothing measured
        std::unique_ptr<SleepMonitor> sleepMonitor;       // may be null: no sleep reports
    };

    // The figures measured through the tunnel to `relayId` while it is up.
    struct Measurement {
        QString relayId;
        bool running = false;
        std::optional<qint64> rttMilliseconds;
        std::optional<qint64> throughputBitsPerSecond;

        friend bool operator==(const Measurement&, const Measurement&) = default;
    };

    static constexpr std::chrono::seconds kHealthInterval{15};
    // After a wake the tunnel stays shown as Connected only while it proves itself within this:
    // the service still holds it and the Internet answers through it.
    static constexpr std::chrono::milliseconds kWakeProofInterval{250};
    static constexpr int kWakeProofChecks = 6;

    explicit AppModel(Dependencies dependencies, QObject* parent = nullptr);
    ~AppModel() override;

    // The start-up: path reports, the health timer, then the start-up sequence as a task.
    void start();
    // Only the path reports and the health timer (for a front end that runs its own sequence).
    void startMonitoring();
    // Stops a tunnel left by an earlier run, loads the catalog and the public IP, and connects
    // when the user asked for that at launch.
    QCoro::Task<> startupSequence();

    // Stored state.
    const std::vector<Relay>& relays() const { return relays_; }
    bool loading() const { return loading_; }
    bool offline() const { return offline_; }
    const std::optional<QString>& catalogMessage() const { return catalogMessage_; }
    bool catalogRefreshSucceeded() const { return catalogRefreshSucceeded_; }
    const std::optional<QString>& publicIP() const { return publicIP_; }
    // The address read just before the newest connect attempt started its tunnel.
    const std::optional<QString>& originalPublicIP() const { return originalPublicIP_; }
    const QSet<QString>& mismatchedRelayIDs() const { return mismatchedRelayIDs_; }
    // Ends of hiding on the model's steady clock (steadyNow), not the wall clock.
    const QHash<QString, QDateTime>& quarantinedUntil() const { return quarantinedUntil_; }
    // The wall-clock time at the model's start plus the real time elapsed since: a clock that
    // counts suspend and that no change of the wall clock moves.
    QDateTime steadyNow() const;
    const ConnectionState& connectionState() const { return connectionState_; }
    const std::optional<Relay>& selected() const { return selected_; }
    const std::optional<QString>& selectedCountryCode() const { return selectedCountryCode_; }
    QString page() const { return page_; }
    QString serverSearch() const { return serverSearch_; }
    QString countrySearch() const { return countrySearch_; }
    const std::optional<QDateTime>& lastUpdated() const { return lastUpdated_; }
    // Real time since the last successful refresh, whatever the wall clock did meanwhile.
    std::optional<std::chrono::seconds> catalogAge() const;
    // When the relays shown are the kept last good catalog (after a failed download, or
    // imported from a file): that catalog's date. Nothing while they are a live answer.
    const std::optional<QDateTime>& keptCatalogDate() const { return keptCatalogDate_; }
    // Whether the relays are the kept catalog and it is too old to connect with.
    bool keptCatalogTooOld() const;
    const QSet<QString>& favorites() const { return favorites_; }
    const QHash<QString, Relay>& favoriteSnapshots() const { return favoriteSnapshots_; }
    bool isStoppingTunnel() const { return isStoppingTunnel_; }
    // What each relay did for this user, merged with the other processes' records.
    const RelayHistory& relayHistory() const { return history_->history(); }
    // Why the stored history could not be read or written, until the next change that worked.
    const std::optional<QString>& historyMessage() const { return historyMessage_; }
    // Picks up what other processes recorded since.
    void reloadRelayHistory();
    // The latest tunnel's measurement; nothing before the first verified tunnel.
    const std::optional<Measurement>& measurement() const { return measurement_; }
    bool isConnectionBusy() const { return connectionState_.isConnecting() || isStoppingTunnel_; }
    bool reconnectWhenNetworkReturns() const { return reconnectWhenNetworkReturns_; }
    // The block the next connect asks for: the stored settings, plus what the command line
    // turned on for this run.
    LeakProtection leakProtection() const;
    void forceLeakProtection(bool blockTraffic, bool blockIPv6) {
        forcedBlockTraffic_ = blockTraffic;
        forcedBlockIPv6_ = blockIPv6;
    }
    // The command line's --recently-worked: relays that left the list are offered for this run.
    void forceOfferRecentlyWorked(bool offer) { forcedOfferRecentlyWorked_ = offer; }
    // Whether the service holds the block on traffic outside the VPN for this app.
    bool holdsBlock() const { return tunnelProvider_->holdsBlock(); }

    void setPage(const QString& page);
    void setServerSearch(const QString& text);
    void setCountrySearch(const QString& text);

    // Derived views, computed afresh on every call.
    QualityLimits limits() const;
    std::vector<Relay> eligibleRelays() const;
    std::vector<Relay> recommendedRelays() const;
    QStringList countries() const;
    std::vector<CountryChoice> countryChoices() const;
    std::optional<Relay> bestRelay(QStringView code) const;
    std::vector<FavoriteEntry> favoriteRelays() const;
    int maxRecommendedRelaysPerCountry() const { return limits().maxRelaysPerCountry; }
    std::optional<Relay> connectedRelay() const;
    std::optional<QString> connectedIP() const;

    // Operations.
    QCoro::Task<bool> refreshCatalog();
    // The checks a connect starts with (reachability, the catalog refresh, the address before
    // connecting), all at once; a connect that starts within kPreparedChecksLifetime takes their
    // outcome instead of asking again. Returns whether the refresh brought a live catalog.
    QCoro::Task<bool> prepareConnect();
    static constexpr qint64 kPreparedChecksLifetimeSeconds = 30;
    // Reads a catalog the user saved and shows its relays as the kept catalog. Nothing when it
    // worked; otherwise the reason, which catalogMessage shows too, and nothing else changes.
    std::optional<QString> importCatalog(const QString& path);
    void select(const Relay& relay);
    void selectCountry(const QString& code);
    void toggleFavorite(const Relay& relay);
    QCoro::Task<> connectSelected();
    QCoro::Task<> retryConnection();
    QCoro::Task<> quickConnect();
    // Relays that worked for this user within kRecentlyWorkedWithin and are missing from the
    // current catalog, each with the profile it was verified with; newest success first. Only
    // when the user opted in (offerRecentlyWorked) and a catalog is loaded; never used otherwise.
    static constexpr std::chrono::hours kRecentlyWorkedWithin{24 * 7};
    std::vector<RelayRecord> recentlyWorkedRelays() const;
    // Connects to one of them with its kept profile: that relay only, since the user picked it by
    // hand. The service applies its profile policy as to any profile.
    QCoro::Task<> connectRecentlyWorked(QString relayId);
    QCoro::Task<> disconnect();
    QCoro::Task<> refreshPublicIP();
    // The OpenVPN version the service reports; nothing when the service does not answer.
    QCoro::Task<std::optional<QString>> serviceEngineVersion();
    QCoro::Task<> refreshIfIdle();
    // A report of the network path: replaces any pending probe with a new one.
    void handleNetworkPath(NetworkPathStatus status);
    // The probe itself, awaitable by tests; `probe` identifies it among newer reports.
    QCoro::Task<> probeNetwork(NetworkPathStatus status, quint64 probe);
    quint64 latestProbe() const { return probeGeneration_; }
    // One tick of the health timer.
    void healthTick();
    // The system woke from sleep: the tunnel is checked at once and must prove itself quickly.
    void handleWake();
    // That check, awaitable by tests like probeNetwork.
    QCoro::Task<> probeAfterWake(quint64 probe);

    // Entry points for the views: each starts the operation and turns every failure into state.
    Q_INVOKABLE void requestRefresh();
    Q_INVOKABLE void requestConnect();
    Q_INVOKABLE void requestQuickConnect();
    Q_INVOKABLE void requestConnectRecentlyWorked(const QString& relayId);
    Q_INVOKABLE void requestRetry();
    Q_INVOKABLE void requestDisconnect();
    Q_INVOKABLE void requestRefreshIfIdle();
    Q_INVOKABLE void selectRelay(const QString& id);
    Q_INVOKABLE void chooseCountry(const QString& code) { selectCountry(code); }
    Q_INVOKABLE void toggleFavoriteRelay(const QString& id);
    Q_INVOKABLE bool isFavorite(const QString& id) const { return favorites_.contains(id); }

signals:
    void relaysChanged();
    void loadingChanged();
    void offlineChanged();
    void catalogMessageChanged();
    void catalogRefreshSucceededChanged();
    void publicIPChanged();
    void mismatchedRelayIDsChanged();
    void quarantinedUntilChanged();
    void connectionStateChanged();
    void selectedChanged();
    void selectedCountryCodeChanged();
    void pageChanged();
    void serverSearchChanged();
    void countrySearchChanged();
    void lastUpdatedChanged();
    void keptCatalogDateChanged();
    void favoritesChanged();
    void isStoppingTunnelChanged();
    void isConnectionBusyChanged();
    void rankingsChanged();
    void catalogRefreshFinished(bool succeeded);
    void relayHistoryChanged();
    void measurementChanged();

private:
    // The connect flow (app_model_connect.cpp).
    // With `keptProfile`, only `requested` is tried, with that profile.
    QCoro::Task<> connectTo(Relay requested, QString keptProfile = {});
    // What the checks before a connect found, and when.
    struct ConnectChecks {
        QCoro::Task<bool> reachable;
        QCoro::Task<bool> refreshed;
        QCoro::Task<std::optional<QString>> original;
    };
    struct CheckOutcome {
        bool reachable = false;
        bool refreshed = false;
        std::optional<QString> original;
        QDateTime at;
    };
    ConnectChecks startConnectChecks();
    QCoro::Task<bool> timedRefresh();
    QCoro::Task<bool> checkNetworkAndRefresh(quint64 attempt, std::optional<QString>& original);
    QCoro::Task<std::optional<QString>> readOriginalAddress(quint64 attempt, std::optional<QString> original);
    void endAttempt(QString failure);
    // The network watch and reconnection (app_model_network.cpp).
    QCoro::Task<> applyInternetStatus(bool reachable);
    QCoro::Task<> stopAfterLoss(quint64 action);
    void finishRefresh(bool succeeded);
    // A caller that came while a refresh ran waits for that refresh's outcome. finishRefresh
    // resumes each waiter once, from the event loop. (A queued signal could reach a waiter whose
    // wait had ended, when two refreshes finished before the loop ran.)
    struct RefreshWaiter {
        std::coroutine_handle<> handle;
        bool* outcome;
    };
    struct RunningRefresh {
        std::vector<RefreshWaiter>& waiters;
        bool outcome = false;
        bool await_ready() const noexcept { return false; }
        void await_suspend(std::coroutine_handle<> handle) { waiters.push_back({handle, &outcome}); }
        bool await_resume() const noexcept { return outcome; }
    };
    std::vector<RefreshWaiter> refreshWaiters_;
    // Shows a fetched catalog's relays and reconciles the selection and favourites with it.
    void applyCatalog(std::vector<Relay> relays);
    QString keptCatalogMessage(const QString& liveFailure) const;
    QCoro::Task<> reconnectAfterLoss();
    // A stop asked for elsewhere (the command line) is taken as the user's stop.
    QCoro::Task<> adoptStopAskedElsewhere();
    bool probeIsValid(quint64 probe) const { return probe == probeGeneration_ && !isConnectionBusy(); }
    bool isCurrent(quint64 attempt) const { return connectionAttemptID_ == attempt; }
    quint64 beginAttempt();

    RankingInputs rankingInputs() const;
    // Merges the stored hidden relays with this process's, dropping ended ones; adds `hiding`.
    void syncQuarantine(const Relay* hiding = nullptr);
    void addMismatch(const QString& id);
    // The relay history: an attempt's outcome, the figures measured through a verified tunnel.
    void updateHistory(const std::function<void(RelayHistory&)>& change);
    // `profile`: the one a verified tunnel ran with, kept for when the relay leaves the list.
    void recordOutcome(const Relay& relay, bool worked, const QString& profile = {});
    // Marks the recorded relays the live catalog lists as seen now.
    void noteListedRelays();
    QCoro::Task<> measureTunnel(Relay relay, quint64 attempt);

    void setRelays(std::vector<Relay> relays);
    void setLoading(bool value);
    void setOffline(bool value);
    void setCatalogMessage(std::optional<QString> message);
    void setCatalogRefreshSucceeded(bool value);
    void setPublicIP(std::optional<QString> address);
    void setConnectionState(ConnectionState state);
    void setSelected(std::optional<Relay> relay);
    void setSelectedCountryCode(std::optional<QString> code);
    void setLastUpdated(QDateTime when);
    void setKeptCatalogDate(std::optional<QDateTime> date);
    void setStoppingTunnel(bool value);

    Preferences& preferences_;
    std::unique_ptr<ServerCatalogProvider> catalogProvider_;
    std::unique_ptr<TunnelConnectionProvider> tunnelProvider_;
    std::unique_ptr<NetworkChecks> network_;
    std::unique_ptr<ModelClock> clock_;
    std::unique_ptr<NetworkPathMonitor> pathMonitor_;
    std::unique_ptr<RelayHistoryStore> history_;
    std::unique_ptr<TunnelMeasurer> measurer_;
    std::optional<QString> historyMessage_;
    std::optional<Measurement> measurement_;
    std::unique_ptr<SleepMonitor> sleepMonitor_;
    // The steady clock's origin: the wall clock and the elapsed time, read together at start.
    QDateTime startWall_;
    std::chrono::milliseconds startElapsed_{};
    // How far the steady clock was ahead of the wall clock when the stored hidden relays were
    // last written (0: as at start).
    qint64 storedShift_ = 0;
    QHash<QString, QDateTime> lastStored_;  // the stored hidden relays as this model last saw them

    std::vector<Relay> relays_;
    bool loading_ = false;
    bool offline_ = false;
    std::optional<QString> catalogMessage_;
    bool catalogRefreshSucceeded_ = false;
    std::optional<QString> publicIP_;
    std::optional<QString> originalPublicIP_;
    bool forcedBlockTraffic_ = false;
    bool forcedBlockIPv6_ = false;
    bool forcedOfferRecentlyWorked_ = false;
    QSet<QString> mismatchedRelayIDs_;
    QHash<QString, QDateTime> quarantinedUntil_;
    ConnectionState connectionState_;
    std::optional<Relay> selected_;
    std::optional<QString> selectedCountryCode_;
    QString page_ = QStringLiteral("Home");
    QString serverSearch_;
    QString countrySearch_;
    std::optional<QDateTime> lastUpdated_;
    std::optional<std::chrono::milliseconds> updatedElapsed_;
    std::optional<QDateTime> keptCatalogDate_;
    std::optional<CheckOutcome> preparedChecks_;  // from prepareConnect, for the next connect
    QSet<QString> favorites_;
    QHash<QString, Relay> favoriteSnapshots_;
    bool reconnectWhenNetworkReturns_ = false;
    bool isStoppingTunnel_ = false;
    int userStopsRunning_ = 0;
    quint64 userStopAction_ = 0;
    quint64 ownerAtStop_ = 0;    // the tunnel's attempt when the running user stop began
    bool explicitPick_ = false;  // the selection is the user's own relay, not a country's best
    quint64 tunnelOwner_ = 0;    // the attempt that last asked the provider for a tunnel
    std::optional<quint64> connectionAttemptID_;
    quint64 nextAttempt_ = 0;
    quint64 probeGeneration_ = 0;
    QTimer healthTimer_;
};

}  // namespace orlune
