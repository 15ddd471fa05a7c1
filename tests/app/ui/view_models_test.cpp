// The view models over a model of fakes: what each screen reads in the states that matter.
#include <gtest/gtest.h>

#include "core/tunnel_error.h"
#include "model_fakes.h"
#include "support/await.h"
#include "ui/home_view_model.h"
#include "ui/menu_view_model.h"
#include "ui/notification_sink.h"
#include "ui/presentation.h"
#include "ui/servers_view_model.h"
#include "ui/shell.h"

namespace orlune::ui {
namespace {

// A row's badges as "text:colour role".
QStringList badges(const QVariantMap& row) {
    QStringList list;
    for (const QVariant& badge : row.value("badges").toList()) {
        list << badge.toMap().value("text").toString() + ':' + badge.toMap().value("role").toString();
    }
    return list;
}

using test::await;
using test::makeRelay;

struct RecordingSink final : NotificationSink {
    std::vector<std::pair<QString, QString>>* posted;
    explicit RecordingSink(std::vector<std::pair<QString, QString>>* out) : posted(out) {}
    void post(const QString& title, const QString& body) override { posted->emplace_back(title, body); }
};

class ViewModelTest : public ::testing::Test {
protected:
    ViewModelTest() {
        jp1 = makeRelay("jp-best", "Japan", "JP", 10, 90'000'000, "198.51.100.11");
        jp2 = makeRelay("jp-second", "Japan", "JP", 40, 50'000'000, "198.51.100.12");
        kr = makeRelay("kr-only", "Korea Republic of", "KR", 30, 30'000'000, "198.51.100.21");
        fixture.catalog->relays = {jp1, jp2, kr};
        shell = std::make_unique<Shell>(model(), fixture.preferences(), std::make_unique<RecordingSink>(&posted),
                                        [this] { return fixture.clock->current; });
        home.setShell(shell.get());
        servers.setShell(shell.get());
        menu.setShell(shell.get());
    }
    AppModel& model() { return fixture.model(); }
    void load() { ASSERT_TRUE(await(model().refreshCatalog())); }
    void connectTo(const QString& code) {
        model().selectCountry(code);
        await(model().connectSelected());
    }
    // The status, the main button, the emblem and the menu say what the presentation rules say
    // for the model's state. The wording is pinned by presentation_test.cpp; this checks that the
    // view models hand the rules the right facts.
    void expectHomeAndMenuFollowTheRules() {
        const ConnectionState& state = model().connectionState();
        const bool stopping = model().isStoppingTunnel();
        const ConnectionFacts facts{state.kind, stopping, model().offline(), model().loading(),
                                    model().selected().has_value()};
        EXPECT_EQ(home.statusTitle(), statusTitle(facts));
        EXPECT_EQ(home.statusColor(), statusColorRole(facts));
        EXPECT_EQ(home.emblemSymbolName(), emblemSymbol(facts));
        EXPECT_EQ(home.mainButtonLabel(), mainButtonLabel(facts));
        EXPECT_EQ(home.mainButtonEnabled(), mainButtonEnabled(facts));
        EXPECT_EQ(home.mainButtonTooltip(), mainButtonTooltip(facts));
        EXPECT_EQ(home.mainButtonReason(), mainButtonDisabledReason(facts));
        EXPECT_EQ(menu.statusLine(), menuStatusLine(state, stopping, facts.offline));
        const MenuActions actions = menuActions(facts);
        EXPECT_EQ(menu.showConnect(), actions.showConnect);
        EXPECT_EQ(menu.connectEnabled(), actions.connectEnabled);
        EXPECT_EQ(menu.quickConnectEnabled(), actions.quickConnectEnabled);
        EXPECT_EQ(menu.disconnectEnabled(), actions.disconnectEnabled);
    }
    QVariantMap detail(const QString& label) {
        for (const QVariant& row : home.detailRows()) {
            if (row.toMap().value("label").toString() == label) return row.toMap();
        }
        return {};
    }

