// The kept catalog, the mirrors and import: what the app has to connect with when the catalog
// server is blocked or down.
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include "catalog/catalog_cache.h"
#include "catalog/vpngate_provider.h"
#include "core/tunnel_error.h"
#include "network/http.h"
#include "support/await.h"
#include "support/catalog_fixtures.h"
#include "support/local_endpoints.h"
#include "support/test_https_server.h"

namespace orlune {
namespace {

using test::await;

const QDateTime kNow = QDateTime(QDate(2026, 12, 9), QTime(12, 0), Qt::UTC);

QByteArray goodList(const QString& host = QStringLiteral("public-vpn-1")) {
    test::CatalogRow row;
    row.host = host;
    return test::catalogBody({test::catalogLine(row)});
}

void writeFile(const QString& path, const QByteArray& body, const QDateTime& modified = {}) {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(body);
    file.flush();
    if (modified.isValid()) file.setFileTime(modified, QFileDevice::FileModificationTime);
}

TEST(CatalogCacheTest, KeepsAtomicallyWithinTheLimitAndIgnoresWhatItCannotUse) {
    QTemporaryDir dir;
    const QString path = dir.filePath("orlune-vpn/catalog.csv");
    const CatalogCache cache(path, 4096);
    EXPECT_FALSE(cache.load(kNow).has_value()) << "nothing kept yet";

    cache.keep(goodList("first"), kNow.addSecs(-3600));
    cache.keep(goodList("second"), kNow.addSecs(-60));
    const auto kept = cache.load(kNow);
    ASSERT_TRUE(kept.has_value());
    EXPECT_EQ(kept->relays.at(0).name, "second");
    EXPECT_EQ(kept->savedAt, kNow.addSecs(-60)) << "the download's time is the file's";
    EXPECT_EQ(QDir(dir.filePath("orlune-vpn")).entryList(QDir::Files), QStringList{"catalog.csv"})
        << "no temporary file is left";
    EXPECT_EQ((QFile(path).permissions() & (QFileDevice::ReadOther | QFileDevice::ReadGroup)).toInt(), 0);

    // Over the limit: refused, and the old list stays whole.
    EXPECT_THROW(cache.keep(QByteArray(5000, 'x'), kNow), CatalogCacheError);
    EXPECT_EQ(cache.load(kNow)->relays.at(0).name, "second");

    struct Case {
        const char* name;
        QByteArray body;
        QDateTime modified;
        const char* reason;
    };
    const Case unusable[] = {
        {"an HTML page", "<html>blocked</html>", kNow, "not a VPN Gate relay list"},
        {"not UTF-8", "*vpn_servers\r\n\xff\xfe", kNow, "not a VPN Gate relay list"},
        {"a list without relays", test::catalogBody({}), kNow, "lists no usable relay"},
        {"over the limit", QByteArray(5000, 'x'), kNow, "larger than"},
        {"dated two days ahead", goodList(), kNow.addDays(2), "in the future"},
    };
    for (const Case& c : unusable) {
        writeFile(path, c.body, c.modified);
        try {
            cache.load(kNow);
            ADD_FAILURE() << c.name << ": used";
        } catch (const CatalogCacheError& error) {
            EXPECT_TRUE(QString::fromUtf8(error.what()).contains(c.reason)) << c.name << ": " << error.what();
            EXPECT_TRUE(QString::fromUtf8(error.what()).startsWith("The kept catalog " + path + " was ignored"));
        }
        EXPECT_TRUE(QFile::exists(path)) << c.name << ": nothing is deleted";
    }
}

TEST(CatalogCacheTest, AgeRules) {
    const qint64 week = 7 * 24 * 3600;
    EXPECT_TRUE(keptCatalogUsableForConnecting(kNow.addSecs(-week), kNow));
    EXPECT_FALSE(keptCatalogUsableForConnecting(kNow.addSecs(-week - 1), kNow));
    EXPECT_TRUE(keptCatalogUsableForConnecting(kNow.addSecs(3600), kNow)) << "a clock a little behind";
    EXPECT_FALSE(keptCatalogUsableForConnecting(QDateTime(), kNow));
    const std::pair<qint64, const char*> ages[] = {
        {-30, "just now"},        {59, "just now"},          {60, "1 minute ago"},
        {3599, "59 minutes ago"}, {3600, "1 hour ago"},      {3 * 3600 + 5, "3 hours ago"},
        {86400, "1 day ago"},     {9 * 86400, "9 days ago"},
    };
    for (const auto& [seconds, text] : ages) EXPECT_EQ(catalogAgeText(kNow.addSecs(-seconds), kNow), text) << seconds;
}

TEST(CatalogMirrorsTest, EachLineMustBeAFullHttpsUrlOrLocal) {
    EXPECT_EQ(parseCatalogMirrors("\n# comment\n https://a.example/api/iphone/ \nhttp://127.0.0.1:8080/x\n"
                                  "http://localhost/y\nhttp://[::1]/z\n")
                  .size(),
              4u);
    const std::pair<const char*, const char*> refused[] = {
        {"http://mirror.example/api/iphone/", "line 1: \"http://mirror.example/api/iphone/\" must use https"},
        {"https://ok.example/\nftp://x.example/", "line 2: \"ftp://x.example/\" is not an absolute catalog URL"},
        {"mirror.example/api/iphone/", "line 1"},
        {"https:///no-host", "line 1"},
    };
    for (const auto& [text, reason] : refused) {
        try {
            parseCatalogMirrors(text);
            ADD_FAILURE() << text << ": accepted";
        } catch (const CatalogSettingsError& error) {
            EXPECT_TRUE(QString::fromUtf8(error.what()).contains(reason)) << error.what();
        }
    }
}

class CatalogFallbackTest : public ::testing::Test {
protected:
    using TestResponse = test::TestResponse;
    QTemporaryDir dir;
    test::TestHttpsServer server;
    test::ScopedEndpoints endpoints{test::endpointsOn(server)};
    test::ScopedTimeouts quick{{.catalog = std::chrono::milliseconds(300), .profile = std::chrono::milliseconds(300)}};
    std::shared_ptr<CatalogAccess> access = [this] {
        auto made = std::make_shared<CatalogAccess>(CatalogCache(dir.filePath("catalog.csv")));
        made->clock = made->steadyClock = [this] { return now; };
        made->setMirrors({server.url("/m1/api/iphone/"), server.url("/m2/api/iphone/")});
        return made;
    }();
    VPNGateProvider provider{access};
    QDateTime now = kNow;

