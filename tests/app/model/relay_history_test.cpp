#include "model/relay_history.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <map>
#include <random>
#include <set>

#include "model_fakes.h"

namespace orlune {
namespace {

const QDateTime kStart = QDateTime(QDate(2026, 12, 8), QTime(12, 0), Qt::UTC);

Relay relayNumber(int n) {
    return test::makeRelay(QStringLiteral("vpn%1").arg(n), "Japan", "JP", 10, 50'000'000,
                           QStringLiteral("198.51.100.%1").arg(n % 250));
}

// Two processes change the one file in turns, each from its own stale view: every attempt either
// made survives (within the bounds), the later figure wins, and both end with the same history.
TEST(RelayHistoryStore, TwoWritersMergeWithinTheBounds) {
    QTemporaryDir directory;
    const QString path = directory.filePath("data/orlune-vpn/relay-history.json");
    RelayHistoryStore one(path);
    RelayHistoryStore other(path);
    std::mt19937 random(25);
    std::map<QString, std::set<qint64>> made;  // relay id → attempt times
    std::map<QString, qint64> lastRtt;
    std::map<qint64, std::pair<QString, QString>> profiles;  // time → relay id, profile
    int light = 5;
    qint64 tick = 0;
    for (int step = 0; step < 100; ++step) {
        RelayHistoryStore& writer = random() % 2 ? one : other;
        // Each change tries one of a few relays and three new ones, so both bounds are reached.
        std::vector<std::pair<Relay, QDateTime>> tries{{relayNumber(int(random() % 5)), kStart.addSecs(++tick)}};
        for (int i = 0; i < 3; ++i) tries.push_back({relayNumber(light++), kStart.addSecs(++tick)});
        const bool measure = random() % 3 == 0;
        // A verified tunnel's profile, a few kilobytes like a real one.
        const QString profile = QStringLiteral("client\nremote %1 1194\n").arg(step) + QString(6000, u'x');
        const bool keepProfile = random() % 2 == 0;
        const auto problem = writer.update([&](RelayHistory& history) {
            for (const auto& [relay, at] : tries) recordAttempt(history, relay, at, random() % 2 == 0);
            if (measure) recordMeasurement(history, tries.front().first, tries.front().second, step, std::nullopt);
            if (keepProfile) recordProfile(history, tries.front().first, tries.front().second, profile);
        });
        ASSERT_FALSE(problem) << problem->toStdString();
        for (const auto& [relay, at] : tries) made[relay.id].insert(at.toMSecsSinceEpoch());
        if (measure) lastRtt[tries.front().first.id] = step;
        if (keepProfile) profiles[tries.front().second.toMSecsSinceEpoch()] = {tries.front().first.id, profile};
    }
    ASSERT_FALSE(one.reload());
    ASSERT_FALSE(other.reload());
    EXPECT_EQ(one.history(), other.history());

    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const RelayHistory stored = historyFromJson(file.readAll());
    EXPECT_EQ(stored, one.history());
    EXPECT_LE(file.size(), kHistoryMaxFileBytes);
    EXPECT_EQ(stored.size(), kHistoryMaxRelays);
    EXPECT_EQ(file.permissions() & (QFileDevice::ReadOther | QFileDevice::ReadGroup), 0);
    for (auto entry = stored.constBegin(); entry != stored.constEnd(); ++entry) {
        const auto& all = made.at(entry.key());
        const auto& kept = entry.value().attempts;
        ASSERT_EQ(kept.size(), std::min<std::size_t>(all.size(), kHistoryMaxAttempts));
        // The newest attempts are the ones kept.
        EXPECT_EQ(kept.back().at.toMSecsSinceEpoch(), *all.rbegin());
        if (lastRtt.count(entry.key())) {
            EXPECT_EQ(entry.value().rttMilliseconds, lastRtt.at(entry.key()));
        }
    }
    EXPECT_EQ(mergeHistories(stored, stored), stored);

    // The newest profiles are kept, one per relay (its latest), and no more than the bound.
    std::map<QString, QString> newest;
    for (auto it = profiles.rbegin(); it != profiles.rend(); ++it) {
        if (newest.size() < std::size_t(kHistoryMaxProfiles) && stored.contains(it->second.first)) {
            newest.try_emplace(it->second.first, it->second.second);
        }
    }
    std::map<QString, QString> kept;
    for (auto entry = stored.constBegin(); entry != stored.constEnd(); ++entry) {
        if (!entry.value().profile.isEmpty()) kept[entry.key()] = entry.value().profile;
    }
    EXPECT_LE(kept.size(), std::size_t(kHistoryMaxProfiles));
    for (const auto& [id, profile] : kept) {
        ASSERT_TRUE(newest.count(id)) << id.toStdString();
        EXPECT_EQ(profile, newest.at(id));
    }
}

// Offered: a kept profile, a success within the window, and not in the current list.
TEST(RelayHistory, RecentlyWorkedAreTheKeptProfilesOfRelaysThatLeftTheList) {
    const QDateTime now = kStart.addDays(10);
    RelayHistory history;
    const auto add = [&](int n, qint64 secondsAgo, bool worked, bool profile) {
        recordAttempt(history, relayNumber(n), now.addSecs(-secondsAgo), worked);
        if (profile) recordProfile(history, relayNumber(n), now.addSecs(-secondsAgo), QStringLiteral("client\n"));
    };
    add(1, 3600, true, true);           // offered
    add(2, 60, true, true);             // offered first: the newer success
    add(3, 3600, true, true);           // still listed
    add(4, 8 * 24 * 3600, true, true);  // too long ago
    add(5, 60, false, false);           // never worked
    add(6, 120, true, false);           // no profile kept
    add(7, -3600, true, true);          // a success dated in the future: a clock that was wrong
    recordProfile(history, relayNumber(8), now, QString(kHistoryMaxProfileBytes + 1, u'x'));  // too large: not kept
    add(8, 60, true, false);
    std::vector<QString> ids;
    for (const RelayRecord& record : recentlyWorked(history, {relayNumber(3).id}, now, std::chrono::hours(24 * 7))) {
        ids.push_back(record.relay.id);
    }
    EXPECT_EQ(ids, (std::vector<QString>{relayNumber(2).id, relayNumber(1).id}));
    EXPECT_EQ(historyFromJson(historyToJson(history)), history);
}

TEST(RelayHistoryStore, AnUnusableFileIsSetAsideWithAMessageAndANewHistoryBegins) {
    const struct {
        const char* name;
        QByteArray content;
    } cases[] = {
        {"not JSON", "{\"version\": 1, \"relays\": "},
        {"another version", R"({"version": 9, "relays": {}})"},
        {"a malformed record", R"({"version": 1, "relays": {"a": {"relay": {"id": "a"}, "attempts": []}}})"},
        {"too large", QByteArray(kHistoryMaxFileBytes + 1, ' ')},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        QTemporaryDir directory;
        const QString path = directory.filePath("relay-history.json");
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(c.content);
        file.close();

        RelayHistoryStore store(path);
        const auto problem = store.update([](RelayHistory& h) { recordAttempt(h, relayNumber(1), kStart, true); });
        ASSERT_TRUE(problem);
        EXPECT_TRUE(problem->contains(u"kept as")) << problem->toStdString();
        const QStringList aside = QDir(directory.path()).entryList({"relay-history.json.unreadable-*"});
        ASSERT_EQ(aside.size(), 1);
        QFile kept(directory.filePath(aside.front()));
        ASSERT_TRUE(kept.open(QIODevice::ReadOnly));
        EXPECT_EQ(kept.readAll(), c.content);
        // The new history is stored and reads back.
        RelayHistoryStore again(path);
        EXPECT_FALSE(again.reload());
        EXPECT_EQ(again.history().value(relayNumber(1).id).workedCount(), 1);
    }
}

// "Measured" ranks by what worked for this user; relays never tried keep the given order after them.
TEST(RelayHistory, MeasuredOrderAndTheQuietLine) {
    const Relay fast = relayNumber(1), slow = relayNumber(2), failing = relayNumber(3), untried = relayNumber(4),
                rttOnly = relayNumber(5);
    RelayHistory history;
    recordAttempt(history, fast, kStart, true);
    recordMeasurement(history, fast, kStart, 220, 12'300'000);
    recordAttempt(history, slow, kStart, true);
    recordMeasurement(history, slow, kStart, 180, 4'000'000);
    recordAttempt(history, failing, kStart.addSecs(60), false);
    recordAttempt(history, rttOnly, kStart.addSecs(-7'200), true);
    recordAttempt(history, rttOnly, kStart.addSecs(-60), false);
    recordMeasurement(history, rttOnly, kStart, 90, std::nullopt);
    const auto ranked = measuredOrder({untried, failing, slow, rttOnly, fast}, history);
    QStringList names;
    for (const Relay& relay : ranked) names.append(relay.name);
    EXPECT_EQ(names, (QStringList{"vpn1", "vpn2", "vpn5", "vpn3", "vpn4"}));

    const QDateTime now = kStart.addSecs(2 * 3'600);
    EXPECT_EQ(historyLine(history.value(fast.id), now), "worked 2 hours ago · 12.3 Mbps measured");
    EXPECT_EQ(historyLine(history.value(failing.id), now), "failed 1 hour ago");
    EXPECT_EQ(historyLine(history.value(rttOnly.id), now), "worked 4 hours ago · 90 ms measured · failed since");
    EXPECT_EQ(measuredFigures(42, 12'300'000, 180'000'000), "42 ms, 12.3 Mbps — provider says 180.0 Mbps");
    EXPECT_EQ(measuredFigures(42, std::nullopt, 180'000'000), "42 ms");
    EXPECT_FALSE(measuredFigures(std::nullopt, std::nullopt, 180'000'000));
}

}  // namespace
}  // namespace orlune
