#include "catalog/catalog_parsing.h"

#include <QSet>

#include <algorithm>

#include <gtest/gtest.h>

#include "catalog/catalog_error.h"
#include "catalog/csv_reader.h"
#include "core/tunnel_error.h"
#include "support/catalog_fixtures.h"

namespace orlune {
namespace {

using test::catalogBody;
using test::catalogLine;
using test::CatalogRow;

TEST(WholeNumbers, SignsDigitsAndSixtyFourBitLimits) {
    const struct {
        const char16_t* text;
        std::optional<qint64> value;
    } cases[] = {
        {u"42", 42},
        {u"+42", 42},
        {u"-5", -5},
        {u"0", 0},
        {u"007", 7},
        {u"9223372036854775807", std::numeric_limits<qint64>::max()},
        {u"9223372036854775808", std::nullopt},
        {u"-9223372036854775808", std::numeric_limits<qint64>::min()},
        {u"-9223372036854775809", std::nullopt},
        {u"99999999999999999999999", std::nullopt},
        {u"", std::nullopt},
        {u"+", std::nullopt},
        {u"-", std::nullopt},
        {u"12a", std::nullopt},
        {u"abc", std::nullopt},
        {u" 1", std::nullopt},
        {u"1 ", std::nullopt},
        {u"1.0", std::nullopt},
        {u"+-1", std::nullopt},
        {u"\u0661\u0662", std::nullopt},  // Arabic-Indic digits are not decimal digits here
    };
    for (const auto& c : cases) {
        EXPECT_EQ(parseWholeNumber(c.text), c.value) << QString::fromUtf16(c.text).toStdString();
    }
}

TEST(CatalogRows, UnusableRowsAreSkippedAndTheRestKept) {
    CatalogRow good;
    CatalogRow emptyCode;
    emptyCode.host = "no-code";
    emptyCode.code = "";
    CatalogRow emptyProfile;
    emptyProfile.host = "no-profile";
    emptyProfile.profileBase64 = "";
    QByteArray fourteenFields = catalogLine(CatalogRow{.host = "short"});
    fourteenFields.truncate(fourteenFields.lastIndexOf(','));
    fourteenFields += "\r\n";
    const auto relays = parseCatalog(
        catalogBody({catalogLine(emptyCode), fourteenFields, catalogLine(good), catalogLine(emptyProfile)}));
    ASSERT_EQ(relays.size(), 1u);
    EXPECT_EQ(relays[0], test::relayFor(good));
}

TEST(CatalogRows, NumbersFollowTheColumnRules) {
    const auto relays = parseCatalog(catalogBody({
        catalogLine({.host = "zero-ping", .ping = "0", .sessions = "0", .uptime = "abc"}),
        catalogLine({.host = "neg-ping", .ping = "-5", .speed = "-1", .sessions = "-2", .uptime = "-1500"}),
        catalogLine({.host = "letters", .ping = "x1", .speed = "", .uptime = "51981385"}),
    }));
    ASSERT_EQ(relays.size(), 3u);
    for (const Relay& relay : relays) {
        EXPECT_FALSE(relay.pingMilliseconds) << relay.id.toStdString();
        if (relay.name == "zero-ping") {
            EXPECT_EQ(relay.sessions, 0);
            EXPECT_FALSE(relay.uptimeSeconds);
        } else if (relay.name == "neg-ping") {
            EXPECT_FALSE(relay.speedBitsPerSecond);
            EXPECT_EQ(relay.sessions, -2);
            EXPECT_EQ(relay.uptimeSeconds, -1);  // milliseconds, truncated towards zero
        } else {
            EXPECT_EQ(relay.uptimeSeconds, 51'981);
            EXPECT_EQ(relay.uptimeText(), "14h 26m");
        }
    }
}

TEST(CatalogRows, LaterDuplicateWinsAndTheListIsRanked) {
    const auto relays = parseCatalog(catalogBody({
        catalogLine({.host = "dup", .ping = "100", .speed = "1000000"}),
        catalogLine({.host = "other", .address = "198.51.100.9", .ping = "20", .speed = "10000000"}),
        catalogLine({.host = "dup", .ping = "5", .speed = "90000000", .sessions = "7"}),
    }));
    ASSERT_EQ(relays.size(), 2u);
    EXPECT_EQ(relays[0].id, "dup-203.0.113.7");
    EXPECT_EQ(relays[0].pingMilliseconds, 5);
    EXPECT_EQ(relays[0].sessions, 7);
    EXPECT_EQ(relays[1].id, "other-198.51.100.9");
}

TEST(CatalogAnswer, ErrorPagesAndNonUtf8AreInvalidButAnEmptyListIsNot) {
    const QByteArray realError = test::readSample("vpngate_api_error_2026-08-21.txt");
    for (const QByteArray& body : {realError, QByteArray("<html><body>503 Service Unavailable</body></html>"),
                                   QByteArray(""), QByteArray("*vpn_servers\xff\r\n")}) {
        EXPECT_THROW(parseCatalog(body), CatalogError) << body.toStdString();
    }
    EXPECT_TRUE(parseCatalog("*vpn_servers\r\n").empty());
    EXPECT_TRUE(parseCatalog(catalogBody({})).empty());
    EXPECT_TRUE(parseCatalog(catalogBody({"only,a,few,fields\r\n"})).empty());
}

TEST(CatalogAnswer, RealCaptureParsesCompletely) {
    const QByteArray body = test::readSample("vpngate_api_iphone_2025-09-27.csv");
    const auto rows = parseCSV(*decodeUtf8(body));
    const auto relays = parseCatalog(body);
    // Every row between the header and the closing "*" is a relay.
    EXPECT_EQ(relays.size(), rows.size() - 3);
    EXPECT_EQ(relays.size(), 97u);
    QSet<QString> ids;
    for (const Relay& relay : relays) ids.insert(relay.id);
    EXPECT_EQ(ids.size(), static_cast<qsizetype>(relays.size()));
    EXPECT_TRUE(std::is_sorted(relays.begin(), relays.end(), &Relay::recommendedOrder));

    const auto first = std::find_if(relays.begin(), relays.end(),
                                    [](const Relay& r) { return r.id == "public-vpn-182-219.100.37.177"; });
    ASSERT_NE(first, relays.end());
    EXPECT_EQ(first->country, "Japan");
    EXPECT_EQ(first->countryCode, "JP");
    EXPECT_EQ(first->pingMilliseconds, 18);
    EXPECT_EQ(first->speedBitsPerSecond, 1'870'854'040);
    EXPECT_EQ(first->sessions, 94);
    EXPECT_EQ(first->uptimeText(), "47d 13h");
    // Relays that report "-" as their ping have none.
    EXPECT_TRUE(std::any_of(relays.begin(), relays.end(), [](const Relay& r) { return !r.pingMilliseconds; }));
    // Read as milliseconds, every running relay's uptime is displayable (as seconds, about a
    // third would exceed ten years); relays that report 0 have none.
    for (const Relay& relay : relays) {
        ASSERT_TRUE(relay.uptimeSeconds);
        if (*relay.uptimeSeconds >= 1) {
            EXPECT_NE(relay.uptimeText(), "Unavailable") << relay.id.toStdString();
        }
    }
}

TEST(FreshProfile, RelayIsFoundByIdAddressCountryAndCodeIgnoringCase) {
    CatalogRow listed;
    const Relay relay = test::relayFor(listed);
    CatalogRow lowerCode = listed;
    lowerCode.code = "jp";
    EXPECT_TRUE(profileFromCatalog(catalogBody({catalogLine(lowerCode)}), relay).startsWith("client\n"));

    CatalogRow renamed = listed;
    renamed.country = "Japan (Tokyo)";
    CatalogRow moved = listed;
    moved.address = "203.0.113.8";
    CatalogRow noProfile = listed;
    noProfile.profileBase64 = "";
    for (const CatalogRow& changed : {renamed, moved, noProfile}) {
        try {
            profileFromCatalog(catalogBody({catalogLine(changed)}), relay);
            ADD_FAILURE() << "relay should be missing";
        } catch (const TunnelError& error) {
            EXPECT_EQ(error.kind(), TunnelError::Kind::serverMissingFromFreshCatalog);
        }
    }
}

TunnelError::Kind profileFailure(const QByteArray& body, const Relay& relay) {
    try {
        profileFromCatalog(body, relay);
    } catch (const TunnelError& error) {
        return error.kind();
    }
    ADD_FAILURE() << "no error";
    return TunnelError::Kind::noInternet;
}

TEST(FreshProfile, UnusableAnswersAndProfiles) {
    using Kind = TunnelError::Kind;
    CatalogRow row;
    const Relay relay = test::relayFor(row);
    EXPECT_EQ(profileFailure(test::readSample("vpngate_api_error_2026-08-21.txt"), relay),
              Kind::serverConfigurationUnavailable);
    EXPECT_EQ(profileFailure("\xfe\xff", relay), Kind::serverConfigurationUnavailable);
    EXPECT_EQ(profileFailure("*vpn_servers\r\n#header\r\n", relay), Kind::serverMissingFromFreshCatalog);

    const QByteArray valid = test::minimalProfile(row.address).toUtf8().toBase64();
    const struct {
        QByteArray base64;
        const char* why;
    } invalid[] = {
        {valid.left(valid.size() - 1), "not a multiple of four"},
        {valid.left(40) + "\r\n" + valid.mid(40), "line break"},
        {"*" + valid.mid(1), "outside the alphabet"},
        {QByteArray("\xff\xfe\xfd").toBase64(), "not UTF-8"},
        {valid.left(valid.size() - 4) + "A===", "three padding characters"},
    };
    for (const auto& c : invalid) {
        row.profileBase64 = QString::fromLatin1(c.base64);
        // The CSV line itself must stay one row: quote the column.
        row.profileBase64 = '"' + row.profileBase64 + '"';
        EXPECT_EQ(profileFailure(catalogBody({catalogLine(row)}), relay), Kind::serverProfileInvalid) << c.why;
    }
}

}  // namespace
}  // namespace orlune
