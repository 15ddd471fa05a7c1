#include "core/relay.h"

#include <QHashFunctions>
#include <QJsonValue>

#include <limits>

namespace orlune {
namespace {

constexpr qint64 kSecondsPerDay = 86'400;
// 3652.5 days: an uptime beyond ten years is a provider fault, not a fact worth showing.
constexpr qint64 kLongestUptimeSeconds = 315'576'000;

const QString kUnavailable = QStringLiteral("Unavailable");

double score(const Relay& relay) {
    if (relay.pingMilliseconds && *relay.pingMilliseconds > 0 && relay.speedBitsPerSecond &&
        *relay.speedBitsPerSecond >= 1) {
        return static_cast<double>(*relay.speedBitsPerSecond) / static_cast<double>(*relay.pingMilliseconds);
    }
    return 0;
}

// Maps a UTF-16 unit so that unit order equals code point order: surrogates (which encode
// code points above U+FFFF) must sort after U+E000...U+FFFF.
char16_t codePointOrderKey(char16_t unit) {
    if (unit >= 0xE000) return static_cast<char16_t>(unit - 0x800);
    if (unit >= 0xD800) return static_cast<char16_t>(unit + 0x2000);
    return unit;
}

bool readOptionalInteger(const QJsonObject& object, const char* key, std::optional<qint64>& out) {
    const QJsonValue value = object.value(QLatin1String(key));
    if (value.isUndefined() || value.isNull()) {
        out.reset();
        return true;
    }
    if (!value.isDouble()) return false;
    // toInteger answers the default for a fractional or out-of-range number; two different
    // defaults tell a real value from a refusal.
    const qint64 first = value.toInteger(0);
    const qint64 second = value.toInteger(1);
    if (first != second) return false;
    out = first;
    return true;
}

bool readText(const QJsonObject& object, const char* key, QString& out) {
    const QJsonValue value = object.value(QLatin1String(key));
    if (!value.isString()) return false;
    out = value.toString();
    return true;
}

}  // namespace

QString Relay::pingText() const {
    if (!pingMilliseconds) return kUnavailable;
    return QString::number(*pingMilliseconds) + QStringLiteral(" ms");
}

QString Relay::speedText() const {
    if (!speedBitsPerSecond) return kUnavailable;
    return QString::asprintf("%.1f Mbps", static_cast<double>(*speedBitsPerSecond) / 1'000'000.0);
}

QString Relay::protocolText() const {
    return supportsOpenVPN ? QStringLiteral("OpenVPN") : kUnavailable;
}

QString Relay::uptimeText() const {
    if (!uptimeSeconds || *uptimeSeconds < 1 || *uptimeSeconds > kLongestUptimeSeconds) {
        return kUnavailable;
    }
    const qint64 uptime = *uptimeSeconds;
    const qint64 hours = (uptime % kSecondsPerDay) / 3600;
    if (uptime >= kSecondsPerDay) {
        return QStringLiteral("%1d %2h").arg(uptime / kSecondsPerDay).arg(hours);
    }
    return QStringLiteral("%1h %2m").arg(hours).arg((uptime % 3600) / 60);
}

bool Relay::recommendedOrder(const Relay& a, const Relay& b) {
    const double scoreA = score(a);
    const double scoreB = score(b);
    if (scoreA != scoreB) return scoreA > scoreB;

    constexpr qint64 kNoPing = std::numeric_limits<qint64>::max();
    const qint64 pingA = a.pingMilliseconds.value_or(kNoPing);
    const qint64 pingB = b.pingMilliseconds.value_or(kNoPing);
    if (pingA != pingB) return pingA < pingB;

    const qint64 speedA = a.speedBitsPerSecond.value_or(0);
    const qint64 speedB = b.speedBitsPerSecond.value_or(0);
    if (speedA != speedB) return speedA > speedB;

    return compareCodePoints(a.id, b.id) < 0;
}

QJsonObject Relay::toJson() const {
    QJsonObject object{
        {QStringLiteral("id"), id},
        {QStringLiteral("country"), country},
        {QStringLiteral("countryCode"), countryCode},
        {QStringLiteral("name"), name},
        {QStringLiteral("hostname"), hostname},
        {QStringLiteral("supportsOpenVPN"), supportsOpenVPN},
    };
    const auto putOptional = [&object](const char* key, const std::optional<qint64>& value) {
        if (value) object.insert(QLatin1String(key), QJsonValue(*value));
    };
    putOptional("pingMilliseconds", pingMilliseconds);
    putOptional("speedBitsPerSecond", speedBitsPerSecond);
    putOptional("sessions", sessions);
    putOptional("uptimeSeconds", uptimeSeconds);
    return object;
}

std::optional<Relay> Relay::fromJson(const QJsonObject& object) {
    Relay relay;
    const QJsonValue flag = object.value(QLatin1String("supportsOpenVPN"));
    if (!flag.isBool()) return std::nullopt;
    relay.supportsOpenVPN = flag.toBool();
    const bool ok = readText(object, "id", relay.id) && readText(object, "country", relay.country) &&
                    readText(object, "countryCode", relay.countryCode) && readText(object, "name", relay.name) &&
                    readText(object, "hostname", relay.hostname) &&
                    readOptionalInteger(object, "pingMilliseconds", relay.pingMilliseconds) &&
                    readOptionalInteger(object, "speedBitsPerSecond", relay.speedBitsPerSecond) &&
                    readOptionalInteger(object, "sessions", relay.sessions) &&
                    readOptionalInteger(object, "uptimeSeconds", relay.uptimeSeconds);
    if (!ok) return std::nullopt;
    return relay;
}

size_t qHash(const Relay& relay, size_t seed) noexcept {
    QtPrivate::QHashCombine combine;
    seed = combine(seed, relay.id);
    seed = combine(seed, relay.country);
    seed = combine(seed, relay.countryCode);
    seed = combine(seed, relay.name);
    seed = combine(seed, relay.hostname);
    for (const auto& value : {relay.pingMilliseconds, relay.speedBitsPerSecond, relay.sessions, relay.uptimeSeconds}) {
        seed = combine(seed, value.has_value());
        seed = combine(seed, value.value_or(0));
    }
    return combine(seed, relay.supportsOpenVPN);
}

int compareCodePoints(const QString& a, const QString& b) noexcept {
    const qsizetype common = std::min(a.size(), b.size());
    for (qsizetype i = 0; i < common; ++i) {
        const char16_t x = a.at(i).unicode();
        const char16_t y = b.at(i).unicode();
        if (x != y) return codePointOrderKey(x) < codePointOrderKey(y) ? -1 : 1;
    }
    if (a.size() == b.size()) return 0;
    return a.size() < b.size() ? -1 : 1;
}

}  // namespace orlune
