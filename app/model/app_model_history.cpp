// The relay history: what each attempt did, and what each verified tunnel measured.

#include "model/app_model.h"
#include "model/detached_task.h"

namespace orlune {

void AppModel::updateHistory(const std::function<void(RelayHistory&)>& change) {
    auto problem = history_->update(change);
    if (problem != historyMessage_) historyMessage_ = std::move(problem);
    emit relayHistoryChanged();
}

void AppModel::reloadRelayHistory() {
    const RelayHistory before = history_->history();
    auto problem = history_->reload();
    if (problem != historyMessage_) historyMessage_ = std::move(problem);
    if (history_->history() != before) emit relayHistoryChanged();
}

void AppModel::recordOutcome(const Relay& relay, bool worked, const QString& profile) {
    const QDateTime now = clock_->now();
    updateHistory([&](RelayHistory& history) {
        recordAttempt(history, relay, now, worked);
        if (worked) recordProfile(history, relay, now, profile);
    });
    // Measuring waits on the network; "Connected" is already shown and stays whatever it finds.
    if (worked && connectionAttemptID_) detach(measureTunnel(relay, *connectionAttemptID_));
}

std::vector<RelayRecord> AppModel::recentlyWorkedRelays() const {
    if (!forcedOfferRecentlyWorked_ && !preferences_.boolValue(PreferenceKey::offerRecentlyWorked).value_or(false)) {
        return {};
    }
    // Before any list is loaded every relay would look gone.
    if (!lastUpdated_ && !keptCatalogDate_) return {};
    QSet<QString> listed;
    for (const Relay& relay : relays_) listed.insert(relay.id);
    return recentlyWorked(history_->history(), listed, clock_->now(),
                          std::chrono::duration_cast<std::chrono::seconds>(kRecentlyWorkedWithin));
}

QCoro::Task<> AppModel::measureTunnel(Relay relay, quint64 attempt) {
    if (!measurer_) co_return;
    auto stillUp = [this, attempt, &relay] {
        return isCurrent(attempt) && connectionState_.isConnected() && connectionState_.relay &&
               connectionState_.relay->id == relay.id;
    };
    Measurement measurement{relay.id, true, std::nullopt, std::nullopt};
    measurement_ = measurement;
    emit measurementChanged();
    measurement.rttMilliseconds = co_await measurer_->roundTripMilliseconds();
    if (!stillUp()) co_return;
    // The download costs the volunteer's bandwidth: only when the user asked for it.
    if (preferences_.boolValue(PreferenceKey::measureThroughput).value_or(false)) {
        measurement_ = measurement;
        emit measurementChanged();
        measurement.throughputBitsPerSecond = co_await measurer_->throughputBitsPerSecond();
        if (!stillUp()) co_return;
    }
    measurement.running = false;
    measurement_ = measurement;
    emit measurementChanged();
    if (!measurement.rttMilliseconds && !measurement.throughputBitsPerSecond) co_return;
    const QDateTime now = clock_->now();
    updateHistory([&](RelayHistory& history) {
        recordMeasurement(history, relay, now, measurement.rttMilliseconds, measurement.throughputBitsPerSecond);
    });
}

}  // namespace orlune
