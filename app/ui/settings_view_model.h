#pragma once

#include <QtQml/qqmlregistration.h>
#include <QStringList>
#include <QVariantList>

#include <optional>
#include <vector>

#include <qcoro/qcorotask.h>

#include "model/relay_rankings.h"
#include "ui/shell_bound.h"

namespace orlune::ui {

// One of the settings' steppers: a stored limit, its range and step.
struct Stepper {
    const char* key;  // the preference
    LimitRange range;
    int defaultValue;
    const char* label;  // "%1" is the value
};
// Minimum provider speed, maximum provider ping, recommended relays per country.
const std::vector<Stepper>& qualitySteppers();
// The value a stepper shows: the stored value moved into its range, or the default.
int stepperValue(const Stepper& stepper, std::optional<int> stored);
// One step up (+1) or down (-1) from `value`, never leaving the range.
int steppedValue(const Stepper& stepper, int value, int direction);

// The refresh-interval choices, in seconds, and the one a stored value shows (the nearest).
struct IntervalChoice {
    int seconds;
    const char* label;
};
const std::vector<IntervalChoice>& refreshIntervalChoices();
int refreshIntervalIndex(std::optional<int> storedSeconds);

// Everything the Settings screen shows and changes. Every change is stored at once.
class SettingsViewModel : public orlune::ui::ShellBound {
    Q_OBJECT
    QML_ELEMENT
    Q_PROPERTY(bool connectOnLaunch READ connectOnLaunch WRITE setConnectOnLaunch NOTIFY changed)
    Q_PROPERTY(bool autoReconnect READ autoReconnect WRITE setAutoReconnect NOTIFY changed)
    Q_PROPERTY(bool notificationsEnabled READ notificationsEnabled WRITE setNotificationsEnabled NOTIFY changed)
    Q_PROPERTY(QString notificationMessage READ notificationMessage NOTIFY changed)
    Q_PROPERTY(bool automaticRefresh READ automaticRefresh WRITE setAutomaticRefresh NOTIFY changed)
    Q_PROPERTY(QStringList refreshIntervalLabels READ refreshIntervalLabels CONSTANT)
    Q_PROPERTY(int refreshIntervalIndex READ refreshIntervalIndex WRITE setRefreshIntervalIndex NOTIFY changed)
    Q_PROPERTY(bool refreshIntervalEnabled READ automaticRefresh NOTIFY changed)
    Q_PROPERTY(QVariantList steppers READ steppers NOTIFY changed)
    // The steppers' keys, fixed: the screen's rows stay in place while their values change.
    Q_PROPERTY(QStringList stepperKeys READ stepperKeys CONSTANT)
    Q_PROPERTY(QStringList appearanceOptions READ appearanceOptions CONSTANT)
    Q_PROPERTY(int appearanceIndex READ appearanceIndex WRITE setAppearanceIndex NOTIFY changed)
    Q_PROPERTY(bool blockOutsideVPN READ blockOutsideVPN WRITE setBlockOutsideVPN NOTIFY changed)
    // Only meaningful while traffic outside the VPN is blocked.
    Q_PROPERTY(bool allowLocalNetwork READ allowLocalNetwork WRITE setAllowLocalNetwork NOTIFY changed)
    Q_PROPERTY(bool allowLocalNetworkEnabled READ blockOutsideVPN NOTIFY changed)
    Q_PROPERTY(bool blockIPv6 READ blockIPv6 WRITE setBlockIPv6 NOTIFY changed)
    Q_PROPERTY(bool measureThroughput READ measureThroughput WRITE setMeasureThroughput NOTIFY changed)
    Q_PROPERTY(bool offerRecentlyWorked READ offerRecentlyWorked WRITE setOfferRecentlyWorked NOTIFY changed)
    Q_PROPERTY(QVariantList vpnRows READ vpnRows NOTIFY changed)
    Q_PROPERTY(QStringList vpnNotes READ vpnNotes NOTIFY changed)
    Q_PROPERTY(QString connectOnLaunchNote READ connectOnLaunchNote CONSTANT)
    Q_PROPERTY(QString autoReconnectNote READ autoReconnectNote CONSTANT)
    Q_PROPERTY(QString serverQualityNote READ serverQualityNote CONSTANT)
    Q_PROPERTY(QString privacyText READ privacyText NOTIFY changed)

public:
    explicit SettingsViewModel(QObject* parent = nullptr);
    ~SettingsViewModel() override;

    bool connectOnLaunch() const;
    bool autoReconnect() const;
    bool notificationsEnabled() const;
    QString notificationMessage() const { return notificationMessage_.value_or(QString()); }
    bool automaticRefresh() const;
    bool blockOutsideVPN() const;
    bool allowLocalNetwork() const;
    bool blockIPv6() const;
    bool measureThroughput() const;
    bool offerRecentlyWorked() const;
    QStringList refreshIntervalLabels() const;
    int refreshIntervalIndex() const;
    QVariantList steppers() const;
    QStringList stepperKeys() const;
    QStringList appearanceOptions() const;
    int appearanceIndex() const;
    QVariantList vpnRows() const;
    QStringList vpnNotes() const;
    QString connectOnLaunchNote() const;
    QString autoReconnectNote() const;
    QString serverQualityNote() const;
    QString privacyText() const;
    // The tunnel backend's row: "OpenVPN " and the version the service reported.
    QString engineText() const;

    void setConnectOnLaunch(bool on);
    void setAutoReconnect(bool on);
    // On: stored at once, then the desktop is asked; a refusal or a failure turns it off again.
    void setNotificationsEnabled(bool on);
    void setAutomaticRefresh(bool on);
    // Stored at once; they take effect at the next connect.
    void setBlockOutsideVPN(bool on);
    void setAllowLocalNetwork(bool on);
    void setBlockIPv6(bool on);
    // Applies from the next verified tunnel.
    void setMeasureThroughput(bool on);
    void setOfferRecentlyWorked(bool on);
    void setRefreshIntervalIndex(int index);
    void setAppearanceIndex(int index);
    Q_INVOKABLE void step(const QString& key, int direction);

    // The permission request behind switching notifications on, awaitable by tests.
    QCoro::Task<> requestNotificationPermission();
    // Asks the service for the engine's version; the screen does it when it is made.
    QCoro::Task<> readEngineVersion();

protected:
    void attach(Shell& shell) override;

private:
    bool flag(const char* key, bool fallback) const;
    void setFlag(const char* key, bool on);

    std::optional<QString> notificationMessage_;
    enum class EngineVersion { pending, known, unavailable } engineState_ = EngineVersion::pending;
    QString engineVersion_;
};

}  // namespace orlune::ui
