#include "core/relay.h"

#include <QJsonDocument>

#include <algorithm>
#include <vector>

#include <gtest/gtest.h>

namespace orlune {
namespace {

Relay relay(QString id, std::optional<qint64> ping, std::optional<qint64> speed) {
    Relay r;
    r.id = std::move(id);
    r.pingMilliseconds = ping;
    r.speedBitsPerSecond = speed;
    r.supportsOpenVPN = true;
    return r;
}

TEST(RelayTexts, PingSpeedAndProtocol) {
    Relay r;
    EXPECT_EQ(r.pingText(), "Unavailable");
    EXPECT_EQ(r.speedText(), "Unavailable");
    EXPECT_EQ(r.protocolText(), "Unavailable");
    r.pingMilliseconds = 42;
    r.speedBitsPerSecond = 12'345'678;
    r.supportsOpenVPN = true;
    EXPECT_EQ(r.pingText(), "42 ms");
    EXPECT_EQ(r.speedText(), "12.3 Mbps");
    EXPECT_EQ(r.protocolText(), "OpenVPN");
    r.speedBitsPerSecond = 999'999;
    EXPECT_EQ(r.speedText(), "1.0 Mbps");
}

TEST(RelayTexts, UptimeBoundsAndUnits) {
    const struct {
        std::optional<qint64> seconds;
        const char* text;
    } cases[] = {
        {std::nullopt, "Unavailable"},
        {0, "Unavailable"},
        {-60, "Unavailable"},
        {1, "0h 0m"},
        {3'599, "0h 59m"},
        {18'420, "5h 7m"},
        {86'399, "23h 59m"},
        {86'400, "1d 0h"},
        {273'600, "3d 4h"},
        {315'576'000, "3652d 12h"},
        {315'576'001, "Unavailable"},
    };
    for (const auto& c : cases) {
        Relay r;
        r.uptimeSeconds = c.seconds;
        EXPECT_EQ(r.uptimeText(), c.text) << (c.seconds ? *c.seconds : -1);
    }
}

TEST(RelayOrder, ScoreThenPingThenSpeedThenId) {
    const Relay fastNear = relay("a", 10, 20'000'000);          // score 2,000,000
    const Relay fastFar = relay("b", 100, 50'000'000);          // score 500,000
    const Relay sameScoreLowPing = relay("c", 5, 2'500'000);    // score 500,000, ping 5
    const Relay noPing = relay("d", std::nullopt, 90'000'000);  // score 0
    const Relay zeroScoreFast = relay("e", 50, std::nullopt);   // score 0, ping 50
    const Relay tieByIdFirst = relay("x1", 100, 50'000'000);
    const Relay tieBySpeed = relay("f", std::nullopt, 1'000);  // score 0, no ping, speed 1000

    EXPECT_TRUE(Relay::recommendedOrder(fastNear, fastFar));
    EXPECT_FALSE(Relay::recommendedOrder(fastFar, fastNear));
    EXPECT_TRUE(Relay::recommendedOrder(sameScoreLowPing, fastFar));
    EXPECT_TRUE(Relay::recommendedOrder(fastFar, tieByIdFirst));  // "b" < "x1"
    EXPECT_TRUE(Relay::recommendedOrder(fastFar, noPing));
    EXPECT_TRUE(Relay::recommendedOrder(zeroScoreFast, noPing));  // equal score 0: a ping beats none
    EXPECT_TRUE(Relay::recommendedOrder(noPing, tieBySpeed));     // then the higher speed
    EXPECT_FALSE(Relay::recommendedOrder(fastNear, fastNear));

    std::vector<Relay> list = {tieBySpeed, noPing, tieByIdFirst, fastFar, zeroScoreFast, sameScoreLowPing, fastNear};
    std::sort(list.begin(), list.end(), &Relay::recommendedOrder);
    std::vector<QString> ids;
    for (const Relay& r : list) ids.push_back(r.id);
    EXPECT_EQ(ids, (std::vector<QString>{"a", "c", "b", "x1", "e", "d", "f"}));
}

TEST(RelayOrder, IdsCompareByCodePointNotUtf16Unit) {
    // U+FF21 (one UTF-16 unit, 0xFF21) goes before U+1F600 (surrogates 0xD83D...).
    const Relay bmp = relay(QString::fromUtf8("\xEF\xBC\xA1"), 1, 1);
    const Relay astral = relay(QString::fromUtf8("\xF0\x9F\x98\x80"), 1, 1);
    EXPECT_TRUE(Relay::recommendedOrder(bmp, astral));
    EXPECT_FALSE(Relay::recommendedOrder(astral, bmp));
}

TEST(RelayJson, RoundTripUsesExactKeysAndLeavesOutAbsentValues) {
    Relay r = relay("host-1-203.0.113.7", 42, std::nullopt);
    r.country = "Japan";
    r.countryCode = "jp";
    r.name = "host-1";
    r.hostname = "203.0.113.7";
    r.sessions = 0;
    r.uptimeSeconds = 9'000'000'000'000'000'001;  // beyond a double's exact range
    const QJsonObject json = r.toJson();
    EXPECT_EQ(json.keys(), (QStringList{"country", "countryCode", "hostname", "id", "name", "pingMilliseconds",
                                        "sessions", "supportsOpenVPN", "uptimeSeconds"}));
    const QByteArray text = QJsonDocument(json).toJson(QJsonDocument::Compact);
    const auto decoded = Relay::fromJson(QJsonDocument::fromJson(text).object());
    ASSERT_TRUE(decoded);
    EXPECT_EQ(*decoded, r);
    EXPECT_EQ(qHash(*decoded), qHash(r));
}

TEST(RelayJson, RefusesMissingOrMistypedFieldsAndAcceptsNullOptionals) {
    const QJsonObject good{{"id", "a-1"}, {"country", "Japan"}, {"countryCode", "JP"},
                           {"name", "a"}, {"hostname", "1"},    {"supportsOpenVPN", true}};
    ASSERT_TRUE(Relay::fromJson(good));
    for (const char* key : {"id", "country", "countryCode", "name", "hostname", "supportsOpenVPN"}) {
        QJsonObject missing = good;
        missing.remove(key);
        EXPECT_FALSE(Relay::fromJson(missing)) << key;
    }
    QJsonObject withNull = good;
    withNull.insert("pingMilliseconds", QJsonValue::Null);
    ASSERT_TRUE(Relay::fromJson(withNull));
    EXPECT_FALSE(Relay::fromJson(withNull)->pingMilliseconds);
    for (const QJsonValue& bad : {QJsonValue(1.5), QJsonValue("42"), QJsonValue(true)}) {
        QJsonObject mistyped = good;
        mistyped.insert("speedBitsPerSecond", bad);
        EXPECT_FALSE(Relay::fromJson(mistyped));
    }
    QJsonObject numericText = good;
    numericText.insert("country", 5);
    EXPECT_FALSE(Relay::fromJson(numericText));
}

TEST(RelayEquality, CoversEveryField) {
    const Relay base = relay("a-1", 10, 100);
    Relay changed = base;
    changed.pingMilliseconds = 11;
    EXPECT_NE(base, changed);
    changed = base;
    changed.uptimeSeconds = 0;
    EXPECT_NE(base, changed);
    changed = base;
    changed.supportsOpenVPN = false;
    EXPECT_NE(base, changed);
}

}  // namespace
}  // namespace orlune
