#pragma once

#include <QObject>
#include <QSettings>
#include <QString>
#include <QVariant>

#include <memory>
#include <optional>

namespace orlune {

// Keys of the user's stored preferences.
namespace PreferenceKey {
inline constexpr const char* selectedCountryCode = "selectedCountryCode";
inline constexpr const char* favoriteRelays = "favoriteRelays";
inline constexpr const char* favoriteRelaySnapshots = "favoriteRelaySnapshots";
inline constexpr const char* unavailableRelayUntil = "unavailableRelayUntil";
inline constexpr const char* maxPingMilliseconds = "maxPingMilliseconds";
inline constexpr const char* minimumSpeedMbps = "minimumSpeedMbps";
inline constexpr const char* maxRelaysPerCountry = "maxRelaysPerCountry";
inline constexpr const char* automaticRefreshEnabled = "automaticRefreshEnabled";
inline constexpr const char* refreshIntervalSeconds = "refreshIntervalSeconds";
inline constexpr const char* notificationsEnabled = "notificationsEnabled";
inline constexpr const char* autoReconnectEnabled = "autoReconnectEnabled";
inline constexpr const char* connectOnLaunch = "connectOnLaunch";
inline constexpr const char* appearance = "appearance";
inline constexpr const char* blockOutsideVPN = "blockOutsideVPN";
inline constexpr const char* allowLocalNetwork = "allowLocalNetwork";
inline constexpr const char* blockIPv6 = "blockIPv6";
inline constexpr const char* catalogMirrors = "catalogMirrors";      // one URL a line
inline constexpr const char* catalogProxyMode = "catalogProxyMode";  // system, none, http, socks5
inline constexpr const char* catalogProxyHost = "catalogProxyHost";
inline constexpr const char* catalogProxyPort = "catalogProxyPort";
inline constexpr const char* catalogProxyUser = "catalogProxyUser";    // the password is never stored
inline constexpr const char* measureThroughput = "measureThroughput";  // a short download per tunnel
// Relays that worked recently but left the list are offered with the profile they worked with.
inline constexpr const char* offerRecentlyWorked = "offerRecentlyWorked";
}  // namespace PreferenceKey

// The user's preferences. Every write goes through this one object, which announces it, so the
// model and every screen see a changed limit at once.
class Preferences : public QObject {
    Q_OBJECT

public:
    explicit Preferences(std::unique_ptr<QSettings> settings, QObject* parent = nullptr);
    // The signed-in user's preferences (organisation "Orlune", application "Orlune VPN").
    static std::unique_ptr<Preferences> forUser(QObject* parent = nullptr);

    bool contains(const QString& key) const;
    QVariant value(const QString& key) const;
    // The stored value when present and of the right kind; absent otherwise.
    std::optional<int> intValue(const QString& key) const;
    std::optional<bool> boolValue(const QString& key) const;
    std::optional<QString> stringValue(const QString& key) const;

    // Picks up what another process wrote since (and writes out this one's changes).
    void reload() { settings_->sync(); }

    void setValue(const QString& key, const QVariant& value);
    void remove(const QString& key);

signals:
    void changed(const QString& key);

private:
    std::unique_ptr<QSettings> settings_;
};

}  // namespace orlune
