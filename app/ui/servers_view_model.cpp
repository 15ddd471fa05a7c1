#include "ui/servers_view_model.h"

#include <QLocale>
#include <QVariantMap>

#include "model/app_model.h"
#include "ui/presentation.h"

namespace orlune::ui {
namespace {

QVariantMap metric(const QString& label, const QString& value) {
    return {{QStringLiteral("label"), label}, {QStringLiteral("value"), value}};
}

// Every row carries every key, so a view that lays out both kinds never reads an absent one.
QVariantMap listEntry(const QVariantMap& values) {
    static const QVariantMap defaults{{QStringLiteral("kind"), QString()},
                                      {QStringLiteral("country"), QString()},
                                      {QStringLiteral("flag"), QString()},
                                      {QStringLiteral("count"), 0},
                                      {QStringLiteral("expanded"), false},
                                      {QStringLiteral("chevron"), QString()},
                                      {QStringLiteral("accessibleName"), QString()},
                                      {QStringLiteral("accessibleHint"), QString()},
                                      {QStringLiteral("id"), QString()},
                                      {QStringLiteral("name"), QString()},
                                      {QStringLiteral("selected"), false},
                                      {QStringLiteral("available"), true},
                                      {QStringLiteral("favorite"), false},
                                      {QStringLiteral("markIcon"), QString()},
                                      {QStringLiteral("badges"), QVariantList()},
                                      {QStringLiteral("metrics"), QVariantList()},
                                      {QStringLiteral("favoriteIcon"), QString()},
                                      {QStringLiteral("favoriteTooltip"), QString()},
                                      {QStringLiteral("favoriteAccessibleName"), QString()},
                                      {QStringLiteral("tooltip"), QString()},
                                      {QStringLiteral("historyLine"), QString()}};
    QVariantMap map = defaults;
    map.insert(values);
    return map;
}

}  // namespace

ServersViewModel::ServersViewModel(QObject* parent) : ShellBound(parent) {
    connect(this, &ServersViewModel::changed, this, &ServersViewModel::rebuildRows);
}

void ServersViewModel::attach(Shell& shell) {
    AppModel& m = shell.model();
    for (auto signal :
         {&AppModel::relaysChanged, &AppModel::rankingsChanged, &AppModel::loadingChanged, &AppModel::offlineChanged,
          &AppModel::catalogMessageChanged, &AppModel::selectedChanged, &AppModel::favoritesChanged,
          &AppModel::mismatchedRelayIDsChanged, &AppModel::serverSearchChanged, &AppModel::countrySearchChanged,
          &AppModel::lastUpdatedChanged, &AppModel::keptCatalogDateChanged, &AppModel::relayHistoryChanged}) {
        connect(&m, signal, this, &ServersViewModel::changed);
    }
    connect(&shell.preferences(), &Preferences::changed, this, [this](const QString& key) {
        if (key == QLatin1String(PreferenceKey::offerRecentlyWorked)) emit changed();
    });
}

void ServersViewModel::setFavoritesOnly(bool value) {
    if (favoritesOnly_ == value) return;
    favoritesOnly_ = value;
    emit changed();
}

void ServersViewModel::setSort(const QString& name) {
    const ServerSort sort = serverSortFromName(name);
    if (sort_ == sort) return;
    sort_ = sort;
    emit changed();
}

QStringList ServersViewModel::sortOptions() const {
    return {serverSortName(ServerSort::recommended), serverSortName(ServerSort::lowestPing),
            serverSortName(ServerSort::fastest), serverSortName(ServerSort::measured)};
}

QString ServersViewModel::title() const {
    return favoritesOnly_ ? QStringLiteral("Favorites") : QStringLiteral("Servers");
}

QString ServersViewModel::subtitle() const {
    if (favoritesOnly_) return QStringLiteral("Saved community relays");
    if (!ready()) return {};
    const auto recommended = model().recommendedRelays();
    return countText(qint64(recommended.size()), QStringLiteral("recommended relay"),
                     QStringLiteral("recommended relays")) +
           " · " + countText(model().countries().size(), QStringLiteral("country"), QStringLiteral("countries"));
}

QString ServersViewModel::updatedText() const {
    if (favoritesOnly_ || !ready() || !model().lastUpdated()) return {};
    return QStringLiteral("Updated ") +
           QLocale().toString(model().lastUpdated()->toLocalTime().time(), QLocale::ShortFormat);
}

QString ServersViewModel::refreshLabel() const {
    return ready() && model().loading() ? QStringLiteral("Refreshing…") : QStringLiteral("Refresh");
}

QString ServersViewModel::refreshIcon() const {
    return ready() && model().loading() ? QStringLiteral("arrow.trianglehead.2.clockwise")
                                        : QStringLiteral("arrow.clockwise");
}

QString ServersViewModel::filterCaption() const {
    if (favoritesOnly_) return {};
    return QStringLiteral(
        "Up to 4 per country · provider ping ≤ 250 ms · speed ≥ 10 Mbps · failed relays hidden for 30 minutes");
}

QString ServersViewModel::serverSearch() const {
    return ready() ? model().serverSearch() : QString();
}
void ServersViewModel::setServerSearch(const QString& text) {
    if (ready()) model().setServerSearch(text);
}
QString ServersViewModel::countrySearch() const {
    return ready() ? model().countrySearch() : QString();
}
void ServersViewModel::setCountrySearch(const QString& text) {
    if (ready()) model().setCountrySearch(text);
}

std::vector<ServerRow> ServersViewModel::pageRows() const {
    std::vector<ServerRow> rows;
    if (!ready()) return rows;
    if (favoritesOnly_) {
        for (FavoriteEntry& entry : model().favoriteRelays()) rows.push_back({std::move(entry.relay), entry.available});
    } else {
        for (Relay& relay : model().recommendedRelays()) rows.push_back({std::move(relay), true});
    }
    std::vector<Relay> relays;
    relays.reserve(rows.size());
    for (const ServerRow& row : rows) relays.push_back(row.relay);
    const auto ranked = measuredOrder(std::move(relays), model().relayHistory());
    QHash<QString, int> rank;
    for (std::size_t i = 0; i < ranked.size(); ++i) rank.insert(ranked[i].id, int(i));
    for (ServerRow& row : rows) row.measuredRank = rank.value(row.relay.id);
    return rows;
}

std::vector<ServerGroup> ServersViewModel::groups() const {
    if (!ready()) return {};
    return groupServerRows(pageRows(), model().serverSearch(), model().countrySearch(), sort_);
}

QString ServersViewModel::contentState() const {
    if (!ready()) return QStringLiteral("loading");
    const bool noRelays = model().relays().empty();
    if (model().offline() && noRelays) return QStringLiteral("offline");
    if (model().loading() && noRelays) return QStringLiteral("loading");
    if (model().catalogMessage() && noRelays) return QStringLiteral("catalogUnavailable");
    if (rows_.isEmpty()) return QStringLiteral("empty");
    return QStringLiteral("list");
}

QString ServersViewModel::contentSymbol() const {
    const QString state = contentState();
    if (state == QLatin1String("offline")) return QStringLiteral("wifi.slash");
    if (state == QLatin1String("catalogUnavailable")) return QStringLiteral("exclamationmark.triangle.fill");
    if (state == QLatin1String("empty")) return favoritesOnly_ ? QStringLiteral("star") : QStringLiteral("server.rack");
    return {};
}

QString ServersViewModel::contentTitle() const {
    const QString state = contentState();
    if (state == QLatin1String("offline")) return QStringLiteral("No Internet Connection");
    if (state == QLatin1String("loading")) return QStringLiteral("Loading live server catalog…");
    if (state == QLatin1String("catalogUnavailable")) return QStringLiteral("Catalog unavailable");
    if (state == QLatin1String("empty")) {
        return favoritesOnly_ ? QStringLiteral("No favorite servers") : QStringLiteral("No matching servers");
    }
    return {};
}

QString ServersViewModel::contentText() const {
    const QString state = contentState();
    if (state == QLatin1String("offline")) {
        return QStringLiteral("Connect to the internet to load current compatible servers.");
    }
    if (state == QLatin1String("catalogUnavailable")) return model().catalogMessage().value_or(QString());
    if (state == QLatin1String("empty")) {
        return favoritesOnly_ ? QStringLiteral(
                                    "Favorite a live relay to keep it here. Offline favorites remain "
                                    "listed as unavailable.")
                              : QStringLiteral(
                                    "Try another search or refresh. Only live relays meeting the ping "
                                    "and speed filters are shown.");
    }
    return {};
}

bool ServersViewModel::showRetry() const {
    const QString state = contentState();
    return state == QLatin1String("offline") || state == QLatin1String("catalogUnavailable");
}

void ServersViewModel::rebuildRows() {
    QVariantList rows;
    if (ready()) {
        const QSet<QString>& favorites = model().favorites();
        const QSet<QString>& mismatched = model().mismatchedRelayIDs();
        const auto& selected = model().selected();
        for (const ServerGroup& group : groups()) {
            const bool expanded = !collapsedCountries_.contains(group.country);
            const qint64 count = qint64(group.rows.size());
            rows.append(listEntry(
                {{QStringLiteral("kind"), QStringLiteral("header")},
                 {QStringLiteral("country"), group.country},
                 {QStringLiteral("flag"), flag(group.code)},
                 {QStringLiteral("count"), count},
                 {QStringLiteral("expanded"), expanded},
                 {QStringLiteral("chevron"),
                  expanded ? QStringLiteral("chevron.down") : QStringLiteral("chevron.right")},
                 {QStringLiteral("accessibleName"),
                  group.country + u' ' + countText(count, QStringLiteral("server"), QStringLiteral("servers")) +
                      QStringLiteral(", ") + (expanded ? QStringLiteral("expanded") : QStringLiteral("collapsed"))},
                 {QStringLiteral("accessibleHint"), QStringLiteral("Toggle this country's server list")}}));
            if (!expanded) continue;
            for (const ServerRow& entry : group.rows) {
                const Relay& relay = entry.relay;
                const bool favorite = favorites.contains(relay.id);
                const bool isSelected = selected && *selected == relay;
                const bool isMismatched = mismatched.contains(relay.id);
                // Each badge names its colour role; the view never infers it from the words.
                QVariantList badges;
                const auto badge = [&badges](const char* text, const char* role) {
                    badges.append(QVariantMap{{QStringLiteral("text"), QString::fromLatin1(text)},
                                              {QStringLiteral("role"), QString::fromLatin1(role)}});
                };
                if (isSelected) badge("SELECTED", "accent");
                if (!entry.available) badge("UNAVAILABLE", "orange");
                if (isMismatched) badge("COUNTRY MISMATCH", "orange");
                const auto record = model().relayHistory().constFind(relay.id);
                const QString historyText = record == model().relayHistory().constEnd()
                                                ? QString()
                                                : historyLine(*record, shell()->now()).value_or(QString());
                QStringList spoken{
                    relay.name, relay.country,
                    entry.available ? QStringLiteral("available in current catalog") : QStringLiteral("unavailable"),
                    isSelected ? QStringLiteral("selected") : QStringLiteral("not selected")};
                if (!historyText.isEmpty()) spoken.append(historyText);
                rows.append(listEntry(
                    {{QStringLiteral("historyLine"), historyText},
                     {QStringLiteral("kind"), QStringLiteral("relay")},
                     {QStringLiteral("id"), relay.id},
                     {QStringLiteral("name"), relay.name},
                     {QStringLiteral("country"), relay.country},
                     {QStringLiteral("selected"), isSelected},
                     {QStringLiteral("available"), entry.available},
                     {QStringLiteral("favorite"), favorite},
                     {QStringLiteral("markIcon"),
                      isSelected ? QStringLiteral("checkmark.circle.fill") : QStringLiteral("circle")},
                     {QStringLiteral("badges"), badges},
                     {QStringLiteral("metrics"),
                      QVariantList{metric(QStringLiteral("Provider ping"), relay.pingText()),
                                   metric(QStringLiteral("Speed"), relay.speedText()),
                                   metric(QStringLiteral("Sessions"), sessionsText(relay)),
                                   metric(QStringLiteral("Uptime"), relay.uptimeText()),
                                   metric(QStringLiteral("Protocol"), relay.protocolText())}},
                     {QStringLiteral("favoriteIcon"), favorite ? QStringLiteral("star.fill") : QStringLiteral("star")},
                     {QStringLiteral("favoriteTooltip"),
                      favorite ? QStringLiteral("Remove from Favorites") : QStringLiteral("Add to Favorites")},
                     {QStringLiteral("favoriteAccessibleName"),
                      favorite ? "Remove " + relay.name + " from Favorites" : "Add " + relay.name + " to Favorites"},
                     {QStringLiteral("tooltip"),
                      entry.available ? "Select " + relay.name + "; this does not connect the VPN"
                                      : QStringLiteral("This favorite is no longer in the live catalog")},
                     {QStringLiteral("accessibleName"), spoken.join(QStringLiteral(", "))}}));
            }
        }
    }
    QVariantList recent;
    if (ready() && !favoritesOnly_) {
        for (const RelayRecord& record : model().recentlyWorkedRelays()) {
            const Relay& relay = record.relay;
            const QString line = historyLine(record, shell()->now()).value_or(QString());
            recent.append(QVariantMap{
                {QStringLiteral("id"), relay.id},
                {QStringLiteral("name"), relay.name},
                {QStringLiteral("country"), relay.country},
                {QStringLiteral("flag"), flag(relay.countryCode)},
                {QStringLiteral("line"), line},
                {QStringLiteral("connectLabel"), QStringLiteral("Connect")},
                {QStringLiteral("accessibleName"),
                 QStringLiteral("Connect to %1, %2, no longer listed; %3").arg(relay.name, relay.country, line)}});
        }
    }
    recentlyWorked_ = std::move(recent);
    rows_ = std::move(rows);
    rowModel_.setRows(rows_);
    emit rowsChanged();
}

void ServersViewModel::refresh() {
    if (ready()) model().requestRefresh();
}

void ServersViewModel::importCatalog() {
    if (!ready() || !shell()->services().chooseFile) return;
    const auto path = shell()->services().chooseFile(QStringLiteral("Import Catalog"),
                                                     QStringLiteral("VPN Gate catalog (*.csv *.txt);;All files (*)"));
    if (path) model().importCatalog(*path);
}

QString ServersViewModel::catalogNotice() const {
    if (favoritesOnly_ || !ready() || model().relays().empty()) return {};
    return model().catalogMessage().value_or(QString());
}

void ServersViewModel::toggleCountry(const QString& country) {
    if (!collapsedCountries_.remove(country)) collapsedCountries_.insert(country);
    rebuildRows();
}

void ServersViewModel::selectRelay(const QString& id) {
    if (ready()) model().selectRelay(id);
}

void ServersViewModel::toggleFavorite(const QString& id) {
    if (ready()) model().toggleFavoriteRelay(id);
}

void ServersViewModel::connectRecentlyWorked(const QString& id) {
    if (!ready()) return;
    model().setPage(QStringLiteral("Home"));
    model().requestConnectRecentlyWorked(id);
}

}  // namespace orlune::ui
