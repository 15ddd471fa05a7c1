// Statistics, Help & Support and About over a model of fakes: the tiles with and without a
// tunnel, the diagnostics text and what it must never contain, the legal documents.
#include <gtest/gtest.h>

#include <QRegularExpression>

#include "model_fakes.h"
#include "support/await.h"
#include "ui/diagnostics.h"
#include "ui/home_view_model.h"
#include "ui/info_view_models.h"
#include "ui/notification_sink.h"
#include "ui/shell.h"

namespace orlune::ui {
namespace {

using test::await;
using test::makeRelay;

struct NoSink final : NotificationSink {
    void post(const QString&, const QString&) override {}
};

// Anything shaped like an address, more broadly than the scrubber's own test: dotted quads
// and colon-separated hex groups.
bool looksLikeAddress(const QString& text) {
    static const QRegularExpression ipv4(QStringLiteral("\\b\\d{1,3}(\\.\\d{1,3}){3}\\b"));
    static const QRegularExpression ipv6(QStringLiteral("[0-9A-Fa-f]{0,4}(:[0-9A-Fa-f]{0,4}){2,7}"));
    return text.contains(ipv4) || text.contains(ipv6);
}

class InfoPagesTest : public ::testing::Test {
protected:
    InfoPagesTest() {
        fixture.catalog->relays = {makeRelay("jp-best", "Japan", "JP", 12, 90'000'000, "198.51.100.11"),
                                   makeRelay("kr-only", "Korea Republic of", "KR", 30, 30'000'000, "198.51.100.21")};
        shell = std::make_unique<Shell>(fixture.model(), fixture.preferences(), std::make_unique<NoSink>(),
                                        [this] { return fixture.clock->current; });
        services.operatingSystem = [] {
            return QStringLiteral("Debian GNU/Linux 12 (bookworm), kernel 6.1.0-28-amd64");
        };
        services.serviceAvailable = [this] { return serviceSocketExists; };
        services.copyText = [this](const QString& text) { clipboard << text; };
        services.openUrl = [this](const QUrl& url) { opened << url; };
        services.identity = {QStringLiteral("0.1.0"), QStringLiteral("118")};
        shell->setServices(services);
    }
    void connectJapan() {
        ASSERT_TRUE(await(fixture.model().refreshCatalog()));
        fixture.model().selectCountry(QStringLiteral("JP"));
        await(fixture.model().connectSelected());
        ASSERT_TRUE(fixture.model().connectionState().isConnected());
    }
    QMap<QString, QString> tileValues(const StatisticsViewModel& statistics) {
        QMap<QString, QString> values;
        for (const QVariant& tile : statistics.tiles()) {
            values.insert(tile.toMap().value("label").toString(), tile.toMap().value("value").toString());
        }
        return values;
    }

