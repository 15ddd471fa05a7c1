#include "model/relay_rankings.h"

#include <QCollator>

#include <algorithm>

namespace orlune {
namespace {

bool passesFilters(const Relay& relay, const RankingInputs& inputs) {
    if (!relay.supportsOpenVPN || !relay.pingMilliseconds || *relay.pingMilliseconds < 1) return false;
    if (*relay.pingMilliseconds > inputs.limits.maxPingMilliseconds) return false;
    const qint64 minimumBits = qint64(inputs.limits.minimumSpeedMbps) * 1'000'000;
    if (!relay.speedBitsPerSecond || *relay.speedBitsPerSecond < minimumBits) return false;
    // Eligible again at the exact moment the hiding time is reached.
    const auto hidden = inputs.quarantinedUntil.constFind(relay.id);
    if (hidden != inputs.quarantinedUntil.constEnd() && *hidden > inputs.now) return false;
    return !inputs.mismatchedRelayIDs.contains(relay.id);
}

QCollator nameCollator() {
    QCollator collator;  // the user's locale
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    return collator;
}

// Groups by upper-cased country code, keeping catalog order within each group and the order
// in which the groups first appear.
std::vector<std::vector<Relay>> groupByCountry(const std::vector<Relay>& relays) {
    std::vector<std::vector<Relay>> groups;
    QHash<QString, std::size_t> indexOf;
    for (const Relay& relay : relays) {
        const QString code = relay.countryCode.toUpper();
        auto found = indexOf.constFind(code);
        if (found == indexOf.constEnd()) {
            indexOf.insert(code, groups.size());
            groups.push_back({relay});
        } else {
            groups[*found].push_back(relay);
        }
    }
    return groups;
}

}  // namespace

QualityLimits QualityLimits::fromStored(std::optional<int> maxPing, std::optional<int> minimumSpeed,
                                        std::optional<int> maxPerCountry) {
    return {kPingRange.storedOr(maxPing, kDefaultMaxPingMilliseconds),
            kSpeedRange.storedOr(minimumSpeed, kDefaultMinimumSpeedMbps),
            kPerCountryRange.storedOr(maxPerCountry, kDefaultMaxRelaysPerCountry)};
}

std::vector<Relay> eligibleRelays(const RankingInputs& inputs) {
    std::vector<Relay> result;
    for (const Relay& relay : inputs.relays) {
        if (passesFilters(relay, inputs)) result.push_back(relay);
    }
    return result;
}

std::vector<Relay> recommendedRelays(const RankingInputs& inputs) {
    std::vector<Relay> kept;
    for (auto& group : groupByCountry(eligibleRelays(inputs))) {
        std::stable_sort(group.begin(), group.end(), Relay::recommendedOrder);
        const auto cap = std::min<std::size_t>(group.size(), std::size_t(inputs.limits.maxRelaysPerCountry));
        kept.insert(kept.end(), group.begin(), group.begin() + std::ptrdiff_t(cap));
    }
    const QCollator collator = nameCollator();
    std::stable_sort(kept.begin(), kept.end(), [&](const Relay& a, const Relay& b) {
        const int byName = collator.compare(a.country, b.country);
        if (byName != 0) return byName < 0;
        return Relay::recommendedOrder(a, b);
    });
    return kept;
}

QStringList countries(const std::vector<Relay>& recommended) {
    QStringList names;
    for (const Relay& relay : recommended) {
        if (!names.contains(relay.country)) names.append(relay.country);
    }
    std::sort(names.begin(), names.end());
    return names;
}

std::vector<CountryChoice> countryChoices(const std::vector<Relay>& recommended) {
    std::vector<CountryChoice> choices;
    for (const auto& group : groupByCountry(recommended)) {
        choices.push_back({group.front().countryCode.toUpper(), group.front().country, int(group.size())});
    }
    const QCollator collator = nameCollator();
    std::stable_sort(choices.begin(), choices.end(), [&](const CountryChoice& a, const CountryChoice& b) {
        return collator.compare(a.name, b.name) < 0;
    });
    return choices;
}

std::optional<Relay> bestRelay(const std::vector<Relay>& recommended, QStringView code) {
    for (const Relay& relay : recommended) {
        if (QStringView(relay.countryCode).compare(code, Qt::CaseInsensitive) == 0) return relay;
    }
    return std::nullopt;
}

std::vector<FavoriteEntry> favoriteRelays(const QSet<QString>& favorites, const QHash<QString, Relay>& snapshots,
                                          const std::vector<Relay>& relays, const std::vector<Relay>& eligible) {
    std::vector<FavoriteEntry> entries;
    for (const QString& id : favorites) {
        auto live = std::find_if(relays.begin(), relays.end(), [&](const Relay& r) { return r.id == id; });
        if (live != relays.end()) {
            const bool available =
                std::any_of(eligible.begin(), eligible.end(), [&](const Relay& r) { return r == *live; });
            entries.push_back({*live, available});
        } else if (auto snapshot = snapshots.constFind(id); snapshot != snapshots.constEnd()) {
            entries.push_back({*snapshot, false});
        }
    }
    std::sort(entries.begin(), entries.end(),
              [](const FavoriteEntry& a, const FavoriteEntry& b) { return Relay::recommendedOrder(a.relay, b.relay); });
    return entries;
}

std::vector<Relay> connectionCandidates(const std::vector<Relay>& recommended, const Relay& requested,
                                        const QSet<QString>& mismatchedRelayIDs, int cap) {
    std::vector<Relay> ofCountry;
    for (const Relay& relay : recommended) {
        if (relay.supportsOpenVPN && relay.countryCode.compare(requested.countryCode, Qt::CaseInsensitive) == 0 &&
            !mismatchedRelayIDs.contains(relay.id)) {
            ofCountry.push_back(relay);
        }
    }
    std::stable_sort(ofCountry.begin(), ofCountry.end(), Relay::recommendedOrder);
    const auto preferred =
        std::find_if(ofCountry.begin(), ofCountry.end(), [&](const Relay& relay) { return relay.id == requested.id; });
    if (preferred != ofCountry.end()) std::rotate(ofCountry.begin(), preferred, preferred + 1);
    ofCountry.resize(std::min(ofCountry.size(), std::size_t(std::max(cap, 0))));
    return ofCountry;
}

}  // namespace orlune
