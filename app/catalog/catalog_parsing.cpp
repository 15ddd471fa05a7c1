#include "catalog/catalog_parsing.h"

#include <QHash>
#include <QStringDecoder>

#include <algorithm>
#include <limits>

#include "catalog/catalog_error.h"
#include "catalog/csv_reader.h"
#include "catalog/profile_cleaning.h"
#include "core/tunnel_error.h"

namespace orlune {
namespace {

// Rows 0 and 1 are the banner and the column header.
constexpr std::size_t kFirstRelayRow = 2;

std::optional<qint64> positive(std::optional<qint64> value) {
    if (value && *value > 0) return value;
    return std::nullopt;
}

std::optional<Relay> relayFromRow(const QStringList& row) {
    namespace C = CatalogColumn;
    if (row.size() < C::count) return std::nullopt;
    for (int column : {C::hostName, C::ipAddress, C::countryLong, C::countryShort, C::profile}) {
        if (row.at(column).isEmpty()) return std::nullopt;
    }
    Relay relay;
    relay.id = row.at(C::hostName) + u'-' + row.at(C::ipAddress);
    relay.country = row.at(C::countryLong);
    relay.countryCode = row.at(C::countryShort);
    relay.name = row.at(C::hostName);
    relay.hostname = row.at(C::ipAddress);
    relay.pingMilliseconds = positive(parseWholeNumber(row.at(C::ping)));
    relay.speedBitsPerSecond = positive(parseWholeNumber(row.at(C::speed)));
    relay.sessions = parseWholeNumber(row.at(C::sessions));
    // VPN Gate reports uptime in milliseconds; the record holds seconds.
    if (const auto uptime = parseWholeNumber(row.at(C::uptime))) relay.uptimeSeconds = *uptime / 1000;
    relay.supportsOpenVPN = true;
    return relay;
}

}  // namespace

std::optional<qint64> parseWholeNumber(QStringView text) {
    qsizetype i = 0;
    bool negative = false;
    if (i < text.size() && (text.at(i) == u'+' || text.at(i) == u'-')) {
        negative = text.at(i) == u'-';
        ++i;
    }
    if (i == text.size()) return std::nullopt;
    // Accumulate as a negative number so that the minimum value fits.
    qint64 value = 0;
    constexpr qint64 kMin = std::numeric_limits<qint64>::min();
    for (; i < text.size(); ++i) {
        const char16_t c = text.at(i).unicode();
        if (c < u'0' || c > u'9') return std::nullopt;
        const int digit = c - u'0';
        if (value < (kMin + digit) / 10) return std::nullopt;
        value = value * 10 - digit;
    }
    if (negative) return value;
    if (value == kMin) return std::nullopt;
    return -value;
}

std::optional<QString> decodeUtf8(const QByteArray& body) {
    QStringDecoder decoder(QStringDecoder::Utf8);
    QString text = decoder.decode(body);
    if (decoder.hasError()) return std::nullopt;
    return text;
}

bool hasCatalogBanner(const std::vector<QStringList>& rows) {
    return !rows.empty() && !rows.front().isEmpty() && rows.front().front() == kCatalogBanner;
}

std::vector<Relay> uniqueInRecommendedOrder(std::vector<Relay> relays) {
    QHash<QString, std::size_t> indexById;
    std::vector<Relay> unique;
    for (Relay& relay : relays) {
        const auto found = indexById.constFind(relay.id);
        if (found != indexById.constEnd()) {
            unique[*found] = std::move(relay);
        } else {
            indexById.insert(relay.id, unique.size());
            unique.push_back(std::move(relay));
        }
    }
    std::stable_sort(unique.begin(), unique.end(), &Relay::recommendedOrder);
    return unique;
}

std::vector<Relay> relaysFromRows(const std::vector<QStringList>& rows) {
    std::vector<Relay> relays;
    for (std::size_t r = kFirstRelayRow; r < rows.size(); ++r) {
        if (std::optional<Relay> relay = relayFromRow(rows[r])) relays.push_back(std::move(*relay));
    }
    return uniqueInRecommendedOrder(std::move(relays));
}

std::vector<Relay> parseCatalog(const QByteArray& body) {
    const std::optional<QString> text = decodeUtf8(body);
    if (!text) throw CatalogError::invalidResponse();
    const std::vector<QStringList> rows = parseCSV(*text);
    if (!hasCatalogBanner(rows)) throw CatalogError::invalidResponse();
    return relaysFromRows(rows);
}

const QStringList* findRelayRow(const std::vector<QStringList>& rows, const Relay& relay) {
    namespace C = CatalogColumn;
    for (std::size_t r = kFirstRelayRow; r < rows.size(); ++r) {
        const QStringList& row = rows[r];
        if (row.size() < C::count) continue;
        if (row.at(C::hostName) + u'-' + row.at(C::ipAddress) != relay.id) continue;
        if (row.at(C::ipAddress) != relay.hostname) continue;
        if (row.at(C::countryLong) != relay.country) continue;
        if (row.at(C::countryShort).compare(relay.countryCode, Qt::CaseInsensitive) != 0) continue;
        if (row.at(C::profile).isEmpty()) continue;
        return &row;
    }
    return nullptr;
}

QString profileFromCatalog(const QByteArray& body, const Relay& relay) {
    const std::optional<QString> text = decodeUtf8(body);
    if (!text) throw TunnelError(TunnelError::Kind::serverConfigurationUnavailable);
    const std::vector<QStringList> rows = parseCSV(*text);
    // An error page is the provider failing, not the relay leaving the list.
    if (!hasCatalogBanner(rows)) throw TunnelError(TunnelError::Kind::serverConfigurationUnavailable);
    if (rows.size() < 3) throw TunnelError(TunnelError::Kind::serverMissingFromFreshCatalog);
    const QStringList* row = findRelayRow(rows, relay);
    if (!row) throw TunnelError(TunnelError::Kind::serverMissingFromFreshCatalog);
    return cleanedProfile(decodeProfile(row->at(CatalogColumn::profile)), relay);
}

}  // namespace orlune
