#include "model/relay_rankings.h"

#include <gtest/gtest.h>

#include "model_fakes.h"

namespace orlune {
namespace {

using test::makeRelay;

struct Rankings {
    std::vector<Relay> relays;
    QualityLimits limits;
    QHash<QString, QDateTime> quarantine;
    QSet<QString> mismatched;
    QDateTime now = QDateTime(QDate(2026, 12, 8), QTime(12, 0), Qt::UTC);

    RankingInputs inputs() const { return {relays, limits, quarantine, mismatched, now}; }
    std::vector<Relay> eligible() const { return eligibleRelays(inputs()); }
    std::vector<Relay> recommended() const { return recommendedRelays(inputs()); }
};

std::vector<QString> names(const std::vector<Relay>& relays) {
    std::vector<QString> result;
    for (const Relay& relay : relays) result.push_back(relay.name);
    return result;
}

TEST(QualityLimits, AbsentValuesDefaultAndStoredValuesClampToTheirRanges) {
    const auto defaults = QualityLimits::fromStored({}, {}, {});
    EXPECT_EQ(defaults.maxPingMilliseconds, 250);
    EXPECT_EQ(defaults.minimumSpeedMbps, 10);
    EXPECT_EQ(defaults.maxRelaysPerCountry, 4);
    const auto high = QualityLimits::fromStored(1000, 900, 25);
    EXPECT_EQ(high.maxPingMilliseconds, 500);
    EXPECT_EQ(high.minimumSpeedMbps, 250);
    EXPECT_EQ(high.maxRelaysPerCountry, 10);
    const auto low = QualityLimits::fromStored(20, 2, 0);
    EXPECT_EQ(low.maxPingMilliseconds, 50);
    EXPECT_EQ(low.minimumSpeedMbps, 5);
    EXPECT_EQ(low.maxRelaysPerCountry, 1);
}

TEST(EligibleRelays, PingAndSpeedLimitsAreInclusive) {
    Rankings r;
    r.relays = {
        makeRelay("ping250", "Japan", "JP", 250, 20'000'000), makeRelay("ping251", "Japan", "JP", 251, 20'000'000),
        makeRelay("speed10M", "Japan", "JP", 20, 10'000'000), makeRelay("speedLow", "Japan", "JP", 20, 9'999'999)};
    EXPECT_EQ(names(r.eligible()), (std::vector<QString>{"ping250", "speed10M"}));

    r.limits = QualityLimits::fromStored(1000, 2, {});  // 500 ms and 5 Mbit/s
    EXPECT_EQ(names(r.eligible()), (std::vector<QString>{"ping250", "ping251", "speed10M", "speedLow"}));
}

TEST(EligibleRelays, RelaysWithoutUsableFactsAreNeverEligible) {
    Rankings r;
    r.limits = QualityLimits::fromStored(500, 5, 10);
    Relay noPing = makeRelay("noPing", "Japan", "JP", 10, 50'000'000);
    noPing.pingMilliseconds.reset();
    Relay zeroPing = makeRelay("zeroPing", "Japan", "JP", 0, 50'000'000);
    Relay noSpeed = makeRelay("noSpeed", "Japan", "JP", 10, 0);
    noSpeed.speedBitsPerSecond.reset();
    Relay noOpenVPN = makeRelay("noOpenVPN", "Japan", "JP", 10, 50'000'000);
    noOpenVPN.supportsOpenVPN = false;
    r.relays = {noPing, zeroPing, noSpeed, noOpenVPN};
    EXPECT_TRUE(r.eligible().empty());
}

TEST(EligibleRelays, HiddenUntilTheExactMomentAndMismatchedForTheRun) {
    Rankings r;
    const Relay past = makeRelay("past", "Japan", "JP", 10, 50'000'000);
    const Relay now = makeRelay("now", "Japan", "JP", 10, 50'000'000);
    const Relay future = makeRelay("future", "Japan", "JP", 10, 50'000'000);
    const Relay mismatched = makeRelay("mismatched", "Japan", "JP", 10, 50'000'000);
    r.relays = {past, now, future, mismatched};
    r.quarantine = {{past.id, r.now.addSecs(-1)}, {now.id, r.now}, {future.id, r.now.addSecs(1)}};
    r.mismatched = {mismatched.id};
    EXPECT_EQ(names(r.eligible()), (std::vector<QString>{"past", "now"}));
}

TEST(RecommendedRelays, KeepTheBestPerCountryUpToTheCap) {
    Rankings r;
    for (int i = 1; i <= 7; ++i) {
        // Score rises with i: the four best are 7, 6, 5, 4.
        r.relays.push_back(makeRelay(QString("jp%1").arg(i), "Japan", "JP", 100, i * 20'000'000LL));
    }
    EXPECT_EQ(names(r.recommended()), (std::vector<QString>{"jp7", "jp6", "jp5", "jp4"}));
    r.limits = QualityLimits::fromStored({}, {}, 25);
    EXPECT_EQ(r.recommended().size(), 7u);
    for (int i = 8; i <= 12; ++i) r.relays.push_back(makeRelay(QString("jp%1").arg(i), "Japan", "JP", 100, 20'000'000));
    EXPECT_EQ(r.recommended().size(), 10u);
}

TEST(RecommendedRelays, CodesGroupIgnoringCaseAndCountriesSortIgnoringCase) {
    Rankings r;
    r.limits = QualityLimits::fromStored({}, {}, 2);
    r.relays = {
        makeRelay("jpSlow", "Japan", "JP", 100, 20'000'000), makeRelay("deLower", "germany", "de", 10, 50'000'000),
        makeRelay("jpFast", "Japan", "JP", 10, 90'000'000), makeRelay("deUpper", "germany", "DE", 20, 50'000'000),
        makeRelay("deThird", "germany", "DE", 50, 50'000'000)};
    EXPECT_EQ(names(r.recommended()), (std::vector<QString>{"deLower", "deUpper", "jpFast", "jpSlow"}));

    const auto choices = countryChoices(r.recommended());
    ASSERT_EQ(choices.size(), 2u);
    EXPECT_EQ(choices[0], (CountryChoice{"DE", "germany", 2}));
    EXPECT_EQ(choices[1], (CountryChoice{"JP", "Japan", 2}));
    // Plain text order puts upper case first.
    EXPECT_EQ(countries(r.recommended()), (QStringList{"Japan", "germany"}));
    EXPECT_EQ(bestRelay(r.recommended(), u"jp")->name, "jpFast");
    EXPECT_EQ(bestRelay(r.recommended(), u"De")->name, "deLower");
    EXPECT_FALSE(bestRelay(r.recommended(), u"KR"));
}

TEST(RecommendedRelays, ACountryWhoseRelaysAreAllHiddenDisappears) {
    Rankings r;
    const Relay kr = makeRelay("kr", "Korea Republic of", "KR", 10, 50'000'000);
    r.relays = {kr, makeRelay("jp", "Japan", "JP", 10, 50'000'000)};
    r.quarantine = {{kr.id, r.now.addSecs(60)}};
    const auto choices = countryChoices(r.recommended());
    ASSERT_EQ(choices.size(), 1u);
    EXPECT_EQ(choices[0].code, "JP");
    Rankings empty;
    EXPECT_TRUE(empty.recommended().empty());
    EXPECT_TRUE(countryChoices(empty.recommended()).empty());
}

TEST(ConnectionCandidates, RequestedFirstThenItsCountryInOrderWithoutMarkedOrOthersUpToTheCap) {
    const Relay a = makeRelay("a", "Japan", "JP", 10, 90'000'000), b = makeRelay("b", "Japan", "jp", 20, 90'000'000),
                c = makeRelay("c", "Japan", "JP", 30, 90'000'000), kr = makeRelay("kr", "Korea", "KR", 5, 90'000'000);
    Relay noOpenVPN = makeRelay("x", "Japan", "JP", 1, 90'000'000);
    noOpenVPN.supportsOpenVPN = false;
    const std::vector<Relay> recommended{kr, c, a, noOpenVPN, b};
    const struct {
        Relay requested;
        QSet<QString> marked;
        int cap;
        std::vector<QString> expected;
    } cases[] = {
        {b, {}, 4, {"b", "a", "c"}},
        {a, {}, 2, {"a", "b"}},
        {c, {b.id}, 4, {"c", "a"}},
        {makeRelay("gone", "Japan", "JP", 1, 1), {}, 4, {"a", "b", "c"}},  // not recommended: the country's best
        {kr, {kr.id}, 4, {}},
        {a, {}, 0, {}},
    };
    for (const auto& row : cases) {
        EXPECT_EQ(names(connectionCandidates(recommended, row.requested, row.marked, row.cap)), row.expected)
            << row.requested.name.toStdString();
    }
}

TEST(FavoriteRelays, LiveRecordsWhenListedSnapshotsOtherwise) {
    Rankings r;
    const Relay fast = makeRelay("fast", "Japan", "JP", 10, 90'000'000);
    Relay slow = makeRelay("slow", "Japan", "JP", 400, 1'000'000);
    const Relay gone = makeRelay("gone", "Japan", "JP", 20, 50'000'000);
    r.relays = {fast, slow};
    Relay staleSlow = slow;
    staleSlow.pingMilliseconds = 5;  // the snapshot is older than the live record
    const QHash<QString, Relay> snapshots{{gone.id, gone}, {slow.id, staleSlow}};
    const auto entries = favoriteRelays({fast.id, slow.id, gone.id, "unknown-id"}, snapshots, r.relays, r.eligible());
    ASSERT_EQ(entries.size(), 3u);
    EXPECT_EQ(entries[0].relay, fast);
    EXPECT_TRUE(entries[0].available);
    EXPECT_EQ(entries[1].relay, gone);
    EXPECT_FALSE(entries[1].available);
    EXPECT_EQ(entries[2].relay, slow);  // live data, not the snapshot
    EXPECT_FALSE(entries[2].available);
}

}  // namespace
}  // namespace orlune
