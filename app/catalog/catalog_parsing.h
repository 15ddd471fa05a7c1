#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QStringView>
#include <QtGlobal>

#include <optional>
#include <vector>

#include "core/relay.h"

namespace orlune {

// VPN Gate's columns, numbered from 0.
namespace CatalogColumn {
inline constexpr int hostName = 0;
inline constexpr int ipAddress = 1;
inline constexpr int ping = 3;
inline constexpr int speed = 4;
inline constexpr int countryLong = 5;
inline constexpr int countryShort = 6;
inline constexpr int sessions = 7;
inline constexpr int uptime = 8;
inline constexpr int profile = 14;
inline constexpr int count = 15;
}  // namespace CatalogColumn

// The first row of every real list; an error page served with status 200 lacks it.
inline constexpr QStringView kCatalogBanner = u"*vpn_servers";

// An optional sign followed by one or more decimal digits and nothing else, fitting 64 bits.
std::optional<qint64> parseWholeNumber(QStringView text);

// The body as text, or nothing when it is not valid UTF-8.
std::optional<QString> decodeUtf8(const QByteArray& body);

// True when the first row is VPN Gate's list banner.
bool hasCatalogBanner(const std::vector<QStringList>& rows);

// One record per relay id, a later record replacing an earlier one, in recommended order.
std::vector<Relay> uniqueInRecommendedOrder(std::vector<Relay> relays);

// The usable relays of a parsed list (rows after the banner and the header), duplicates
// resolved in favour of the later row, in recommended order.
std::vector<Relay> relaysFromRows(const std::vector<QStringList>& rows);

// A whole catalog answer's body to relays. Throws CatalogError::invalidResponse when the body
// is not UTF-8 or is not a VPN Gate list; a list without usable rows gives no relays.
std::vector<Relay> parseCatalog(const QByteArray& body);

// The first row after the banner and header that still lists `relay` with a profile: same
// id, address and country name, country code equal ignoring case. Null when there is none.
const QStringList* findRelayRow(const std::vector<QStringList>& rows, const Relay& relay);

// The relay's cleaned profile from a whole catalog answer's body. Throws TunnelError:
// serverConfigurationUnavailable (not UTF-8, not a VPN Gate list), serverMissingFromFreshCatalog,
// serverProfileInvalid or unsafeServerConfiguration.
QString profileFromCatalog(const QByteArray& body, const Relay& relay);

}  // namespace orlune