    test::ModelFixture fixture;
    Relay jp1, jp2, kr;
    std::vector<std::pair<QString, QString>> posted;
    std::unique_ptr<Shell> shell;
    HomeViewModel home;
    ServersViewModel servers;
    MenuViewModel menu;
};

TEST_F(ViewModelTest, HomeWithoutSelectionAsksForOne) {
    load();
    expectHomeAndMenuFollowTheRules();
    EXPECT_EQ(home.bannerLine(), "Choose a country here or browse servers to prepare a connection");
    EXPECT_EQ(home.pickerName(), "Choose a country");
    EXPECT_TRUE(home.pickerEnabled());
    EXPECT_EQ(home.readyCaption(), "");
    EXPECT_EQ(home.detailsHeading(), "SERVER SELECTION");
    EXPECT_EQ(detail("Selected server").value("value"), "Not selected");
    EXPECT_TRUE(detail("Selected server").value("muted").toBool());
    EXPECT_EQ(detail("Original public IP").value("value").toString(), "Unavailable");  // not looked up yet
    EXPECT_EQ(home.detailsNote(), "Tunnel capability is checked when you connect.");
    EXPECT_EQ(home.noticeTitle(), "Community relay privacy varies");
    home.mainAction();  // disabled: nothing happens
    EXPECT_TRUE(model().connectionState().isDisconnected());
}

TEST_F(ViewModelTest, HomeWithSelectionOffersConnectAndListsTheCountries) {
    load();
    home.chooseCountry("JP");
    expectHomeAndMenuFollowTheRules();
    EXPECT_EQ(home.pickerReason(), "");
    EXPECT_FALSE(detail("Provider speed").value("muted").toBool());
    EXPECT_EQ(home.readyCaption(), "SERVER SELECTED · READY TO CONNECT");
    EXPECT_EQ(home.bannerLine(), QString::fromUtf8("🇯🇵  Japan · jp-best"));
    EXPECT_EQ(home.pickerCount(), "2 recommended");
    const QVariantList entries = home.pickerEntries();
    ASSERT_EQ(entries.size(), 2);
    EXPECT_EQ(entries[0].toMap().value("text"), QString::fromUtf8("🇯🇵  Japan · 2 relays"));
    EXPECT_TRUE(entries[0].toMap().value("checked").toBool());
    EXPECT_EQ(entries[1].toMap().value("text"), QString::fromUtf8("🇰🇷  Korea Republic of · 1 relay"));
    EXPECT_FALSE(entries[1].toMap().value("checked").toBool());
    EXPECT_EQ(detail("Provider speed").value("value"), "90.0 Mbps");
    EXPECT_EQ(detail("Provider ping").value("value"), "10 ms");
}

TEST_F(ViewModelTest, HomeConnectedShowsTheTunnelAndTicksTheDuration) {
    load();
    connectTo("JP");
    ASSERT_TRUE(model().connectionState().isConnected());
    expectHomeAndMenuFollowTheRules();
    EXPECT_FALSE(home.pickerEnabled());
    EXPECT_FALSE(home.showQuickConnect());
    EXPECT_EQ(home.selectionNote(), "");
    EXPECT_EQ(home.detailsHeading(), "ACTIVE TUNNEL");
    EXPECT_EQ(home.detailRows().first().toMap().value("label"), "Verified exit country");
    EXPECT_EQ(detail("Original IP → VPN IP").value("value"), "203.0.113.10 → exit-198.51.100.11");
    EXPECT_EQ(detail("Download").value("value"), "Unavailable from current provider");
    EXPECT_TRUE(detail("Download").value("muted").toBool());  // not set like a live figure
    EXPECT_EQ(home.pickerReason(), "Disconnect to choose another country");
    EXPECT_EQ(detail("Connection duration").value("value"), "00:00:00");
    fixture.clock->current = fixture.clock->current.addSecs(61);
    int redraws = 0;
    QObject::connect(&home, &HomeViewModel::detailRowsChanged, [&] { ++redraws; });
    home.tick();
    EXPECT_EQ(redraws, 1);
    EXPECT_EQ(detail("Connection duration").value("value"), "00:01:01");
    EXPECT_EQ(home.detailsNote(), "");
    EXPECT_EQ(menu.captionLine(), "jp-best · 198.51.100.11");
}

TEST_F(ViewModelTest, StoppingDisablesTheButtonsThatWouldStopAgain) {
    load();
    connectTo("JP");
    test::Gate gate;
    fixture.tunnel->disconnectGate = &gate;
    home.mainAction();
    ASSERT_TRUE(model().isStoppingTunnel());
    expectHomeAndMenuFollowTheRules();
    EXPECT_FALSE(home.stopEnabled());
    gate.open();
    QCoreApplication::processEvents();
    EXPECT_FALSE(model().isStoppingTunnel());
    EXPECT_EQ(fixture.tunnel->disconnects, 1);
}

TEST_F(ViewModelTest, ConnectingOffersStopAndShowsTheProgress) {
    load();
    home.chooseCountry("JP");
    test::Gate gate;
    fixture.tunnel->connectGate = &gate;
    fixture.tunnel->progressLines = {"Starting the tunnel…"};
    home.mainAction();
    QCoreApplication::processEvents();
    ASSERT_TRUE(model().connectionState().isConnecting());
    expectHomeAndMenuFollowTheRules();
    EXPECT_EQ(home.progressText(), model().connectionState().text);
    EXPECT_EQ(home.emblemMode(), "connecting");
    EXPECT_FALSE(home.pickerEnabled());
    EXPECT_FALSE(home.refreshEnabled());
    home.mainAction();  // stops the attempt
    EXPECT_TRUE(model().isStoppingTunnel() || model().connectionState().isDisconnected());
    gate.open();
    QCoreApplication::processEvents();
    EXPECT_TRUE(model().connectionState().isDisconnected());
}

TEST_F(ViewModelTest, FailureCardAndOfflineNotice) {
    load();
    fixture.tunnel->outcomes[jp1.id] =
        std::make_exception_ptr(TunnelError(TunnelError::Kind::serverMissingFromFreshCatalog));
    fixture.tunnel->outcomes[jp2.id] =
        std::make_exception_ptr(TunnelError(TunnelError::Kind::serverMissingFromFreshCatalog));
    connectTo("JP");
    ASSERT_TRUE(model().connectionState().isFailed());
    EXPECT_TRUE(home.showFailureCard());
    EXPECT_EQ(home.failureMessage(), model().connectionState().text);
    EXPECT_TRUE(home.stopEnabled());
    expectHomeAndMenuFollowTheRules();
    home.chooseAnotherServer();
    EXPECT_EQ(model().page(), "Servers");

    fixture.network->reachable = false;
    fixture.network->physicalUp = false;
    fixture.catalog->error = std::make_exception_ptr(std::runtime_error("down"));
    await(model().refreshCatalog());
    model().selectCountry("KR");  // back to disconnected
    ASSERT_TRUE(model().offline());
    expectHomeAndMenuFollowTheRules();
    EXPECT_EQ(home.noticeTitle(), "No Internet Connection");
    EXPECT_EQ(home.noticeSymbol(), "wifi.slash");
    ASSERT_EQ(home.noticeParagraphs().size(), 2);  // two paragraphs, set apart
    EXPECT_TRUE(home.noticeParagraphs()[1].endsWith("Existing server data is kept."));
    EXPECT_EQ(home.detailsNote(), "No Internet Connection");
}

TEST_F(ViewModelTest, ServersRowsCarryTextsBadgesAndCollapse) {
    load();
    model().select(jp2);
    EXPECT_EQ(servers.subtitle(), "3 recommended relays · 2 countries");
    EXPECT_TRUE(servers.updatedText().startsWith("Updated "));
    EXPECT_EQ(servers.contentState(), "list");
    QVariantList rows = servers.rows();
    ASSERT_EQ(rows.size(), 5);
    const QVariantMap header = rows[0].toMap();
    EXPECT_EQ(header.value("kind"), "header");
    EXPECT_EQ(header.value("accessibleName"), "Japan 2 servers, expanded");
    EXPECT_EQ(header.value("chevron"), "chevron.down");
    const QVariantMap selected = rows[2].toMap();
    EXPECT_EQ(selected.value("name"), "jp-second");
    EXPECT_EQ(badges(selected), QStringList({"SELECTED:accent"}));
    EXPECT_EQ(selected.value("markIcon"), "checkmark.circle.fill");
    EXPECT_EQ(selected.value("tooltip"), "Select jp-second; this does not connect the VPN");
    EXPECT_EQ(selected.value("accessibleName"), "jp-second, Japan, available in current catalog, selected");
    EXPECT_EQ(selected.value("favoriteAccessibleName"), "Add jp-second to Favorites");
    const QVariantList metrics = selected.value("metrics").toList();
    ASSERT_EQ(metrics.size(), 5);
    EXPECT_EQ(metrics[0].toMap().value("value"), "40 ms");
    EXPECT_EQ(metrics[1].toMap().value("value"), "50.0 Mbps");

    servers.toggleCountry("Japan");
    rows = servers.rows();
    ASSERT_EQ(rows.size(), 3);
    EXPECT_EQ(rows[0].toMap().value("accessibleName"), "Japan 2 servers, collapsed");
    EXPECT_EQ(rows[0].toMap().value("chevron"), "chevron.right");
    servers.toggleCountry("Japan");
    EXPECT_EQ(servers.rows().size(), 5);

    servers.setServerSearch("nothing-like-this");
    EXPECT_EQ(model().serverSearch(), "nothing-like-this");
    EXPECT_EQ(servers.contentState(), "empty");
    EXPECT_EQ(servers.contentTitle(), "No matching servers");
}

TEST_F(ViewModelTest, TheListKeepsItsRowsWhenOnlyTheirStateChanges) {
    load();
    QAbstractItemModel& rows = *servers.rowModel();
    ASSERT_EQ(rows.rowCount(), 5);
    int resets = 0;
    int updates = 0;
    QObject::connect(&rows, &QAbstractItemModel::modelReset, [&] { ++resets; });
    QObject::connect(&rows, &QAbstractItemModel::dataChanged, [&] { ++updates; });
    model().select(jp2);
    model().toggleFavorite(kr);
    EXPECT_EQ(resets, 0);  // the view keeps its scroll position
    EXPECT_GE(updates, 2);
    const QVariantMap row = rows.data(rows.index(2, 0), rows.roleNames().key("entry")).toMap();
    EXPECT_EQ(row.value("name"), "jp-second");
    EXPECT_TRUE(row.value("selected").toBool());
    servers.setServerSearch("kr");
    EXPECT_EQ(resets, 1);
    EXPECT_EQ(rows.rowCount(), 2);
}

TEST_F(ViewModelTest, FavoritesListAnUnavailableFavouriteLastWithItsTooltip) {
    const Relay jp3 = makeRelay("jp-third", "Japan", "JP", 5, 95'000'000, "198.51.100.13");
    fixture.catalog->relays.push_back(jp3);
    load();
    model().toggleFavorite(jp3);
    model().toggleFavorite(jp2);
    fixture.catalog->relays = {jp1, jp2, kr};  // jp3 leaves the catalog
    load();
    servers.setFavoritesOnly(true);
    EXPECT_EQ(servers.title(), "Favorites");
    EXPECT_EQ(servers.subtitle(), "Saved community relays");
    EXPECT_EQ(servers.updatedText(), "");
    const QVariantList rows = servers.rows();
    ASSERT_EQ(rows.size(), 3);
    EXPECT_EQ(rows[1].toMap().value("name"), "jp-second");
    const QVariantMap gone = rows[2].toMap();
    EXPECT_EQ(gone.value("name"), "jp-third");
    EXPECT_EQ(badges(gone), QStringList({"UNAVAILABLE:orange"}));
    EXPECT_EQ(gone.value("tooltip"), "This favorite is no longer in the live catalog");
    EXPECT_EQ(gone.value("favoriteIcon"), "star.fill");
    EXPECT_EQ(gone.value("favoriteTooltip"), "Remove from Favorites");
    EXPECT_EQ(gone.value("accessibleName"), "jp-third, Japan, unavailable, not selected");
    servers.toggleFavorite(jp3.id);  // a favourite can be removed after it left the catalog
    EXPECT_FALSE(model().favorites().contains(jp3.id));
}

TEST_F(ViewModelTest, ServersContentStatesInTheirOrder) {
    EXPECT_EQ(servers.contentState(), "empty");  // nothing loaded, nothing wrong yet
    fixture.network->reachable = false;
    fixture.network->physicalUp = false;
    fixture.catalog->error = std::make_exception_ptr(std::runtime_error("down"));
    await(model().refreshCatalog());
    EXPECT_EQ(servers.contentState(), "offline");
    EXPECT_EQ(servers.contentTitle(), "No Internet Connection");
    EXPECT_TRUE(servers.showRetry());
    fixture.network->physicalUp = true;
    await(model().refreshCatalog());
    EXPECT_EQ(servers.contentState(), "catalogUnavailable");
    EXPECT_EQ(servers.contentText(), model().catalogMessage().value());
    test::Gate gate;
    fixture.catalog->gate = &gate;
    auto refresh = model().refreshCatalog();
    EXPECT_EQ(servers.contentState(), "loading");
    EXPECT_EQ(servers.refreshLabel(), "Refreshing…");
    gate.open();
    fixture.catalog->error = nullptr;
    await(std::move(refresh));
    EXPECT_EQ(servers.contentState(), "list");
    servers.setFavoritesOnly(true);
    EXPECT_EQ(servers.contentState(), "empty");
    EXPECT_EQ(servers.contentTitle(), "No favorite servers");
}

TEST_F(ViewModelTest, SidebarPagesBadgesAndScreens) {
    load();
    QVariantList pages = shell->pages();
    ASSERT_EQ(pages.size(), 7);
    EXPECT_EQ(pages[1].toMap().value("badge"), "3");
    EXPECT_EQ(pages[2].toMap().value("badge"), "");
    EXPECT_TRUE(pages[0].toMap().value("selected").toBool());
    model().toggleFavorite(kr);
    pages = shell->pages();
    EXPECT_EQ(pages[2].toMap().value("badge"), "1");
    const std::pair<const char*, const char*> screens[] = {
        {"Servers", "servers"},   {"Favorites", "favorites"}, {"Statistics", "statistics"},
        {"Settings", "settings"}, {"Help & Support", "help"}, {"About", "about"},
        {"Home", "home"},         {"Elsewhere", "home"}};
    for (const auto& [title, screen] : screens) {
        shell->setPage(title);
        EXPECT_EQ(shell->screen(), screen) << title;
    }
    EXPECT_EQ(shell->catalogStatusText(), "Catalog current");
}

TEST_F(ViewModelTest, AppearanceFollowsThePreference) {
    EXPECT_FALSE(shell->dark());
    shell->setSystemDark(true);
    EXPECT_TRUE(shell->dark());  // "System" by default
    fixture.preferences().setValue("appearance", "Light");
    EXPECT_FALSE(shell->dark());
    fixture.preferences().setValue("appearance", "Dark");
    shell->setSystemDark(false);
    EXPECT_TRUE(shell->dark());
}

TEST_F(ViewModelTest, NotificationsOnlyWhenEnabledShownAndChanged) {
    load();
    shell->setWindowShown(true);
    connectTo("JP");
    EXPECT_TRUE(posted.empty());  // off by default
    await(model().disconnect());
    fixture.preferences().setValue("notificationsEnabled", true);
    connectTo("JP");
    ASSERT_EQ(posted.size(), 1u);  // connecting posts nothing
    EXPECT_EQ(posted[0].first, "Orlune VPN connected");
    EXPECT_EQ(posted[0].second, "Verified tunnel to Japan · jp-best.");
    await(model().disconnect());
    ASSERT_EQ(posted.size(), 2u);
    EXPECT_EQ(posted[1].first, "Orlune VPN disconnected");
    shell->setWindowShown(false);
    connectTo("JP");
    EXPECT_EQ(posted.size(), 2u);  // no window content, no observer
}

TEST_F(ViewModelTest, PeriodicRefreshAsksTheModelOnlyWhenDue) {
    load();
    const int fetches = fixture.catalog->fetches;
    EXPECT_FALSE(shell->periodicRefreshTick());  // just loaded
    fixture.clock->current = fixture.clock->current.addSecs(300);
    EXPECT_TRUE(shell->periodicRefreshTick());
    QCoreApplication::processEvents();
    EXPECT_EQ(fixture.catalog->fetches, fetches + 1);
    fixture.clock->current = fixture.clock->current.addSecs(600);
    connectTo("JP");
    const int connectedFetches = fixture.catalog->fetches;
    EXPECT_FALSE(shell->periodicRefreshTick());
    EXPECT_EQ(fixture.catalog->fetches, connectedFetches);
}

}  // namespace
}  // namespace orlune::ui
