// The catalog refresh, what it does to the selection, and the hidden and mismatched relays.

#include <algorithm>
#include <cstdlib>

#include "catalog/catalog_cache.h"
#include "catalog/catalog_parsing.h"
#include "model/app_model.h"
#include "model/model_messages.h"
#include "model/relay_memory.h"

namespace orlune {
namespace {

using model_detail::describe;

const QString kEmptyCatalog = QStringLiteral("The provider returned no live servers with an OpenVPN configuration.");
const QString kNothingMeetsFilter =
    QStringLiteral("No live relays met the quality filter (provider ping ≤ 250 ms and speed ≥ 10 Mbps).");
const QString kSelectedCountryGone =
    QStringLiteral("No recommended live relay remains for the previously selected country. Choose another country.");
const QString kSelectedRelayGone =
    QStringLiteral("Your selected relay is no longer in the live catalog. Choose another server.");

}  // namespace

QCoro::Task<bool> AppModel::refreshCatalog() {
    // A second caller shares the running refresh's outcome rather than the previous one's.
    if (loading_) co_return co_await RunningRefresh{refreshWaiters_};
    setLoading(true);
    syncQuarantine();
    setCatalogMessage(std::nullopt);

    CatalogFetch fetched;
    try {
        fetched = co_await catalogProvider_->fetchWithFallback();
    } catch (...) {
        fetched = CatalogFetch{};
        fetched.liveError = std::current_exception();
    }
    // A kept catalog that had to be ignored is said after whatever else is said.
    const auto withKeptProblem = [&fetched](const QString& message) {
        return fetched.keptProblem.isEmpty() ? message : message + u' ' + fetched.keptProblem;
    };

    if (fetched.liveError || fetched.keptFrom) {
        setCatalogRefreshSucceeded(false);
        const bool reachable = co_await network_->isInternetReachable();
        const bool physical = network_->isPhysicalNetworkInterfaceUp();
        setOffline(!physical);
        if (fetched.keptFrom) {
            // Relays the user can still reach while the catalog server cannot be: shown with
            // their age, and the live failure stays in view.
            applyCatalog(std::move(fetched.relays));
            setKeptCatalogDate(fetched.keptFrom);
            const QString reconciled = catalogMessage_.value_or(QString());
            setCatalogMessage(keptCatalogMessage(fetched.liveFailure) +
                              (reconciled.isEmpty() ? QString() : u' ' + reconciled));
        } else if (reachable) {
            setCatalogMessage(withKeptProblem(
                "Internet is available, but VPN Gate's live catalog request failed: " + describe(fetched.liveError) +
                ". Existing data is kept; refresh and retry."));
        } else if (physical) {
            setCatalogMessage(withKeptProblem(QStringLiteral(
                "Internet access could not be verified: Wi-Fi/Ethernet is up, but all independent external checks "
                "failed. Existing server data is kept; check the route and retry.")));
        } else {
            setCatalogMessage(withKeptProblem(QStringLiteral(
                "No Internet Connection: the physical network interface is down. Existing server data is kept.")));
        }
        finishRefresh(false);
        co_return false;
    }

    applyCatalog(std::move(fetched.relays));
    setKeptCatalogDate(std::nullopt);
    setLastUpdated(clock_->now());
    noteListedRelays();
    setOffline(false);
    setCatalogRefreshSucceeded(true);
    finishRefresh(true);
    co_return true;
}

std::optional<QString> AppModel::importCatalog(const QString& path) {
    if (loading_ || isConnectionBusy()) {
        return QStringLiteral("A catalog can be imported once the running refresh or connection has ended.");
    }
    CatalogFetch imported;
    try {
        imported = catalogProvider_->importCatalog(path);
    } catch (const std::exception& error) {
        const QString reason = QString::fromUtf8(error.what());
        setCatalogMessage(reason);
        return reason;
    }
    syncQuarantine();
    setCatalogMessage(std::nullopt);
    applyCatalog(std::move(imported.relays));
    setKeptCatalogDate(imported.keptFrom);
    const QString reconciled = catalogMessage_.value_or(QString());
    QString message = QStringLiteral("Catalog from %1, imported from a file.")
                          .arg(catalogAgeText(imported.keptFrom.value_or(clock_->now()), clock_->now()));
    if (keptCatalogTooOld())
        message += QStringLiteral(" It is older than 7 days: its relays are shown, not used to connect.");
    setCatalogMessage(reconciled.isEmpty() ? message : message + u' ' + reconciled);
    return std::nullopt;
}

bool AppModel::keptCatalogTooOld() const {
    return keptCatalogDate_ && !keptCatalogUsableForConnecting(*keptCatalogDate_, clock_->now());
}

QString AppModel::keptCatalogMessage(const QString& liveFailure) const {
    QString message = QStringLiteral("Catalog from %1 — the live catalog could not be loaded: %2.")
                          .arg(catalogAgeText(keptCatalogDate_.value_or(clock_->now()), clock_->now()), liveFailure);
    if (keptCatalogTooOld())
        message += QStringLiteral(" It is older than 7 days: its relays are shown, not used to connect.");
    return message;
}

void AppModel::applyCatalog(std::vector<Relay> relays) {
    setRelays(uniqueInRecommendedOrder(std::move(relays)));

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
}

void AppModel::finishRefresh(bool succeeded) {
    setLoading(false);
    if (!refreshWaiters_.empty()) {
        QMetaObject::invokeMethod(
            this,
            [waiters = std::exchange(refreshWaiters_, {}), succeeded] {
                for (const RefreshWaiter& waiter : waiters) {
                    *waiter.outcome = succeeded;
                    waiter.handle.resume();
                }
            },
            Qt::QueuedConnection);
    }
    emit catalogRefreshFinished(succeeded);
}

void AppModel::syncQuarantine(const Relay* hiding) {
    const QDateTime now = steadyNow();
    // Stored ends are wall-clock times, written as of now: after a change of the wall clock they
    // are rewritten moved by it, so every process (and the next run) sees the real end.
    qint64 shift = clock_->now().msecsTo(now);
    if (std::abs(shift) < kWallClockJumpMilliseconds) shift = 0;
    // Another process (the command line, a second window) may have hidden relays meanwhile.
    preferences_.reload();
    // Every stored entry, ended ones included, so that those are dropped from the file too.
    const auto storedAsIs = readQuarantine(preferences_, QDateTime::fromSecsSinceEpoch(0, Qt::UTC));
    // What this model wrote last is read as of then; what another process wrote since, as of now.
    QHash<QString, QDateTime> stored;
    for (auto entry = storedAsIs.constBegin(); entry != storedAsIs.constEnd(); ++entry) {
        const bool ours = lastStored_.value(entry.key()) == entry.value();
        stored.insert(entry.key(), entry.value().addMSecs(ours ? storedShift_ : shift));
    }
    auto merged = mergeQuarantine(stored, quarantinedUntil_, now);
    if (hiding) merged.insert(hiding->id, now.addSecs(kQuarantineSeconds));
    const auto toStore = shiftedQuarantine(merged, -shift);
    if (toStore != storedAsIs) {
        writeQuarantine(preferences_, toStore);
        lastStored_ = readQuarantine(preferences_, QDateTime::fromSecsSinceEpoch(0, Qt::UTC));
    } else {
        lastStored_ = storedAsIs;
    }
    storedShift_ = shift;
    if (merged == quarantinedUntil_) return;
    quarantinedUntil_ = std::move(merged);
    emit quarantinedUntilChanged();
}

void AppModel::noteListedRelays() {
    reloadRelayHistory();
    const RelayHistory& history = relayHistory();
    const bool anyListed =
        std::any_of(relays_.begin(), relays_.end(), [&](const Relay& relay) { return history.contains(relay.id); });
    if (!anyListed) return;
    const QDateTime now = clock_->now();
    updateHistory([&](RelayHistory& stored) { recordCatalog(stored, relays_, now); });
}

void AppModel::addMismatch(const QString& id) {
    if (mismatchedRelayIDs_.contains(id)) return;
    mismatchedRelayIDs_.insert(id);
    emit mismatchedRelayIDsChanged();
}

}  // namespace orlune
