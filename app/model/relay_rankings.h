#pragma once

#include <QDateTime>
#include <QHash>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QStringView>

#include <optional>
#include <vector>

#include "core/relay.h"

namespace orlune {

// The range of one stored limit and the step in which the settings move it.
struct LimitRange {
    int minimum;
    int maximum;
    int step;

    int clamped(int value) const { return value < minimum ? minimum : value > maximum ? maximum : value; }
    // A stored value moved into the range, or `fallback` when nothing is stored.
    int storedOr(std::optional<int> stored, int fallback) const { return stored ? clamped(*stored) : fallback; }
};

// The user's quality limits, already clamped into their ranges.
struct QualityLimits {
    static constexpr LimitRange kPingRange{50, 500, 25};
    static constexpr LimitRange kSpeedRange{5, 250, 5};
    static constexpr LimitRange kPerCountryRange{1, 10, 1};
    static constexpr int kDefaultMaxPingMilliseconds = 250;
    static constexpr int kDefaultMinimumSpeedMbps = 10;
    static constexpr int kDefaultMaxRelaysPerCountry = 4;

    int maxPingMilliseconds = kDefaultMaxPingMilliseconds;
    int minimumSpeedMbps = kDefaultMinimumSpeedMbps;
    int maxRelaysPerCountry = kDefaultMaxRelaysPerCountry;

    // Stored values (absent: the default) used as the nearest bound when out of range.
    static QualityLimits fromStored(std::optional<int> maxPing, std::optional<int> minimumSpeed,
                                    std::optional<int> maxPerCountry);
};

// A country that has recommended relays.
struct CountryChoice {
    QString code;    // upper case; the entry's identity
    QString name;    // long name of the country's first recommended relay
    int relayCount;  // recommended relays of that country

    friend bool operator==(const CountryChoice&, const CountryChoice&) = default;
};

struct FavoriteEntry {
    Relay relay;
    bool available;  // live and eligible right now
};

// What the derived views are computed from. Nothing is cached: every view is evaluated
// afresh from these, so a changed limit or a hidden relay shows at the next read.
struct RankingInputs {
    const std::vector<Relay>& relays;
    QualityLimits limits;
    const QHash<QString, QDateTime>& quarantinedUntil;
    const QSet<QString>& mismatchedRelayIDs;
    QDateTime now;
};

// Relays passing every filter, in catalog order.
std::vector<Relay> eligibleRelays(const RankingInputs& inputs);
// The best eligible relays, at most the cap per country (grouped by upper-cased code),
// ordered by country name (locale-aware, case-insensitive) and then by quality.
std::vector<Relay> recommendedRelays(const RankingInputs& inputs);
// Distinct long country names of `recommended`, in plain text order.
QStringList countries(const std::vector<Relay>& recommended);
// One entry per upper-cased code of `recommended`, sorted by name like the relays.
std::vector<CountryChoice> countryChoices(const std::vector<Relay>& recommended);
// The first relay of `recommended` whose code equals `code` ignoring case.
std::optional<Relay> bestRelay(const std::vector<Relay>& recommended, QStringView code);
// The favourites for display: the live record when listed (available when eligible), else
// the last known record (unavailable); ids with neither are left out. Recommended order.
std::vector<FavoriteEntry> favoriteRelays(const QSet<QString>& favorites, const QHash<QString, Relay>& snapshots,
                                          const std::vector<Relay>& relays, const std::vector<Relay>& eligible);

// The relays a connect to `requested` tries, in order: `requested` first when it is among the
// recommended relays of its country, then that country's other recommended relays in quality
// order, at most `cap`. Relays without OpenVPN or marked as exiting elsewhere are left out; no
// other country is ever added.
std::vector<Relay> connectionCandidates(const std::vector<Relay>& recommended, const Relay& requested,
                                        const QSet<QString>& mismatchedRelayIDs, int cap);

}  // namespace orlune
