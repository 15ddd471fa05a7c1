#include "model/relay_history.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonParseError>
#include <QLockFile>
#include <QSaveFile>
#include <QStandardPaths>

#include "catalog/catalog_cache.h"

#include <algorithm>
#include <stdexcept>
#include <tuple>

namespace orlune {
namespace {

constexpr int kFormatVersion = 1;
constexpr int kLockWaitMilliseconds = 5'000;

qint64 millis(const QDateTime& time) {
    return time.toMSecsSinceEpoch();
}
QDateTime fromMillis(qint64 value) {
    return QDateTime::fromMSecsSinceEpoch(value, Qt::UTC);
}

bool attemptBefore(const RelayAttempt& a, const RelayAttempt& b) {
    if (a.at != b.at) return a.at < b.at;
    return !a.worked && b.worked;
}

void boundAttempts(std::vector<RelayAttempt>& attempts) {
    std::sort(attempts.begin(), attempts.end(), attemptBefore);
    attempts.erase(std::unique(attempts.begin(), attempts.end()), attempts.end());
    if (attempts.size() > std::size_t(kHistoryMaxAttempts)) {
        attempts.erase(attempts.begin(), attempts.end() - kHistoryMaxAttempts);
    }
}

// The later of two optional times, with its figure.
void takeLater(std::optional<qint64>& value, std::optional<QDateTime>& at, const std::optional<qint64>& otherValue,
               const std::optional<QDateTime>& otherAt) {
    if (!otherAt) return;
    if (!at || *otherAt > *at) {
        value = otherValue;
        at = otherAt;
    }
}

std::optional<qint64> optionalInteger(const QJsonObject& object, const char* key, bool& ok) {
    const QJsonValue value = object.value(QLatin1String(key));
    if (value.isUndefined()) return std::nullopt;
    if (!value.isDouble() || value.toDouble() != double(qint64(value.toDouble())) || value.toDouble() < 0) {
        ok = false;
        return std::nullopt;
    }
    return qint64(value.toDouble());
}

std::optional<QDateTime> optionalTime(const QJsonObject& object, const char* key, bool& ok) {
    const auto value = optionalInteger(object, key, ok);
    if (!value) return std::nullopt;
    return fromMillis(*value);
}

void putOptional(QJsonObject& object, const char* key, const std::optional<qint64>& value) {
    if (value) object.insert(QLatin1String(key), double(*value));
}

void putOptional(QJsonObject& object, const char* key, const std::optional<QDateTime>& value) {
    if (value) object.insert(QLatin1String(key), double(millis(*value)));
}

// (time, relay id) pairs newest first; ties by id so that every process keeps the same relays.
void sortNewestFirst(std::vector<std::pair<qint64, QString>>& order) {
    std::sort(order.begin(), order.end(), [](const auto& x, const auto& y) {
        return x.first != y.first ? x.first > y.first : x.second < y.second;
    });
}

// Keeps the newest kHistoryMaxProfiles profiles.
void boundProfiles(RelayHistory& history) {
    std::vector<std::pair<qint64, QString>> order;
    for (auto entry = history.constBegin(); entry != history.constEnd(); ++entry) {
        if (entry.value().profileAt) order.emplace_back(millis(*entry.value().profileAt), entry.key());
    }
    if (order.size() <= std::size_t(kHistoryMaxProfiles)) return;
    sortNewestFirst(order);
    for (std::size_t i = std::size_t(kHistoryMaxProfiles); i < order.size(); ++i) {
        RelayRecord& record = history[order[i].second];
        record.profile.clear();
        record.profileAt.reset();
    }
}

}  // namespace

int RelayRecord::workedCount() const {
    return int(std::count_if(attempts.begin(), attempts.end(), [](const auto& a) { return a.worked; }));
}

int RelayRecord::failedCount() const {
    return int(attempts.size()) - workedCount();
}

std::optional<QDateTime> RelayRecord::lastWorked() const {
    for (auto it = attempts.rbegin(); it != attempts.rend(); ++it) {
        if (it->worked) return it->at;
    }
    return std::nullopt;
}

std::optional<QDateTime> RelayRecord::lastFailed() const {
    for (auto it = attempts.rbegin(); it != attempts.rend(); ++it) {
        if (!it->worked) return it->at;
    }
    return std::nullopt;
}

std::optional<QDateTime> RelayRecord::lastAttempt() const {
    if (attempts.empty()) return std::nullopt;
    return attempts.back().at;
}

QJsonObject RelayRecord::toJson() const {
    QJsonObject object;
    object.insert(QStringLiteral("relay"), relay.toJson());
    QJsonArray list;
    for (const RelayAttempt& attempt : attempts) {
        list.append(QJsonArray{double(millis(attempt.at)), attempt.worked});
    }
    object.insert(QStringLiteral("attempts"), list);
    putOptional(object, "rttMilliseconds", rttMilliseconds);
    putOptional(object, "rttAt", rttAt);
    putOptional(object, "throughputBitsPerSecond", throughputBitsPerSecond);
    putOptional(object, "throughputAt", throughputAt);
    putOptional(object, "lastSeen", lastSeen);
    if (!profile.isEmpty()) object.insert(QStringLiteral("profile"), profile);
    putOptional(object, "profileAt", profileAt);
    return object;
}

std::optional<RelayRecord> RelayRecord::fromJson(const QJsonObject& object) {
    RelayRecord record;
    const auto relay = Relay::fromJson(object.value(u"relay").toObject());
    if (!relay) return std::nullopt;
    record.relay = *relay;
    const QJsonValue attempts = object.value(u"attempts");
    if (!attempts.isArray()) return std::nullopt;
    for (const auto& entry : attempts.toArray()) {
        const QJsonArray pair = entry.toArray();
        if (!entry.isArray() || pair.size() != 2 || !pair.at(0).isDouble() || !pair.at(1).isBool()) {
            return std::nullopt;
        }
        record.attempts.push_back({fromMillis(qint64(pair.at(0).toDouble())), pair.at(1).toBool()});
    }
    bool ok = true;
    record.rttMilliseconds = optionalInteger(object, "rttMilliseconds", ok);
    record.rttAt = optionalTime(object, "rttAt", ok);
    record.throughputBitsPerSecond = optionalInteger(object, "throughputBitsPerSecond", ok);
    record.throughputAt = optionalTime(object, "throughputAt", ok);
    record.lastSeen = optionalTime(object, "lastSeen", ok);
    record.profileAt = optionalTime(object, "profileAt", ok);
    const QJsonValue profile = object.value(u"profile");
    if (!profile.isUndefined() && (!profile.isString() || profile.toString().size() > kHistoryMaxProfileBytes)) {
        return std::nullopt;
    }
    record.profile = profile.toString();
    if (!ok) return std::nullopt;
    boundAttempts(record.attempts);
    return record;
}

void recordAttempt(RelayHistory& history, const Relay& relay, const QDateTime& at, bool worked) {
    RelayRecord& record = history[relay.id];
    record.relay = relay;
    record.attempts.push_back({at, worked});
    boundAttempts(record.attempts);
}

void recordMeasurement(RelayHistory& history, const Relay& relay, const QDateTime& at, std::optional<qint64> rtt,
                       std::optional<qint64> throughput) {
    RelayRecord& record = history[relay.id];
    record.relay = relay;
    if (rtt) {
        record.rttMilliseconds = rtt;
        record.rttAt = at;
    }
    if (throughput) {
        record.throughputBitsPerSecond = throughput;
        record.throughputAt = at;
    }
}

void recordProfile(RelayHistory& history, const Relay& relay, const QDateTime& at, const QString& profile) {
    if (profile.isEmpty() || profile.size() > kHistoryMaxProfileBytes) return;
    RelayRecord& record = history[relay.id];
    record.relay = relay;
    record.profile = profile;
    record.profileAt = at;
}

void recordCatalog(RelayHistory& history, const std::vector<Relay>& catalog, const QDateTime& at) {
    for (const Relay& relay : catalog) {
        auto found = history.find(relay.id);
        if (found == history.end()) continue;
        found->relay = relay;
        found->lastSeen = at;
    }
}

RelayHistory mergeHistories(RelayHistory a, const RelayHistory& b) {
    for (auto entry = b.constBegin(); entry != b.constEnd(); ++entry) {
        auto found = a.find(entry.key());
        if (found == a.end()) {
            a.insert(entry.key(), entry.value());
            continue;
        }
        RelayRecord& mine = *found;
        const RelayRecord& theirs = entry.value();
        if (theirs.lastSeen && (!mine.lastSeen || *theirs.lastSeen > *mine.lastSeen)) {
            mine.lastSeen = theirs.lastSeen;
            mine.relay = theirs.relay;
        }
        mine.attempts.insert(mine.attempts.end(), theirs.attempts.begin(), theirs.attempts.end());
        boundAttempts(mine.attempts);
        takeLater(mine.rttMilliseconds, mine.rttAt, theirs.rttMilliseconds, theirs.rttAt);
        takeLater(mine.throughputBitsPerSecond, mine.throughputAt, theirs.throughputBitsPerSecond, theirs.throughputAt);
        if (theirs.profileAt && (!mine.profileAt || *theirs.profileAt > *mine.profileAt)) {
            mine.profile = theirs.profile;
            mine.profileAt = theirs.profileAt;
        }
    }
    boundHistory(a);
    return a;
}

void boundHistory(RelayHistory& history) {
    for (RelayRecord& record : history) boundAttempts(record.attempts);
    if (history.size() > kHistoryMaxRelays) {
        std::vector<std::pair<qint64, QString>> order;
        for (auto entry = history.constBegin(); entry != history.constEnd(); ++entry) {
            const auto last = entry.value().lastAttempt();
            order.emplace_back(last ? millis(*last) : 0, entry.key());
        }
        sortNewestFirst(order);
        for (std::size_t i = std::size_t(kHistoryMaxRelays); i < order.size(); ++i) history.remove(order[i].second);
    }
    boundProfiles(history);
}

QString megabitsText(qint64 bitsPerSecond) {
    return QString::asprintf("%.1f Mbps", double(bitsPerSecond) / 1'000'000.0);
}

std::optional<QString> measuredFigures(std::optional<qint64> rtt, std::optional<qint64> throughput,
                                       const std::optional<qint64>& advertised) {
    QStringList figures;
    if (rtt) figures.append(QStringLiteral("%1 ms").arg(*rtt));
    if (throughput) figures.append(megabitsText(*throughput));
    if (figures.isEmpty()) return std::nullopt;
    QString text = figures.join(QStringLiteral(", "));
    if (throughput && advertised) text += QStringLiteral(" — provider says ") + megabitsText(*advertised);
    return text;
}

std::optional<QString> historyLine(const RelayRecord& record, const QDateTime& now) {
    const auto worked = record.lastWorked();
    const auto failed = record.lastFailed();
    QStringList parts;
    if (worked) {
        parts.append(QStringLiteral("worked ") + catalogAgeText(*worked, now));
    } else if (failed) {
        parts.append(QStringLiteral("failed ") + catalogAgeText(*failed, now));
    }
    if (record.throughputBitsPerSecond) {
        parts.append(megabitsText(*record.throughputBitsPerSecond) + QStringLiteral(" measured"));
    } else if (record.rttMilliseconds) {
        parts.append(QStringLiteral("%1 ms measured").arg(*record.rttMilliseconds));
    }
    // A relay that failed since it last worked says so.
    if (worked && failed && *failed > *worked) parts.append(QStringLiteral("failed since"));
    if (parts.isEmpty()) return std::nullopt;
    return parts.join(QStringLiteral(" · "));
}

std::vector<Relay> measuredOrder(std::vector<Relay> relays, const RelayHistory& history) {
    auto score = [&](const Relay& relay) {
        const auto found = history.constFind(relay.id);
        // (recorded, worked at all, working attempts, throughput, minus round trip)
        if (found == history.constEnd()) return std::tuple<int, int, int, qint64, qint64>(0, 0, 0, 0, 0);
        const RelayRecord& record = *found;
        return std::tuple<int, int, int, qint64, qint64>(
            1, record.workedCount() > 0 ? 1 : 0, record.workedCount() - record.failedCount(),
            record.throughputBitsPerSecond.value_or(0), -record.rttMilliseconds.value_or(1'000'000));
    };
    std::stable_sort(relays.begin(), relays.end(), [&](const Relay& a, const Relay& b) { return score(a) > score(b); });
    return relays;
}

std::vector<RelayRecord> recentlyWorked(const RelayHistory& history, const QSet<QString>& listed, const QDateTime& now,
                                        std::chrono::seconds within) {
    std::vector<RelayRecord> found;
    for (const RelayRecord& record : history) {
        const auto worked = record.lastWorked();
        if (record.profile.isEmpty() || listed.contains(record.relay.id) || !worked) continue;
        if (worked->secsTo(now) > within.count() || *worked > now) continue;
        found.push_back(record);
    }
    std::sort(found.begin(), found.end(), [](const RelayRecord& a, const RelayRecord& b) {
        return a.lastWorked() != b.lastWorked() ? a.lastWorked() > b.lastWorked() : a.relay.id < b.relay.id;
    });
    return found;
}

QJsonObject historyFields(const RelayRecord& record) {
    QJsonObject object;
    auto iso = [](const QDateTime& time) { return time.toString(Qt::ISODateWithMs); };
    object.insert(QStringLiteral("worked"), record.workedCount());
    object.insert(QStringLiteral("failed"), record.failedCount());
    if (const auto at = record.lastWorked()) object.insert(QStringLiteral("lastWorked"), iso(*at));
    if (const auto at = record.lastFailed()) object.insert(QStringLiteral("lastFailed"), iso(*at));
    putOptional(object, "rttMilliseconds", record.rttMilliseconds);
    putOptional(object, "throughputBitsPerSecond", record.throughputBitsPerSecond);
    if (record.lastSeen) object.insert(QStringLiteral("lastSeen"), iso(*record.lastSeen));
    object.insert(QStringLiteral("profileKept"), !record.profile.isEmpty());
    return object;
}

QByteArray historyToJson(const RelayHistory& history) {
    QStringList ids = history.keys();
    ids.sort();
    QJsonObject relays;
    for (const QString& id : ids) relays.insert(id, history.value(id).toJson());
    QJsonObject root;
    root.insert(QStringLiteral("version"), kFormatVersion);
    root.insert(QStringLiteral("relays"), relays);
    return QJsonDocument(root).toJson(QJsonDocument::Indented);
}

RelayHistory historyFromJson(const QByteArray& data) {
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(data, &error);
    if (error.error != QJsonParseError::NoError) {
        throw std::runtime_error(QStringLiteral("it is not JSON (%1 at offset %2)")
                                     .arg(error.errorString())
                                     .arg(error.offset)
                                     .toStdString());
    }
    const QJsonObject root = document.object();
    if (!document.isObject() || root.value(u"version").toInt() != kFormatVersion || !root.value(u"relays").isObject()) {
        throw std::runtime_error("it is not a relay history of this version");
    }
    RelayHistory history;
    const QJsonObject relays = root.value(u"relays").toObject();
    for (auto entry = relays.begin(); entry != relays.end(); ++entry) {
        const auto record = RelayRecord::fromJson(entry.value().toObject());
        if (!entry.value().isObject() || !record || record->relay.id != entry.key()) {
            throw std::runtime_error(QStringLiteral("the record of %1 is malformed").arg(entry.key()).toStdString());
        }
        history.insert(entry.key(), *record);
    }
    boundHistory(history);
    return history;
}

RelayHistoryStore::RelayHistoryStore(QString path) : path_(std::move(path)) {}

QString RelayHistoryStore::defaultPath() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
           QStringLiteral("/orlune-vpn/relay-history.json");
}

