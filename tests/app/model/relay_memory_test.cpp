#include "model/relay_memory.h"

#include <QJsonDocument>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include "control/wire_failure.h"
#include "core/cancellation_error.h"
#include "core/tunnel_error.h"
#include "model_fakes.h"

namespace orlune {
namespace {

class RelayMemory : public ::testing::Test {
protected:
    std::unique_ptr<Preferences> open() {
        return std::make_unique<Preferences>(
            std::make_unique<QSettings>(directory.filePath("preferences.ini"), QSettings::IniFormat));
    }
    QTemporaryDir directory;
    const QDateTime now = QDateTime(QDate(2026, 12, 8), QTime(12, 0), Qt::UTC);
};

TEST_F(RelayMemory, QuarantineRoundTripsThroughTheStoredFormAndDropsEndedEntries) {
    {
        auto preferences = open();
        writeQuarantine(*preferences, {{"a-198.51.100.1", now.addSecs(600)}, {"b-198.51.100.2", now.addSecs(-1)}});
    }
    auto preferences = open();
    const auto stored = preferences->value(PreferenceKey::unavailableRelayUntil).toMap();
    EXPECT_DOUBLE_EQ(stored.value("a-198.51.100.1").toDouble(), double(now.toSecsSinceEpoch() + 600));
    const auto loaded = readQuarantine(*preferences, now);
    EXPECT_EQ(loaded.size(), 1);
    EXPECT_EQ(loaded.value("a-198.51.100.1"), now.addSecs(600));
    // Reading does not rewrite: the ended entry stays stored until the next write.
    EXPECT_EQ(preferences->value(PreferenceKey::unavailableRelayUntil).toMap().size(), 2);
}

TEST_F(RelayMemory, StoredValuesOfTheWrongShapeReadAsEmpty) {
    auto preferences = open();
    preferences->setValue(PreferenceKey::unavailableRelayUntil, QVariantMap{{"a", "tomorrow"}});
    EXPECT_TRUE(readQuarantine(*preferences, now).isEmpty());
    preferences->setValue(PreferenceKey::unavailableRelayUntil, QStringLiteral("garbage"));
    EXPECT_TRUE(readQuarantine(*preferences, now).isEmpty());

    preferences->setValue(PreferenceKey::favoriteRelaySnapshots, QByteArray("{not json"));
    EXPECT_TRUE(readFavoriteSnapshots(*preferences).isEmpty());
    EXPECT_EQ(preferences->value(PreferenceKey::favoriteRelaySnapshots).toByteArray(), "{not json");
    preferences->setValue(PreferenceKey::favoriteRelaySnapshots, QByteArray(R"([{"id":1}])"));
    EXPECT_TRUE(readFavoriteSnapshots(*preferences).isEmpty());
}

TEST_F(RelayMemory, FavouritesAndSnapshotsRoundTripWithTheLaterDuplicateWinning) {
    const Relay first = test::makeRelay("vpn1", "Japan", "JP", 10, 50'000'000, "198.51.100.11");
    Relay updated = first;
    updated.pingMilliseconds = 99;
    {
        auto preferences = open();
        writeFavorites(*preferences, {first.id, "other-198.51.100.12"});
        writeFavoriteSnapshots(*preferences, {{first.id, first}});
        // Two records with the same id, the later one newer.
        const QByteArray twice = "[" + QJsonDocument(first.toJson()).toJson(QJsonDocument::Compact) + "," +
                                 QJsonDocument(updated.toJson()).toJson(QJsonDocument::Compact) + "]";
        preferences->setValue(PreferenceKey::favoriteRelaySnapshots, twice);
    }
    auto preferences = open();
    EXPECT_EQ(readFavorites(*preferences), (QSet<QString>{first.id, "other-198.51.100.12"}));
    const auto snapshots = readFavoriteSnapshots(*preferences);
    ASSERT_EQ(snapshots.size(), 1);
    EXPECT_EQ(snapshots.value(first.id), updated);
}

TEST(ShouldQuarantine, FailuresOfThisComputerOrTheServiceDoNotHideTheRelay) {
    using Kind = TunnelError::Kind;
    const Kind spared[] = {Kind::noInternet,
                           Kind::originalIPUnavailable,
                           Kind::backendUnavailable,
                           Kind::physicalRouteNotRestored,
                           Kind::internetUnverifiedAfterDisconnect,
                           Kind::exitCountryUnavailable,
                           Kind::disconnectNotConfirmed};
    for (Kind kind : spared) EXPECT_FALSE(shouldQuarantine(std::make_exception_ptr(TunnelError(kind))));
    EXPECT_FALSE(shouldQuarantine(std::make_exception_ptr(TunnelError::backendCommandFailed("refused"))));
    EXPECT_FALSE(shouldQuarantine(std::make_exception_ptr(CancellationError())));

    const Kind hidden[] = {Kind::noCompatibleServer,
                           Kind::providerDidNotVerify,
                           Kind::serverConfigurationUnavailable,
                           Kind::serverMissingFromFreshCatalog,
                           Kind::serverProfileInvalid,
                           Kind::unsafeServerConfiguration,
                           Kind::tunnelRouteUnverified,
                           Kind::publicIPDidNotChange,
                           Kind::vpnIPUnavailable};
    for (Kind kind : hidden) EXPECT_TRUE(shouldQuarantine(std::make_exception_ptr(TunnelError(kind))));
    EXPECT_TRUE(shouldQuarantine(std::make_exception_ptr(TunnelError::countryMismatch("JP", "KR"))));
    EXPECT_TRUE(shouldQuarantine(std::make_exception_ptr(TunnelError::serverConnectionFailed("x"))));
    // The service not answering, or any other local fault, is not the relay's.
    EXPECT_FALSE(shouldQuarantine(std::make_exception_ptr(WireFailure::invalid())));
    EXPECT_FALSE(shouldQuarantine(std::make_exception_ptr(std::runtime_error("transport"))));
}

}  // namespace
}  // namespace orlune