    void answer(const TestResponse& primary, const TestResponse& m1, const TestResponse& m2) {
        server.route("/api/iphone/", primary);
        server.route("/m1/api/iphone/", m1);
        server.route("/m2/api/iphone/", m2);
    }
};

TEST_F(CatalogFallbackTest, FaultsFallToTheFirstWorkingMirrorThenToTheKeptCatalog) {
    const TestResponse faults[] = {
        {.status = 429, .body = "Too Many Requests"},
        {.body = "<!DOCTYPE html><html>503</html>"},
        {.body = ""},  // the empty placeholder
        {.body = test::catalogBody({})},
        {.hang = true},
    };
    const TestResponse good{.body = goodList("from-m2")};
    for (const TestResponse& fault : faults) {
        now = now.addSecs(600);  // past the hold-back of the last round's failures
        answer(fault, {.status = 404}, good);
        const CatalogFetch fetched = await(provider.fetchWithFallback());
        ASSERT_EQ(fetched.relays.size(), 1u) << fault.status;
        EXPECT_EQ(fetched.relays[0].name, "from-m2");
        EXPECT_FALSE(fetched.keptFrom.has_value());
    }
    EXPECT_EQ(CatalogCache(dir.filePath("catalog.csv")).load(now)->relays.at(0).name, "from-m2") << "kept";

    // Every source down: the kept catalog, with its date and every source's failure.
    const QDateTime keptAt = now;
    now = now.addSecs(3 * 3600);
    answer({.status = 429}, {.body = "<html/>"}, {.status = 503});
    CatalogFetch fetched = await(provider.fetchWithFallback());
    ASSERT_EQ(fetched.relays.size(), 1u);
    EXPECT_EQ(fetched.keptFrom, keptAt);
    EXPECT_EQ(fetched.liveFailure.toStdString(),
              "primary 127.0.0.1:" + std::to_string(server.url("/").port()) +
                  ": the catalog service did not return a valid VPN Gate relay list (HTTP 429); mirror 127.0.0.1:" +
                  std::to_string(server.url("/").port()) +
                  ": the catalog service did not return a valid VPN Gate relay list; mirror 127.0.0.1:" +
                  std::to_string(server.url("/").port()) +
                  ": the catalog service did not return a valid VPN Gate relay list (HTTP 503)");
    // The profile comes from it too while it is young enough; after a week it is not used.
    const Relay relay = test::relayFor([] {
        test::CatalogRow row;
        row.host = "from-m2";
        return row;
    }());
    const ProfileFetch profile = await(provider.openVPNConfigurationWithFallback(relay));
    EXPECT_TRUE(profile.profile.contains("remote 203.0.113.7 1194\n"));
    EXPECT_EQ(profile.keptFrom, keptAt);
    now = keptAt.addDays(8);
    try {
        await(provider.openVPNConfigurationWithFallback(relay));
        ADD_FAILURE() << "a catalog over a week old gave a profile";
    } catch (const TunnelError& error) {
        EXPECT_EQ(error.kind(), TunnelError::Kind::serverConfigurationUnavailable);
    }
    fetched = await(provider.fetchWithFallback());
    EXPECT_EQ(fetched.keptFrom, keptAt) << "still shown, with its age";

    // A kept file that is no catalog is ignored, with the reason; the live failure stands.
    writeFile(dir.filePath("catalog.csv"), "garbage", now);
    fetched = await(provider.fetchWithFallback());
    EXPECT_TRUE(fetched.relays.empty());
    EXPECT_TRUE(fetched.liveError);
    EXPECT_TRUE(fetched.keptProblem.contains("is not a VPN Gate relay list")) << fetched.keptProblem.toStdString();
}

TEST_F(CatalogFallbackTest, SourcesAreTriedInOrderAndAFailedOneWaitsItsTurn) {
    answer({.status = 429}, {.body = goodList("m1")}, {.body = goodList("m2")});
    EXPECT_EQ(await(provider.fetch()).at(0).name, "m1");
    EXPECT_EQ(server.requestCount("/m2/api/iphone/"), 0) << "no source after the first working one";
    // The primary failed a moment ago: the mirror goes first until the hold-back ends.
    EXPECT_EQ(access->sources().front(), server.url("/m1/api/iphone/"));
    await(provider.fetch());
    EXPECT_EQ(server.requestCount("/api/iphone/"), 1);
    now = now.addSecs(CatalogAccess::kFailedSourceHoldbackSeconds);
    EXPECT_EQ(access->sources().front(), Endpoints::current().catalog);
    // Mirrors from the endpoints file come before the settings' ones; none twice.
    Endpoints withMirrors = test::endpointsOn(server);
    withMirrors.catalogMirrors = {server.url("/m2/api/iphone/"), server.url("/e/api/iphone/")};
    test::ScopedEndpoints scoped(withMirrors);
    const std::vector<QUrl> expected{withMirrors.catalog, server.url("/m2/api/iphone/"), server.url("/e/api/iphone/"),
                                     server.url("/m1/api/iphone/")};
    EXPECT_EQ(access->sources(), expected);
}

TEST_F(CatalogFallbackTest, ImportIsStrictAndBecomesTheKeptCatalog) {
    struct Case {
        const char* name;
        std::optional<QByteArray> body;  // none: no file
        const char* reason;
    };
    const Case refused[] = {
        {"missing", std::nullopt, "does not exist"},
        {"a web page", "<html>Please enable JavaScript</html>", "is not a VPN Gate relay list"},
        {"a list without relays", test::catalogBody({}), "lists no usable relay"},
        {"too large", QByteArray(kKeptCatalogMaxBytes + 1, 'x'), "too large"},
    };
    for (const Case& c : refused) {
        const QString path = dir.filePath(QString::fromLatin1(c.name));
        if (c.body) writeFile(path, *c.body);
        try {
            provider.importCatalog(path);
            ADD_FAILURE() << c.name << ": imported";
        } catch (const CatalogImportError& error) {
            EXPECT_TRUE(QString::fromUtf8(error.what()).contains(c.reason)) << c.name << ": " << error.what();
        }
        EXPECT_FALSE(QFile::exists(dir.filePath("catalog.csv"))) << c.name << ": nothing kept";
    }
    const QString saved = dir.filePath("saved.csv");
    writeFile(saved, goodList("imported"), kNow.addDays(-2));
    const CatalogFetch imported = provider.importCatalog(saved);
    EXPECT_EQ(imported.relays.at(0).name, "imported");
    EXPECT_EQ(imported.keptFrom, kNow.addDays(-2)) << "dated by the file";
    const auto kept = CatalogCache(dir.filePath("catalog.csv")).load(kNow);
    ASSERT_TRUE(kept.has_value());
    EXPECT_EQ(kept->savedAt, kNow.addDays(-2));
}

}  // namespace
}  // namespace orlune
