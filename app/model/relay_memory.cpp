#include "model/relay_memory.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QStringList>
#include <QVariantMap>

#include "core/tunnel_error.h"
#include "model/cancellation.h"

namespace orlune {

QHash<QString, QDateTime> readQuarantine(const Preferences& preferences, const QDateTime& now) {
    const QVariant stored = preferences.value(PreferenceKey::unavailableRelayUntil);
    if (stored.typeId() != QMetaType::QVariantMap) return {};
    QHash<QString, QDateTime> result;
    const QVariantMap map = stored.toMap();
    for (auto entry = map.constBegin(); entry != map.constEnd(); ++entry) {
        const int type = entry.value().typeId();
        if (type != QMetaType::Double && type != QMetaType::Int && type != QMetaType::LongLong) return {};
        const auto until = QDateTime::fromMSecsSinceEpoch(qint64(entry.value().toDouble() * 1000.0), Qt::UTC);
        if (until > now) result.insert(entry.key(), until);
    }
    return result;
}

void writeQuarantine(Preferences& preferences, const QHash<QString, QDateTime>& quarantine) {
    QVariantMap map;
    for (auto entry = quarantine.constBegin(); entry != quarantine.constEnd(); ++entry) {
        map.insert(entry.key(), double(entry.value().toMSecsSinceEpoch()) / 1000.0);
    }
    preferences.setValue(PreferenceKey::unavailableRelayUntil, map);
}

QHash<QString, QDateTime> mergeQuarantine(QHash<QString, QDateTime> a, const QHash<QString, QDateTime>& b,
                                          const QDateTime& now) {
    for (auto entry = b.constBegin(); entry != b.constEnd(); ++entry) {
        auto found = a.find(entry.key());
        if (found == a.end()) {
            a.insert(entry.key(), entry.value());
        } else if (entry.value() > *found) {
            *found = entry.value();
        }
    }
    a.removeIf([&](auto entry) { return entry.value() <= now; });
    return a;
}

QHash<QString, QDateTime> shiftedQuarantine(QHash<QString, QDateTime> quarantine, qint64 milliseconds) {
    if (milliseconds == 0) return quarantine;
    for (QDateTime& until : quarantine) until = until.addMSecs(milliseconds);
    return quarantine;
}

QSet<QString> readFavorites(const Preferences& preferences) {
    const QVariant stored = preferences.value(PreferenceKey::favoriteRelays);
    if (!stored.isValid()) return {};
    const QStringList ids = stored.toStringList();
    return QSet<QString>(ids.begin(), ids.end());
}

void writeFavorites(Preferences& preferences, const QSet<QString>& favorites) {
    QStringList ids(favorites.begin(), favorites.end());
    ids.sort();
    preferences.setValue(PreferenceKey::favoriteRelays, ids);
}

QHash<QString, Relay> readFavoriteSnapshots(const Preferences& preferences) {
    const QByteArray data = preferences.value(PreferenceKey::favoriteRelaySnapshots).toByteArray();
    const QJsonDocument document = QJsonDocument::fromJson(data);
    if (!document.isArray()) return {};
    QHash<QString, Relay> result;
    for (const QJsonValue& value : document.array()) {
        if (!value.isObject()) return {};
        const auto relay = Relay::fromJson(value.toObject());
        if (!relay) return {};
        result.insert(relay->id, *relay);
    }
    return result;
}

void writeFavoriteSnapshots(Preferences& preferences, const QHash<QString, Relay>& snapshots) {
    QJsonArray records;
    for (const Relay& relay : snapshots) records.append(relay.toJson());
    preferences.setValue(PreferenceKey::favoriteRelaySnapshots, QJsonDocument(records).toJson(QJsonDocument::Compact));
}

bool shouldQuarantine(const std::exception_ptr& error) {
    if (!error) return false;
    if (isCancellation(error)) return false;
    try {
        std::rethrow_exception(error);
    } catch (const TunnelError& tunnelError) {
        using Kind = TunnelError::Kind;
        switch (tunnelError.kind()) {
        case Kind::backendCommandFailed:
        case Kind::noInternet:
        case Kind::originalIPUnavailable:
        case Kind::backendUnavailable:
        case Kind::physicalRouteNotRestored:
        case Kind::internetUnverifiedAfterDisconnect:
        case Kind::exitCountryUnavailable:
        case Kind::disconnectNotConfirmed:
            return false;
        default:
            return true;
        }
    } catch (...) {
        // Anything else is local: the control socket, a hung or restarting service, the profile
        // request.
        return false;
    }
}

}  // namespace orlune