std::optional<QString> RelayHistoryStore::readStored(RelayHistory& stored, bool& readable) const {
    readable = true;
    QFile file(path_);
    if (!file.exists()) return std::nullopt;
    QString problem;
    if (file.size() > kHistoryMaxFileBytes) {
        problem = QStringLiteral("it is larger than %1 bytes").arg(kHistoryMaxFileBytes);
    } else if (!file.open(QIODevice::ReadOnly)) {
        // Left where it is: it may well be fine and only unreadable for now.
        readable = false;
        return QStringLiteral("The relay history %1 could not be read: %2.").arg(path_, file.errorString());
    } else {
        try {
            stored = historyFromJson(file.readAll());
            return std::nullopt;
        } catch (const std::exception& error) {
            problem = QString::fromStdString(error.what());
        }
        file.close();
    }
    const QString aside =
        path_ + QStringLiteral(".unreadable-") + QDateTime::currentDateTimeUtc().toString(u"yyyyMMdd'T'hhmmss");
    if (!QFile::rename(path_, aside)) {
        readable = false;
        return QStringLiteral("The relay history %1 is not usable (%2) and could not be set aside.")
            .arg(path_, problem);
    }
    return QStringLiteral("The relay history %1 was not usable (%2); it was kept as %3 and a new one begun.")
        .arg(path_, problem, aside);
}