    test::ModelFixture fixture;
    std::unique_ptr<Shell> shell;
    DesktopServices services;
    bool serviceSocketExists = true;
    QStringList clipboard;
    QList<QUrl> opened;
};

TEST_F(InfoPagesTest, StatisticsWithoutATunnelAreUnavailable) {
    StatisticsViewModel statistics;
    statistics.setShell(shell.get());
    EXPECT_EQ(statistics.subtitle(), "Statistics are unavailable until a real tunnel is active.");
    const auto values = tileValues(statistics);
    ASSERT_EQ(values.size(), 6);
    EXPECT_EQ(statistics.tiles().size(), statistics.tileCount());
    for (const QString& value : values) EXPECT_EQ(value, "Unavailable");

    // Connecting is not connected yet.
    fixture.model().selectCountry(QStringLiteral("JP"));
    test::Gate gate;
    fixture.tunnel->connectGate = &gate;
    ASSERT_TRUE(await(fixture.model().refreshCatalog()));
    fixture.model().requestConnect();
    QCoreApplication::processEvents();
    EXPECT_FALSE(statistics.connected());
    EXPECT_EQ(tileValues(statistics).value("Current server"), "Unavailable");
    gate.open();
}

TEST_F(InfoPagesTest, StatisticsOfTheActiveTunnel) {
    fixture.preferences().setValue(PreferenceKey::measureThroughput, true);
    fixture.measurer->rtt = 42;
    fixture.measurer->throughput = 12'300'000;
    connectJapan();
    StatisticsViewModel statistics;
    statistics.setShell(shell.get());
    EXPECT_EQ(statistics.subtitle(), "Live session details from the active tunnel.");
    auto values = tileValues(statistics);
    EXPECT_EQ(values.value("Connection duration"), "00:00:00");
    EXPECT_EQ(values.value("Current server"), "jp-best");
    EXPECT_EQ(values.value("Country and protocol"), QStringLiteral("🇯🇵 Japan · OpenVPN"));
    EXPECT_EQ(values.value("Measured through the tunnel"), "42 ms, 12.3 Mbps — provider says 90.0 Mbps");
    HomeViewModel home;
    home.setShell(shell.get());
    EXPECT_EQ(home.detailsNote(), "Measured: 42 ms, 12.3 Mbps — provider says 90.0 Mbps");
    EXPECT_EQ(values.value("Upload"), "Unavailable from current provider");
    EXPECT_EQ(values.value("Download"), "Unavailable from current provider");

    // The clock moves the duration on each tick.
    int redraws = 0;
    QObject::connect(&statistics, &StatisticsViewModel::tilesChanged, [&] { ++redraws; });
    fixture.clock->current = fixture.clock->current.addSecs(3725);
    statistics.tick();
    EXPECT_EQ(redraws, 1);
    EXPECT_EQ(tileValues(statistics).value("Connection duration"), "01:02:05");

    await(fixture.model().disconnect());
    EXPECT_EQ(tileValues(statistics).value("Connection duration"), "Unavailable");
}

TEST_F(InfoPagesTest, DiagnosticsTextLayout) {
    ASSERT_TRUE(await(fixture.model().refreshCatalog()));
    HelpViewModel help;
    help.setShell(shell.get());
    EXPECT_EQ(help.copyLabel(), "Copy Safe Diagnostics");
    EXPECT_EQ(help.copySymbol(), "doc.on.doc");

    help.copyDiagnostics();
    ASSERT_EQ(clipboard.size(), 1);
    EXPECT_EQ(clipboard.first(),
              "Orlune VPN diagnostics\n"
              "Version: 0.1.0 (118)\n"
              "OS: Debian GNU/Linux 12 (bookworm), kernel 6.1.0-28-amd64\n"
              "VPN service available: yes\n"
              "Catalog servers: 2\n"
              "Internet: available\n"
              "\n"
              "No IP address, password, profile, or browsing data included.");
    EXPECT_TRUE(help.copied());
    EXPECT_EQ(help.copyLabel(), "Diagnostics Copied");
    EXPECT_EQ(help.copySymbol(), "checkmark");
}

TEST_F(InfoPagesTest, DiagnosticsWithoutServiceVersionOrNetwork) {
    serviceSocketExists = false;
    services.identity = {};
    shell->setServices(services);
    fixture.network->physicalUp = false;
    await(fixture.model().probeNetwork(NetworkPathStatus::unsatisfied, fixture.model().latestProbe()));
    HelpViewModel help;
    help.setShell(shell.get());
    const QString text = safeDiagnostics(help.diagnosticsFacts());
    EXPECT_TRUE(text.contains("\nVersion: unknown (unknown)\n")) << text.toStdString();
    EXPECT_TRUE(text.contains("\nVPN service available: no\n"));
    EXPECT_TRUE(text.contains("\nCatalog servers: 0\n"));
    EXPECT_TRUE(text.contains("\nInternet: offline\n")) << text.toStdString();

    AboutViewModel about;
    about.setShell(shell.get());
    EXPECT_EQ(about.versionText(), "Version Development");
}

TEST_F(InfoPagesTest, DiagnosticsNeverCarryAnAddress) {
    connectJapan();
    ASSERT_FALSE(fixture.model().publicIP().value_or(QString()).isEmpty());
    // Every outside-made part tries to smuggle one in.
    services.operatingSystem = [] {
        return QStringLiteral("Router OS 10.0.0.1 (fe80::1%eth0), kernel 5.4.0.12 at 2001:db8::7.");
    };
    services.identity = {QStringLiteral("192.0.2.44"), QStringLiteral("::ffff:198.51.100.1")};
    shell->setServices(services);
    HelpViewModel help;
    help.setShell(shell.get());
    help.copyDiagnostics();
    ASSERT_EQ(clipboard.size(), 1);
    const QString text = clipboard.first();
    EXPECT_FALSE(looksLikeAddress(text)) << text.toStdString();
    EXPECT_FALSE(text.contains(fixture.model().publicIP().value()));
    EXPECT_FALSE(text.contains(fixture.model().connectionState().vpnIP));
    EXPECT_TRUE(text.startsWith("Orlune VPN diagnostics\nVersion: [address removed] ([address removed])\n"));
    EXPECT_TRUE(
        text.contains("OS: Router OS [address removed] ([address removed]), kernel [address removed] at "
                      "[address removed].\n"))
        << text.toStdString();
}

TEST(Diagnostics, AddressesAreRemovedAndVersionsKept) {
    const std::pair<const char*, const char*> cases[] = {
        {"Debian GNU/Linux 12 (bookworm), kernel 6.1.0-28-amd64",
         "Debian GNU/Linux 12 (bookworm), kernel 6.1.0-28-amd64"},
        {"Qt 6.4.2 on 1.2.3", "Qt 6.4.2 on 1.2.3"},
        {"at 203.0.113.9, ok", "at [address removed], ok"},
        {"v6 ::1 and 2001:db8:0:1::5", "v6 [address removed] and [address removed]"},
        {"time 12:30:45", "time 12:30:45"},
        // Found by fuzzing: a zone that splits a dotted address between two runs.
        {"fe801::%e5.4.0.12 at", "fe801::%e[address removed] at"},
        {"1.2.3.4.5.6.7.8", "[address removed]"},
        // A lone colon at either end of a run, and an address inside a longer run.
        {"IP:2001:db8::1 link", "IP[address removed] link"},
        {"fe80::1: up", "[address removed] up"},
        {"at 1:2:3:4:5:6:7:8.9", "at [address removed]"},
        {"", ""},
    };
    for (const auto& [text, kept] : cases) EXPECT_EQ(withoutAddresses(text), kept) << text;
}

TEST_F(InfoPagesTest, HelpCardsAndLinks) {
    HelpViewModel help;
    help.setShell(shell.get());
    QStringList titles;
    for (const QVariant& card : help.cards()) titles << card.toMap().value("title").toString();
    EXPECT_EQ(titles, QStringList({"Connect to a country", "Connection failed or timed out", "One-time installation",
                                   "Privacy and relay operators"}));
    const QString install = help.cards()[2].toMap().value("text").toString();
    EXPECT_TRUE(install.contains(".deb")) << install.toStdString();
    EXPECT_FALSE(install.contains("macOS"));
    EXPECT_TRUE(help.diagnosticsNote().startsWith("Diagnostics include app and operating system versions"));

    ASSERT_EQ(help.links().size(), 3);
    help.openLink(0);
    help.openLink(1);
    help.openLink(3);  // no such link
    ASSERT_EQ(opened.size(), 2);
    EXPECT_EQ(opened[0].path(), "/en/about_faq.aspx");
    EXPECT_EQ(opened[1].path(), "/en/howto_openvpn.aspx");
}

TEST_F(InfoPagesTest, AboutAndTheLegalSheet) {
    AboutViewModel about;
    about.setShell(shell.get());
    EXPECT_EQ(about.versionText(), "Version 0.1.0");
    EXPECT_EQ(about.selectedDocument(), QString());
    EXPECT_TRUE(about.document().isEmpty());

    int changes = 0;
    QObject::connect(&about, &AboutViewModel::selectedDocumentChanged, [&] { ++changes; });
    about.showDocument("privacy");
    EXPECT_EQ(about.selectedDocument(), "privacy");
    QVariantMap privacy = about.document();
    EXPECT_EQ(privacy.value("title").toString(), "Privacy Policy");
    EXPECT_EQ(privacy.value("lastUpdated").toString(), "Last updated: October 8, 2026");
    QStringList sections;
    for (const QVariant& section : privacy.value("sections").toList())
        sections << section.toMap().value("title").toString();
    EXPECT_EQ(sections, QStringList({"Data handled by Orlune VPN", "Network requests", "Connection diagnostics",
                                     "Third-party relay privacy", "Traffic limits", ""}));
    about.openDocumentLink(5, 0);
    ASSERT_EQ(opened.size(), 1);
    EXPECT_EQ(opened[0].path(), "/en/about_abuse.aspx");

    about.showDocument("terms");
    QVariantMap terms = about.document();
    EXPECT_EQ(terms.value("title").toString(), "Terms & Conditions");
    EXPECT_EQ(terms.value("sections").toList().size(), 6);
    EXPECT_EQ(terms.value("sections").toList().last().toMap().value("title").toString(), "External policies");

    about.closeDocument();
    EXPECT_EQ(about.selectedDocument(), QString());
    about.showDocument("unknown");
    EXPECT_EQ(about.selectedDocument(), QString());
    EXPECT_EQ(changes, 3);
}

}  // namespace
}  // namespace orlune::ui
