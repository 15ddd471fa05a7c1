#pragma once

#include <QJsonObject>
#include <QString>
#include <QtGlobal>

#include <cstddef>
#include <optional>

namespace orlune {

// One relay of the catalog. Compared and hashed over all ten fields: a relay whose ping
// changed is a different value, even with the same id.
struct Relay {
    QString id;           // host name + "-" + IPv4 address; unique within one catalog
    QString country;      // long country name, as listed
    QString countryCode;  // short code, as listed (case kept)
    QString name;         // host name
    QString hostname;     // IPv4 address the profile's remote must name
    std::optional<qint64> pingMilliseconds;
    std::optional<qint64> speedBitsPerSecond;
    std::optional<qint64> sessions;
    std::optional<qint64> uptimeSeconds;
    bool supportsOpenVPN = false;

    friend bool operator==(const Relay&, const Relay&) = default;

    QString pingText() const;
    QString speedText() const;
    QString protocolText() const;
    QString uptimeText() const;

    // The one quality order: true when `a` goes before `b`. Strict and total over relays
    // with distinct ids.
    static bool recommendedOrder(const Relay& a, const Relay& b);

    // The stored form, keyed by the field names; absent optionals are left out.
    QJsonObject toJson() const;
    // Reads the stored form. Missing or mistyped required fields, or an optional that is not
    // an integer, give no relay.
    static std::optional<Relay> fromJson(const QJsonObject& object);
};

size_t qHash(const Relay& relay, size_t seed = 0) noexcept;

// Compares by Unicode code point, which is the order ids are ranked in (UTF-16 unit order
// differs for characters beyond the Basic Multilingual Plane).
int compareCodePoints(const QString& a, const QString& b) noexcept;

}  // namespace orlune