std::optional<QString> RelayHistoryStore::reload() {
    if (path_.isEmpty()) return std::nullopt;
    QLockFile lock(path_ + QStringLiteral(".lock"));
    if (!QDir().mkpath(QFileInfo(path_).absolutePath()) || !lock.tryLock(kLockWaitMilliseconds)) {
        return QStringLiteral("The relay history %1 is busy or its folder cannot be made.").arg(path_);
    }
    RelayHistory stored;
    bool readable = true;
    auto problem = readStored(stored, readable);
    history_ = mergeHistories(std::move(stored), history_);
    return problem;
}

std::optional<QString> RelayHistoryStore::update(const std::function<void(RelayHistory&)>& change) {
    if (path_.isEmpty()) {
        change(history_);
        boundHistory(history_);
        return std::nullopt;
    }
    const QString folder = QFileInfo(path_).absolutePath();
    QLockFile lock(path_ + QStringLiteral(".lock"));
    if (!QDir().mkpath(folder) || !lock.tryLock(kLockWaitMilliseconds)) {
        change(history_);
        boundHistory(history_);
        return QStringLiteral(
                   "The relay history %1 is busy or its folder cannot be made; this change is kept "
                   "until the next one.")
            .arg(path_);
    }
    RelayHistory stored;
    bool readable = true;
    auto problem = readStored(stored, readable);
    history_ = mergeHistories(std::move(stored), history_);
    change(history_);
    boundHistory(history_);
    // A file that exists but cannot be read now is never overwritten.
    if (!readable) return problem;
    QSaveFile file(path_);
    if (!file.open(QIODevice::WriteOnly)) {
        return QStringLiteral("The relay history could not be written to %1: %2.").arg(path_, file.errorString());
    }
    // Which relays the user used is the user's own business.
    file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    file.write(historyToJson(history_));
    if (!file.commit()) {
        return QStringLiteral("The relay history could not be written to %1: %2.").arg(path_, file.errorString());
    }
    return problem;
}

}  // namespace orlune
