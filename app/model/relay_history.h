#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QHash>
#include <QJsonObject>
#include <QSet>
#include <QString>

#include <chrono>
#include <functional>
#include <optional>
#include <vector>

#include "core/relay.h"

namespace orlune {

// The file stays small: the relays this user tried most recently, each with its latest attempts.
inline constexpr int kHistoryMaxRelays = 200;
inline constexpr int kHistoryMaxAttempts = 16;
// A file larger than this was not written by the app: it is set aside like an unreadable one.
inline constexpr qint64 kHistoryMaxFileBytes = 1024 * 1024;
// Verified profiles are kept for the relays that worked most recently only, each up to a size
// no relay's profile comes near, so that the kept profiles stay well inside the file's bound.
inline constexpr int kHistoryMaxProfiles = 20;
inline constexpr qsizetype kHistoryMaxProfileBytes = 32 * 1024;

struct RelayAttempt {
    QDateTime at;
    bool worked = false;

    friend bool operator==(const RelayAttempt&, const RelayAttempt&) = default;
};

// What one relay did for this user.
struct RelayRecord {
    Relay relay;                            // the latest catalog record of it
    std::vector<RelayAttempt> attempts;     // oldest first, at most kHistoryMaxAttempts
    std::optional<qint64> rttMilliseconds;  // through its tunnel
    std::optional<QDateTime> rttAt;
    std::optional<qint64> throughputBitsPerSecond;  // a download through its tunnel
    std::optional<QDateTime> throughputAt;
    std::optional<QDateTime> lastSeen;  // in a catalog the app loaded
    QString profile;                    // the profile of its latest verified tunnel; may be empty
    std::optional<QDateTime> profileAt;

    friend bool operator==(const RelayRecord&, const RelayRecord&) = default;

    int workedCount() const;
    int failedCount() const;
    std::optional<QDateTime> lastWorked() const;
    std::optional<QDateTime> lastFailed() const;
    // The latest attempt, worked or not; nothing before the first attempt.
    std::optional<QDateTime> lastAttempt() const;

    QJsonObject toJson() const;
    static std::optional<RelayRecord> fromJson(const QJsonObject& object);
};

// Relay id → record.
using RelayHistory = QHash<QString, RelayRecord>;

// Adds an attempt to `relay`'s record (made when missing) and keeps the record's bound.
void recordAttempt(RelayHistory& history, const Relay& relay, const QDateTime& at, bool worked);
// Stores the figures measured through `relay`'s tunnel; an absent figure leaves the kept one.
void recordMeasurement(RelayHistory& history, const Relay& relay, const QDateTime& at, std::optional<qint64> rtt,
                       std::optional<qint64> throughput);
// Keeps the profile `relay`'s tunnel was verified with (a larger one than the bound is not kept).
void recordProfile(RelayHistory& history, const Relay& relay, const QDateTime& at, const QString& profile);
// Marks the recorded relays listed in `catalog` as seen at `at`, with their current records.
void recordCatalog(RelayHistory& history, const std::vector<Relay>& catalog, const QDateTime& at);

// Two processes' histories as one: the attempts of both (each once), the later figure and sighting
// of each, within the bounds. Merging a history with itself changes nothing.
RelayHistory mergeHistories(RelayHistory a, const RelayHistory& b);
// Drops attempts beyond each record's bound, then the relays tried longest ago beyond the bound,
// then the profiles beyond the newest kHistoryMaxProfiles.
void boundHistory(RelayHistory& history);

// "12.3 Mbps".
QString megabitsText(qint64 bitsPerSecond);
// "42 ms, 12.3 Mbps — provider says 180.0 Mbps"; either figure may be missing. Nothing when
// neither was measured.
std::optional<QString> measuredFigures(std::optional<qint64> rtt, std::optional<qint64> throughput,
                                       const std::optional<qint64>& advertised);
// The quiet line under a relay: "worked 2 hours ago · 12.3 Mbps measured", "failed 5 minutes
// ago (2 of 3 attempts failed)"; nothing for a relay never tried.
std::optional<QString> historyLine(const RelayRecord& record, const QDateTime& now);
// Ranks by what worked for this user: relays that worked before those that only failed, more
// working attempts first, then the measured throughput, the measured round trip, and last the
// given order (relays without a record keep it, after all recorded ones). Returns a new order.
std::vector<Relay> measuredOrder(std::vector<Relay> relays, const RelayHistory& history);
// Relays that worked within `within` of `now` with a kept profile and are not in `listed`
// (the ids of the current catalog): the newest success first.
std::vector<RelayRecord> recentlyWorked(const RelayHistory& history, const QSet<QString>& listed, const QDateTime& now,
                                        std::chrono::seconds within);
// The record's fields for scripts ("worked", "failed", "lastWorked", "lastFailed" as ISO times,
// "rttMilliseconds", "throughputBitsPerSecond", "lastSeen", "profileKept").
QJsonObject historyFields(const RelayRecord& record);

QByteArray historyToJson(const RelayHistory& history);
// Throws std::runtime_error with a sentence saying what is wrong.
RelayHistory historyFromJson(const QByteArray& data);

// The history file, shared by every process of the user. Each change is made under a lock file on
// the latest stored history merged with what this process knows, and written to a temporary file
// renamed over the old one, so no reader sees half a file and no writer's change is lost. A file
// that cannot be read is renamed aside (never deleted) and a new history begins.
class RelayHistoryStore {
public:
    // An empty path keeps the history in memory only.
    explicit RelayHistoryStore(QString path);

    // $XDG_DATA_HOME/orlune-vpn/relay-history.json (default ~/.local/share).
    static QString defaultPath();

    const QString& path() const { return path_; }
    const RelayHistory& history() const { return history_; }

    // Merges what another process stored since. Nothing when that worked; otherwise a sentence
    // (the file set aside, or not readable), and this process's history stays as it was.
    std::optional<QString> reload();
    // Applies `change` to the merged history and stores it. The change always applies in memory;
    // the sentence says why it could not be stored or what was set aside.
    std::optional<QString> update(const std::function<void(RelayHistory&)>& change);

private:
    // Reads the file into `stored`; a sentence when it was set aside or unreadable.
    std::optional<QString> readStored(RelayHistory& stored, bool& readable) const;

    QString path_;
    RelayHistory history_;
};

}  // namespace orlune
