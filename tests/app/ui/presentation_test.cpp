#include "ui/presentation.h"

#include <gtest/gtest.h>

#include "ui/server_list.h"

namespace orlune::ui {
namespace {

using Kind = ConnectionState::Kind;

ConnectionFacts facts(Kind state, bool stopping = false, bool offline = false, bool hasSelection = true,
                      bool loading = false) {
    return {state, stopping, offline, loading, hasSelection};
}

TEST(StatusTest, TitleAndColourFollowTheirPriorities) {
    struct Case {
        ConnectionFacts facts;
        const char* title;
        QString colour;
    };
    const Case cases[] = {
        {facts(Kind::connected, true), "RESTORING NORMAL INTERNET ROUTE", ColorRole::orange},
        {facts(Kind::failed, true, true), "RESTORING NORMAL INTERNET ROUTE", ColorRole::orange},
        {facts(Kind::connecting, false, true), "CONNECTING…", ColorRole::orange},
        {facts(Kind::connected), "CONNECTED", ColorRole::green},
        {facts(Kind::connected, false, true), "CONNECTED", ColorRole::green},
        {facts(Kind::failed), "CONNECTION FAILED", ColorRole::orange},
        {facts(Kind::failed, false, true), "CONNECTION FAILED", ColorRole::orange},
        {facts(Kind::disconnected, false, true), "NO INTERNET CONNECTION", ColorRole::orange},
        {facts(Kind::disconnected), "DISCONNECTED", ColorRole::secondary},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(statusTitle(c.facts), QString::fromUtf8(c.title));
        EXPECT_EQ(statusColorRole(c.facts), c.colour) << c.title;
    }
}

TEST(MainButtonTest, LabelActionEnabledTooltipAndReasonInEveryState) {
    const QString stopTip = QStringLiteral("Stop Orlune's tunnel and restore the normal Wi-Fi/Ethernet route");
    struct Case {
        ConnectionFacts facts;
        const char* label;
        bool disconnects;
        bool enabled;
        QString tooltip;
        const char* reason;  // written out beside a disabled button: it has no hover
    };
    const Case cases[] = {
        {facts(Kind::connected, true), "RESTORING INTERNET…", true, false, stopTip,
         "Wait until the tunnel has stopped"},
        {facts(Kind::disconnected, true), "RESTORING INTERNET…", true, false, stopTip,
         "Wait until the tunnel has stopped"},
        {facts(Kind::connected), "DISCONNECT", true, true, stopTip, ""},
        {facts(Kind::connected, false, true, false), "DISCONNECT", true, true, stopTip, ""},
        {facts(Kind::connecting, false, false, false), "STOP & RESTORE INTERNET", true, true, stopTip, ""},
        {facts(Kind::disconnected, false, false, false), "CONNECT", false, false, "Select a server first",
         "Select a server first"},
        {facts(Kind::disconnected), "CONNECT", false, true, "Attempt a real VPN connection", ""},
        {facts(Kind::disconnected, false, true), "CONNECT", false, false, "Attempt a real VPN connection",
         "No Internet connection"},
        {facts(Kind::failed), "CONNECT", false, true, "Retry the failed VPN connection", ""},
        {facts(Kind::failed, false, false, false), "CONNECT", false, false, "Select a server first",
         "Select a server first"},
        {facts(Kind::failed, false, true), "CONNECT", false, false, "Retry the failed VPN connection",
         "No Internet connection"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        EXPECT_EQ(mainButtonLabel(c.facts), QString::fromUtf8(c.label));
        EXPECT_EQ(mainButtonDisconnects(c.facts), c.disconnects);
        EXPECT_EQ(mainButtonEnabled(c.facts), c.enabled);
        EXPECT_EQ(mainButtonTooltip(c.facts), c.tooltip);
        EXPECT_EQ(mainButtonDisabledReason(c.facts), c.reason);
    }
}

TEST(EmblemTest, SymbolFollowsTheState) {
    EXPECT_EQ(emblemSymbol(facts(Kind::connected)), "checkmark.shield.fill");
    EXPECT_EQ(emblemSymbol(facts(Kind::connecting)), "arrow.trianglehead.2.clockwise.rotate.90");
    EXPECT_EQ(emblemSymbol(facts(Kind::failed)), "power");
    EXPECT_EQ(emblemSymbol(facts(Kind::disconnected)), "power");
}

TEST(MenuTest, StatusLineAndActionsFollowTheState) {
    Relay relay;
    relay.country = QStringLiteral("Japan");
    const auto connected = ConnectionState::connected(QDateTime::currentDateTimeUtc(), relay, "203.0.113.9");
    EXPECT_EQ(menuStatusLine(connected, true, false), "Stopping tunnel · restoring normal route");
    EXPECT_EQ(menuStatusLine(ConnectionState::connecting("Trying jp-1…"), false, true), "Trying jp-1…");
    EXPECT_EQ(menuStatusLine(connected, false, false), "Connected · Japan");
    EXPECT_EQ(menuStatusLine(ConnectionState::failed("x"), false, true), "Connection failed");
    EXPECT_EQ(menuStatusLine(ConnectionState::disconnected(), false, true), "No Internet Connection");
    EXPECT_EQ(menuStatusLine(ConnectionState::disconnected(), false, false), "Disconnected");

    struct Case {
        const char* name;
        ConnectionFacts facts;
        bool showConnect, connectEnabled, quickEnabled, disconnectEnabled, refreshEnabled;
    };
    const Case cases[] = {
        {"idle", facts(Kind::disconnected), true, true, true, true, true},
        {"offline", facts(Kind::disconnected, false, true), true, false, false, true, true},
        {"loading", facts(Kind::disconnected, false, false, true, true), true, true, false, true, false},
        {"connected", facts(Kind::connected), false, true, true, true, true},
        {"connecting", facts(Kind::connecting), false, false, false, true, false},
        {"failed", facts(Kind::failed), false, true, true, true, true},
        {"stopping", facts(Kind::connected, true), false, false, false, false, false},
        {"stopping after loss", facts(Kind::failed, true), false, false, false, false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const MenuActions actions = menuActions(c.facts);
        EXPECT_EQ(actions.showConnect, c.showConnect);
        if (c.showConnect) {
            EXPECT_EQ(actions.connectEnabled, c.connectEnabled);
            EXPECT_EQ(actions.quickConnectEnabled, c.quickEnabled);
        } else {
            EXPECT_EQ(actions.disconnectEnabled, c.disconnectEnabled);
        }
        EXPECT_EQ(actions.refreshEnabled, c.refreshEnabled);
    }
}

TEST(NotificationTest, EachStateHasItsNotificationAndConnectingNone) {
    Relay relay;
    relay.country = QStringLiteral("Japan");
    relay.name = QStringLiteral("public-vpn-7");
    EXPECT_FALSE(notificationFor(ConnectionState::connecting("Checking…")));
    EXPECT_EQ(notificationFor(ConnectionState::connected(QDateTime::currentDateTimeUtc(), relay, "203.0.113.2")),
              (Notification{"Orlune VPN connected", "Verified tunnel to Japan · public-vpn-7."}));
    EXPECT_EQ(notificationFor(ConnectionState::failed("JAPAN — it broke")),
              (Notification{"Orlune VPN connection failed", "JAPAN — it broke"}));
    EXPECT_EQ(notificationFor(ConnectionState::disconnected()),
              (Notification{"Orlune VPN disconnected", "The VPN tunnel is disconnected."}));
}

TEST(SmallRulesTest, FlagsDurationsAppearanceAndCatalogStatus) {
    EXPECT_EQ(flag("jp"), QString::fromUtf8("🇯🇵"));
    EXPECT_EQ(flag("GB"), QString::fromUtf8("🇬🇧"));
    EXPECT_EQ(flag("J1"), QString());
    EXPECT_EQ(flag("JPN"), QString());
    EXPECT_EQ(flag(""), QString());

    const QDateTime since(QDate(2026, 1, 1), QTime(10, 0), Qt::UTC);
    EXPECT_EQ(durationText(since, since.addSecs(3 * 3600 + 4 * 60 + 5)), "03:04:05");
    EXPECT_EQ(durationText(since, since.addSecs(100 * 3600)), "100:00:00");
    EXPECT_EQ(durationText(since, since.addSecs(-5)), "00:00:00");

    EXPECT_TRUE(isDarkAppearance("Dark", false));
    EXPECT_FALSE(isDarkAppearance("Light", true));
    EXPECT_FALSE(isDarkAppearance("Sepia", true));
    EXPECT_TRUE(isDarkAppearance("System", true));
    EXPECT_FALSE(isDarkAppearance("System", false));

    EXPECT_EQ(catalogStatus(true, true).text, "No Internet Connection");
    EXPECT_EQ(catalogStatus(true, true).colorRole, ColorRole::orange);
    EXPECT_EQ(catalogStatus(false, true).text, "Updating catalog…");
    EXPECT_EQ(catalogStatus(false, true).colorRole, ColorRole::yellow);
    EXPECT_EQ(catalogStatus(false, false).colorRole, ColorRole::green);
}

TEST(PeriodicRefreshTest, RefreshesOnlyWhenIdleEnabledAndOldEnough) {
    using std::chrono::seconds;
    RefreshFacts base;
    base.catalogAge = seconds(300);
    EXPECT_TRUE(periodicRefreshIsDue(base));
    RefreshFacts fresh = base;
    fresh.catalogAge = seconds(299);
    EXPECT_FALSE(periodicRefreshIsDue(fresh));
    RefreshFacts never = base;
    never.catalogAge.reset();
    EXPECT_TRUE(periodicRefreshIsDue(never));
    RefreshFacts shortInterval = base;  // below 60 behaves as 60
    shortInterval.refreshIntervalSeconds = 30;
    shortInterval.catalogAge = seconds(45);
    EXPECT_FALSE(periodicRefreshIsDue(shortInterval));
    shortInterval.catalogAge = seconds(60);
    EXPECT_TRUE(periodicRefreshIsDue(shortInterval));
    RefreshFacts off = base;
    off.automaticRefreshEnabled = false;
    EXPECT_FALSE(periodicRefreshIsDue(off));
    for (Kind busy : {Kind::connecting, Kind::connected}) {
        RefreshFacts held = never;
        held.state = busy;
        EXPECT_FALSE(periodicRefreshIsDue(held));
    }
    RefreshFacts failed = base;
    failed.state = Kind::failed;
    EXPECT_TRUE(periodicRefreshIsDue(failed));
}

// ---- Server list -------------------------------------------------------------------------

Relay relay(const QString& name, const QString& country, std::optional<qint64> ping, std::optional<qint64> speed,
            const QString& host = QStringLiteral("198.51.100.1")) {
    Relay r;
    r.id = name + "-" + host;
    r.name = name;
    r.country = country;
    r.countryCode = country.left(2).toUpper();
    r.hostname = host;
    r.pingMilliseconds = ping;
    r.speedBitsPerSecond = speed;
    r.supportsOpenVPN = true;
    return r;
}

QStringList names(const std::vector<ServerGroup>& groups) {
    QStringList list;
    for (const ServerGroup& group : groups) {
        for (const ServerRow& row : group.rows) list << row.relay.name;
    }
    return list;
}

TEST(ServerListTest, LowestPingPutsMissingPingsLastInTheirGroup) {
    std::vector<ServerRow> rows{{relay("a", "Japan", std::nullopt, 50'000'000)},
                                {relay("b", "Japan", 80, 20'000'000)},
                                {relay("c", "Japan", 20, 10'000'000)},
                                {relay("d", "Japan", std::nullopt, 90'000'000)}};
    EXPECT_EQ(names(groupServerRows(rows, {}, {}, ServerSort::lowestPing)), QStringList({"c", "b", "a", "d"}));
    // Fastest: a missing speed counts as 0; equal keys keep their order.
    rows.push_back({relay("e", "Japan", 5, std::nullopt)});
    rows.push_back({relay("f", "Japan", 6, 20'000'000)});
    EXPECT_EQ(names(groupServerRows(rows, {}, {}, ServerSort::fastest)), QStringList({"d", "a", "b", "f", "c", "e"}));
}

TEST(ServerListTest, UnavailableRowsComeAfterAvailableOnesWhateverTheSort) {
    const std::vector<ServerRow> rows{{relay("gone", "Japan", 1, 900'000'000), false},
                                      {relay("slow", "Japan", 200, 11'000'000), true},
                                      {relay("fast", "Japan", 10, 90'000'000), true}};
    for (ServerSort sort : {ServerSort::recommended, ServerSort::lowestPing, ServerSort::fastest}) {
        const QStringList order = names(groupServerRows(rows, {}, {}, sort));
        EXPECT_EQ(order.last(), "gone") << serverSortName(sort).toStdString();
    }
    EXPECT_EQ(names(groupServerRows(rows, {}, {}, ServerSort::recommended)), QStringList({"fast", "slow", "gone"}));
}

TEST(ServerListTest, SearchesMatchTheirFieldsIgnoringCase) {
    const std::vector<ServerRow> rows{{relay("alpha", "Japan", 10, 1, "198.51.100.7")},
                                      {relay("beta", "Korea Republic of", 10, 1, "198.51.100.8")},
                                      {relay("gamma", "United States", 10, 1, "203.0.113.5")}};
    EXPECT_EQ(names(groupServerRows(rows, "ALPHA", {}, ServerSort::recommended)), QStringList({"alpha"}));
    EXPECT_EQ(names(groupServerRows(rows, "203.0.113", {}, ServerSort::recommended)), QStringList({"gamma"}));
    EXPECT_EQ(names(groupServerRows(rows, "korea", {}, ServerSort::recommended)), QStringList({"beta"}));
    // The country search looks at the country only.
    EXPECT_TRUE(groupServerRows(rows, {}, "alpha", ServerSort::recommended).empty());
    EXPECT_EQ(names(groupServerRows(rows, {}, "STATES", ServerSort::recommended)), QStringList({"gamma"}));
    EXPECT_EQ(names(groupServerRows(rows, "a", "japan", ServerSort::recommended)), QStringList({"alpha"}));
}

TEST(ServerListTest, GroupsAreOrderedByCountryNameIgnoringCase) {
    const std::vector<ServerRow> rows{{relay("v1", "viet Nam", 10, 1)},
                                      {relay("j1", "Japan", 10, 1)},
                                      {relay("u1", "United States", 10, 1)},
                                      {relay("j2", "Japan", 5, 1)}};
    const auto groups = groupServerRows(rows, {}, {}, ServerSort::lowestPing);
    ASSERT_EQ(groups.size(), 3u);
    EXPECT_EQ(groups[0].country, "Japan");
    EXPECT_EQ(groups[0].code, "JA");
    EXPECT_EQ(groups[1].country, "United States");
    EXPECT_EQ(groups[2].country, "viet Nam");
    EXPECT_EQ(names({groups[0]}), QStringList({"j2", "j1"}));
}

TEST(ServerListTest, UnknownSortNamesSortAsRecommended) {
    EXPECT_EQ(serverSortFromName("Lowest Ping"), ServerSort::lowestPing);
    EXPECT_EQ(serverSortFromName("Fastest"), ServerSort::fastest);
    EXPECT_EQ(serverSortFromName("Alphabetical"), ServerSort::recommended);
}

}  // namespace
}  // namespace orlune::ui
