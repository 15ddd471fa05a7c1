#pragma once

// Filtering, sorting and grouping of the relay list shown on the Servers and Favorites pages.

#include <QSet>
#include <QString>

#include <vector>

#include "core/relay.h"

namespace orlune::ui {

struct ServerRow {
    Relay relay;
    bool available = true;  // false: a favourite that left the live catalog or is not eligible
    int measuredRank = 0;   // the place by what worked for this user (the "Measured" sort)
};

enum class ServerSort { recommended, lowestPing, fastest, measured };

// "Recommended", "Lowest Ping", "Fastest", "Measured"; any other name sorts as recommended.
ServerSort serverSortFromName(const QString& name);
QString serverSortName(ServerSort sort);

struct ServerGroup {
    QString country;
    QString code;  // of the group's first row
    std::vector<ServerRow> rows;
};

// Keeps the rows whose name, host name or country contains `serverSearch`, and whose country
// contains `countrySearch` (both ignoring case; empty matches all), sorts them stably (available
// first, then by `sort`) and groups them by country name in case-insensitive locale order.
std::vector<ServerGroup> groupServerRows(std::vector<ServerRow> rows, const QString& serverSearch,
                                         const QString& countrySearch, ServerSort sort);

}  // namespace orlune::ui
