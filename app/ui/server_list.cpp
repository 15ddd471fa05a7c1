#include "ui/server_list.h"

#include <QCollator>

#include <algorithm>
#include <limits>

namespace orlune::ui {
namespace {

bool contains(const QString& text, const QString& part) {
    return text.contains(part, Qt::CaseInsensitive);
}

// A strict weak order for one sort key; equal keys keep their order under stable_sort.
bool before(const ServerRow& a, const ServerRow& b, ServerSort sort) {
    if (a.available != b.available) return a.available;
    switch (sort) {
    case ServerSort::fastest:
        return a.relay.speedBitsPerSecond.value_or(0) > b.relay.speedBitsPerSecond.value_or(0);
    case ServerSort::lowestPing: {
        // A row without a ping goes after every row with one.
        constexpr qint64 kMissing = std::numeric_limits<qint64>::max();
        return a.relay.pingMilliseconds.value_or(kMissing) < b.relay.pingMilliseconds.value_or(kMissing) &&
               a.relay.pingMilliseconds.has_value();
    }
    case ServerSort::measured:
        if (a.measuredRank != b.measuredRank) return a.measuredRank < b.measuredRank;
        break;
    case ServerSort::recommended:
        break;
    }
    return Relay::recommendedOrder(a.relay, b.relay);
}

}  // namespace

ServerSort serverSortFromName(const QString& name) {
    if (name == QLatin1String("Lowest Ping")) return ServerSort::lowestPing;
    if (name == QLatin1String("Fastest")) return ServerSort::fastest;
    if (name == QLatin1String("Measured")) return ServerSort::measured;
    return ServerSort::recommended;
}

QString serverSortName(ServerSort sort) {
    switch (sort) {
    case ServerSort::lowestPing:
        return QStringLiteral("Lowest Ping");
    case ServerSort::fastest:
        return QStringLiteral("Fastest");
    case ServerSort::measured:
        return QStringLiteral("Measured");
    case ServerSort::recommended:
        break;
    }
    return QStringLiteral("Recommended");
}

std::vector<ServerGroup> groupServerRows(std::vector<ServerRow> rows, const QString& serverSearch,
                                         const QString& countrySearch, ServerSort sort) {
    std::erase_if(rows, [&](const ServerRow& row) {
        const Relay& relay = row.relay;
        if (!serverSearch.isEmpty() && !contains(relay.name, serverSearch) && !contains(relay.hostname, serverSearch) &&
            !contains(relay.country, serverSearch)) {
            return true;
        }
        return !countrySearch.isEmpty() && !contains(relay.country, countrySearch);
    });
    std::stable_sort(rows.begin(), rows.end(),
                     [sort](const ServerRow& a, const ServerRow& b) { return before(a, b, sort); });

    std::vector<ServerGroup> groups;
    for (ServerRow& row : rows) {
        auto group = std::find_if(groups.begin(), groups.end(),
                                  [&](const ServerGroup& g) { return g.country == row.relay.country; });
        if (group == groups.end()) {
            groups.push_back({row.relay.country, row.relay.countryCode.toUpper(), {}});
            group = std::prev(groups.end());
        }
        group->rows.push_back(std::move(row));
    }
    QCollator collator;
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    std::stable_sort(groups.begin(), groups.end(), [&](const ServerGroup& a, const ServerGroup& b) {
        return collator.compare(a.country, b.country) < 0;
    });
    return groups;
}

}  // namespace orlune::ui
