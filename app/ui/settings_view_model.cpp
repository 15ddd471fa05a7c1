#include "ui/settings_view_model.h"

#include <QPointer>
#include <QVariantMap>

#include <algorithm>
#include <cstdlib>

#include "model/app_model.h"
#include "model/detached_task.h"
#include "model/preferences.h"
#include "network/endpoints.h"
#include "platform/notification_permission.h"
#include "texts/platform_texts.h"
#include "ui/presentation.h"

namespace orlune::ui {
namespace {

const QStringList kAppearances{QStringLiteral("System"), QStringLiteral("Dark"), QStringLiteral("Light")};

// "a", "a and b", "a, b and c".
QString spokenList(const QStringList& items) {
    if (items.size() <= 1) return items.value(0);
    return items.mid(0, items.size() - 1).join(QStringLiteral(", ")) + QStringLiteral(" and ") + items.last();
}

}  // namespace

const std::vector<Stepper>& qualitySteppers() {
    static const std::vector<Stepper> steppers{
        {PreferenceKey::minimumSpeedMbps, QualityLimits::kSpeedRange, QualityLimits::kDefaultMinimumSpeedMbps,
         "Minimum provider speed: %1 Mbps"},
        {PreferenceKey::maxPingMilliseconds, QualityLimits::kPingRange, QualityLimits::kDefaultMaxPingMilliseconds,
         "Maximum provider ping: %1 ms"},
        {PreferenceKey::maxRelaysPerCountry, QualityLimits::kPerCountryRange,
         QualityLimits::kDefaultMaxRelaysPerCountry, "Recommended relays per country: %1"},
    };
    return steppers;
}

int stepperValue(const Stepper& stepper, std::optional<int> stored) {
    return stepper.range.storedOr(stored, stepper.defaultValue);
}

int steppedValue(const Stepper& stepper, int value, int direction) {
    const int step = direction > 0 ? stepper.range.step : direction < 0 ? -stepper.range.step : 0;
    return stepper.range.clamped(stepper.range.clamped(value) + step);
}

const std::vector<IntervalChoice>& refreshIntervalChoices() {
    static const std::vector<IntervalChoice> choices{
        {300, "5 minutes"}, {900, "15 minutes"}, {1800, "30 minutes"}, {3600, "1 hour"}};
    return choices;
}

int refreshIntervalIndex(std::optional<int> storedSeconds) {
    const auto& choices = refreshIntervalChoices();
    const int seconds = storedSeconds.value_or(choices.front().seconds);
    int best = 0;
    for (int i = 1; i < int(choices.size()); ++i) {
        if (std::llabs(static_cast<long long>(choices[i].seconds) - seconds) <
            std::llabs(static_cast<long long>(choices[best].seconds) - seconds)) {
            best = i;
        }
    }
    return best;
}

SettingsViewModel::SettingsViewModel(QObject* parent) : ShellBound(parent) {}
SettingsViewModel::~SettingsViewModel() = default;

void SettingsViewModel::attach(Shell& shell) {
    connect(&shell.preferences(), &Preferences::changed, this, &SettingsViewModel::changed);
    engineState_ = EngineVersion::pending;
    detach(readEngineVersion());
}

bool SettingsViewModel::flag(const char* key, bool fallback) const {
    return ready() ? shell()->preferences().boolValue(QString::fromLatin1(key)).value_or(fallback) : fallback;
}

void SettingsViewModel::setFlag(const char* key, bool on) {
    if (ready()) shell()->preferences().setValue(QString::fromLatin1(key), on);
}

bool SettingsViewModel::connectOnLaunch() const {
    return flag(PreferenceKey::connectOnLaunch, false);
}
bool SettingsViewModel::autoReconnect() const {
    return flag(PreferenceKey::autoReconnectEnabled, true);
}
bool SettingsViewModel::notificationsEnabled() const {
    return flag(PreferenceKey::notificationsEnabled, false);
}
bool SettingsViewModel::automaticRefresh() const {
    return flag(PreferenceKey::automaticRefreshEnabled, true);
}

void SettingsViewModel::setConnectOnLaunch(bool on) {
    setFlag(PreferenceKey::connectOnLaunch, on);
}
void SettingsViewModel::setAutoReconnect(bool on) {
    setFlag(PreferenceKey::autoReconnectEnabled, on);
}
void SettingsViewModel::setAutomaticRefresh(bool on) {
    setFlag(PreferenceKey::automaticRefreshEnabled, on);
}

bool SettingsViewModel::blockOutsideVPN() const {
    return flag(PreferenceKey::blockOutsideVPN, false);
}
bool SettingsViewModel::allowLocalNetwork() const {
    return flag(PreferenceKey::allowLocalNetwork, true);
}
bool SettingsViewModel::blockIPv6() const {
    return flag(PreferenceKey::blockIPv6, false);
}
void SettingsViewModel::setBlockOutsideVPN(bool on) {
    setFlag(PreferenceKey::blockOutsideVPN, on);
}
void SettingsViewModel::setAllowLocalNetwork(bool on) {
    setFlag(PreferenceKey::allowLocalNetwork, on);
}
void SettingsViewModel::setBlockIPv6(bool on) {
    setFlag(PreferenceKey::blockIPv6, on);
}
bool SettingsViewModel::measureThroughput() const {
    return flag(PreferenceKey::measureThroughput, false);
}
void SettingsViewModel::setMeasureThroughput(bool on) {
    setFlag(PreferenceKey::measureThroughput, on);
}

bool SettingsViewModel::offerRecentlyWorked() const {
    return flag(PreferenceKey::offerRecentlyWorked, false);
}
void SettingsViewModel::setOfferRecentlyWorked(bool on) {
    setFlag(PreferenceKey::offerRecentlyWorked, on);
}

void SettingsViewModel::setNotificationsEnabled(bool on) {
    if (!ready()) return;
    setFlag(PreferenceKey::notificationsEnabled, on);
    if (!on) {
        shell()->supersedeNotificationRequest();  // an answer still on its way no longer counts
        notificationMessage_.reset();
        emit changed();
        return;
    }
    detach(requestNotificationPermission());
}

QCoro::Task<> SettingsViewModel::requestNotificationPermission() {
    if (!ready()) co_return;
    QPointer<Shell> shell = this->shell();
    QPointer<SettingsViewModel> self(this);
    const quint64 request = shell->beginNotificationRequest();
    std::shared_ptr<NotificationPermission> permission = shell->services().notificationPermission;
    NotificationAuthorization answer =
        NotificationAuthorization::failed(QStringLiteral("no notification service is available."));
    if (permission) answer = co_await permission->request();
    // The user switched the setting again meanwhile. A refusal still turns the setting off when
    // the screen has gone; only its message goes with the screen.
    if (!shell || !shell->isNewestNotificationRequest(request)) co_return;
    std::optional<QString> message;
    switch (answer.result) {
    case NotificationAuthorization::Result::granted:
        break;
    case NotificationAuthorization::Result::denied:
        shell->preferences().setValue(QString::fromLatin1(PreferenceKey::notificationsEnabled), false);
        message = platformText(kPlatformTexts.notificationsNotAllowed);
        break;
    case NotificationAuthorization::Result::failed:
        shell->preferences().setValue(QString::fromLatin1(PreferenceKey::notificationsEnabled), false);
        message = QStringLiteral("Could not enable notifications: ") + answer.errorDescription;
        break;
    }
    if (!self) co_return;
    notificationMessage_ = message;
    emit changed();
}

QStringList SettingsViewModel::refreshIntervalLabels() const {
    QStringList labels;
    for (const IntervalChoice& choice : refreshIntervalChoices()) labels << QString::fromUtf8(choice.label);
    return labels;
}

int SettingsViewModel::refreshIntervalIndex() const {
    if (!ready()) return 0;
    return ui::refreshIntervalIndex(
        shell()->preferences().intValue(QString::fromLatin1(PreferenceKey::refreshIntervalSeconds)));
}

void SettingsViewModel::setRefreshIntervalIndex(int index) {
    const auto& choices = refreshIntervalChoices();
    if (!ready() || index < 0 || index >= int(choices.size())) return;
    shell()->preferences().setValue(QString::fromLatin1(PreferenceKey::refreshIntervalSeconds),
                                    choices[std::size_t(index)].seconds);
}

QVariantList SettingsViewModel::steppers() const {
    QVariantList list;
    for (const Stepper& stepper : qualitySteppers()) {
        const int value = stepperValue(
            stepper, ready() ? shell()->preferences().intValue(QString::fromLatin1(stepper.key)) : std::nullopt);
        list.append(QVariantMap{
            {QStringLiteral("key"), QString::fromLatin1(stepper.key)},
            {QStringLiteral("label"), QString::fromUtf8(stepper.label).arg(value)},
            {QStringLiteral("value"), value},
            {QStringLiteral("canDecrease"), value > stepper.range.minimum},
            {QStringLiteral("canIncrease"), value < stepper.range.maximum},
        });
    }
    return list;
}

QStringList SettingsViewModel::stepperKeys() const {
    QStringList keys;
    for (const Stepper& stepper : qualitySteppers()) keys << QString::fromLatin1(stepper.key);
    return keys;
}

void SettingsViewModel::step(const QString& key, int direction) {
    if (!ready()) return;
    for (const Stepper& stepper : qualitySteppers()) {
        if (key != QLatin1String(stepper.key)) continue;
        Preferences& preferences = shell()->preferences();
        const int current = stepperValue(stepper, preferences.intValue(key));
        preferences.setValue(key, steppedValue(stepper, current, direction));
        return;
    }
}

QStringList SettingsViewModel::appearanceOptions() const {
    return kAppearances;
}

int SettingsViewModel::appearanceIndex() const {
    if (!ready()) return 0;
    const auto stored = shell()->preferences().stringValue(QString::fromLatin1(PreferenceKey::appearance));
    return std::max<int>(0, int(kAppearances.indexOf(stored.value_or(kAppearances.front()))));
}

void SettingsViewModel::setAppearanceIndex(int index) {
    if (!ready() || index < 0 || index >= kAppearances.size()) return;
    shell()->preferences().setValue(QString::fromLatin1(PreferenceKey::appearance), kAppearances[index]);
}

QCoro::Task<> SettingsViewModel::readEngineVersion() {
    if (!ready()) co_return;
    QPointer<SettingsViewModel> self(this);
    QPointer<Shell> shell = this->shell();
    const std::optional<QString> version = co_await shell->model().serviceEngineVersion();
    if (!self) co_return;
    engineState_ = version ? EngineVersion::known : EngineVersion::unavailable;
    engineVersion_ = version.value_or(QString());
    emit changed();
}

QString SettingsViewModel::engineText() const {
    QString prefix = platformText(kPlatformTexts.engineLabelPrefix).trimmed();
    switch (engineState_) {
    case EngineVersion::known:
        return platformText(kPlatformTexts.engineLabelPrefix) + engineVersion_;
    case EngineVersion::unavailable:
        return prefix + QStringLiteral(" (version unknown: the VPN service did not answer)");
    case EngineVersion::pending:
        break;
    }
    return prefix;
}

QVariantList SettingsViewModel::vpnRows() const {
    auto row = [](const QString& label, const QString& value) {
        return QVariantMap{{QStringLiteral("label"), label}, {QStringLiteral("value"), value}};
    };
    return {row(QStringLiteral("Protocol"), QStringLiteral("OpenVPN · VPN Gate compatible profiles")),
            row(QStringLiteral("Tunnel backend"), engineText()),
            row(QStringLiteral("DNS while connected"), QStringLiteral("1.1.1.1 and 8.8.8.8"))};
}

QString SettingsViewModel::connectOnLaunchNote() const {
    return QStringLiteral(
        "When enabled, the app tries the last selected country’s best live relay after refreshing the "
        "catalog. A real verified tunnel is still required before Connected appears.");
}

QString SettingsViewModel::autoReconnectNote() const {
    return QStringLiteral(
        "If the network drops during a verified connection, Orlune VPN stops the old tunnel and "
        "retries the selected country after the network returns. It never changes countries "
        "automatically.");
}

QString SettingsViewModel::serverQualityNote() const {
    return QStringLiteral(
        "These limits use provider-reported catalog values and affect the server list and "
        "same-country failover. They are not live speed-test results.");
}

QStringList SettingsViewModel::vpnNotes() const {
    // Either block keeps IPv6 from leaving while connected (the Home notice says the same).
    const QString ipv6 = blockOutsideVPN() || blockIPv6()
                             ? QStringLiteral("IPv6 is blocked while connected, so it cannot bypass this IPv4 VPN.")
                             : QStringLiteral(
                                   "IPv6 stays available so mobile hotspots keep working; IPv6 traffic "
                                   "may bypass this IPv4 VPN.");
    return {QStringLiteral("Your previous DNS setting is restored when the VPN stops. ") + ipv6,
            platformText(kPlatformTexts.installationNote)};
}

QString SettingsViewModel::privacyText() const {
    // Every public-IP endpoint in use, in the order the lookup starts them.
    const Endpoints endpoints = Endpoints::current();
    QStringList hosts;
    for (const QUrl& url :
         {endpoints.traceEcho, endpoints.plainEchoes[0], endpoints.plainEchoes[1], endpoints.plainEchoes[2]}) {
        if (!url.host().isEmpty() && !hosts.contains(url.host())) hosts << url.host();
    }
    return QStringLiteral(
               "Orlune VPN does not record browsing history, website contents, or traffic payloads. "
               "The public IP check contacts ") +
           spokenList(hosts) +
           QStringLiteral(
               ". VPN Gate and each independent relay operator have separate logging practices; "
               "review their current notices before using any future tunnel integration.");
}

}  // namespace orlune::ui
