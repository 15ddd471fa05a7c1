// The Settings screen over a model of fakes: the steppers and stored values, the interval
// picker, the notification permission answers, launch at login and its messages.
#include <gtest/gtest.h>

#include "model/preferences.h"
#include "model_fakes.h"
#include "network/endpoints.h"
#include "platform/login_items.h"
#include "platform/notification_permission.h"
#include "support/await.h"
#include "support/local_endpoints.h"
#include "ui/launch_at_login_controller.h"
#include "ui/notification_sink.h"
#include "ui/settings_view_model.h"
#include "ui/shell.h"

namespace orlune::ui {
namespace {

using test::await;

struct NoSink final : NotificationSink {
    void post(const QString&, const QString&) override {}
};

// What the desktop answers, shared by the test and every login-item object it hands out.
struct LoginDesktop {
    LoginItemStatus status = LoginItemStatus::notRegistered;
    LoginItemStatus statusAfterRegistering = LoginItemStatus::enabled;
    std::optional<QString> failure;
    std::vector<bool> calls;
    int settingsOpened = 0;
};

struct FakeLoginItems final : LoginItems {
    LoginDesktop* desktop;
    explicit FakeLoginItems(LoginDesktop* d) : desktop(d) {}
    LoginItemStatus status() const override { return desktop->status; }
    std::optional<QString> setRegistered(bool registered) override {
        desktop->calls.push_back(registered);
        if (desktop->failure) return desktop->failure;
        desktop->status = registered ? desktop->statusAfterRegistering : LoginItemStatus::notRegistered;
        return std::nullopt;
    }
    void openSettings() override { ++desktop->settingsOpened; }
};

struct FakePermission final : NotificationPermission {
    NotificationAuthorization answer = NotificationAuthorization::granted();
    test::Gate* gate = nullptr;
    int requests = 0;
    QCoro::Task<NotificationAuthorization> request() override {
        ++requests;
        if (gate) co_await gate->wait();
        NotificationAuthorization result = answer;
        co_return result;
    }
};

class SettingsTest : public ::testing::Test {
protected:
    SettingsTest() {
        shell = std::make_unique<Shell>(fixture.model(), fixture.preferences(), std::make_unique<NoSink>(),
                                        [this] { return fixture.clock->current; });
        DesktopServices services;
        services.loginItems = [this] { return std::make_unique<FakeLoginItems>(&desktop); };
        services.notificationPermission = permission;
        shell->setServices(std::move(services));
    }
    // A settings screen as the page makes it, with the engine version read.
    std::unique_ptr<SettingsViewModel> openSettings() {
        auto settings = std::make_unique<SettingsViewModel>();
        settings->setShell(shell.get());
        await(settings->readEngineVersion());
        return settings;
    }
    Preferences& preferences() { return fixture.preferences(); }
    QVariantMap stepper(const SettingsViewModel& settings, const char* key) {
        for (const QVariant& entry : settings.steppers()) {
            if (entry.toMap().value("key").toString() == QLatin1String(key)) return entry.toMap();
        }
        return {};
    }

    test::ModelFixture fixture;
    LoginDesktop desktop;
    std::shared_ptr<FakePermission> permission = std::make_shared<FakePermission>();
    std::unique_ptr<Shell> shell;
};

TEST(SettingsRules, SteppersMoveInTheirStepsAndStopAtTheirBounds) {
    struct Expectation {
        const char* key;
        int minimum, maximum, step, fallback;
    };
    const Expectation expected[] = {{PreferenceKey::minimumSpeedMbps, 5, 250, 5, 10},
                                    {PreferenceKey::maxPingMilliseconds, 50, 500, 25, 250},
                                    {PreferenceKey::maxRelaysPerCountry, 1, 10, 1, 4}};
    ASSERT_EQ(qualitySteppers().size(), std::size(expected));
    for (std::size_t i = 0; i < std::size(expected); ++i) {
        const Stepper& stepper = qualitySteppers()[i];
        const Expectation& e = expected[i];
        SCOPED_TRACE(e.key);
        EXPECT_STREQ(stepper.key, e.key);
        EXPECT_EQ(stepperValue(stepper, std::nullopt), e.fallback);
        // Walking up from the bottom visits every step and stops at the top.
        int value = e.minimum, steps = 0;
        while (steppedValue(stepper, value, +1) != value) {
            EXPECT_EQ(steppedValue(stepper, value, +1), value + e.step);
            value = steppedValue(stepper, value, +1);
            ++steps;
        }
        EXPECT_EQ(value, e.maximum);
        EXPECT_EQ(steps, (e.maximum - e.minimum) / e.step);
        EXPECT_EQ(steppedValue(stepper, e.minimum, -1), e.minimum);
        // Stored values outside the range show as the nearest bound and step from there.
        EXPECT_EQ(stepperValue(stepper, e.maximum * 10), e.maximum);
        EXPECT_EQ(stepperValue(stepper, -7), e.minimum);
        EXPECT_EQ(stepperValue(stepper, std::numeric_limits<int>::max()), e.maximum);
        EXPECT_EQ(steppedValue(stepper, std::numeric_limits<int>::max(), +1), e.maximum);
        EXPECT_EQ(steppedValue(stepper, std::numeric_limits<int>::min(), -1), e.minimum);
        EXPECT_EQ(steppedValue(stepper, e.maximum * 10, -1), e.maximum - e.step);
    }
}

TEST(SettingsRules, RefreshIntervalShowsTheNearestChoice) {
    EXPECT_EQ(refreshIntervalIndex(std::nullopt), 0);
    EXPECT_EQ(refreshIntervalIndex(300), 0);
    EXPECT_EQ(refreshIntervalIndex(900), 1);
    EXPECT_EQ(refreshIntervalIndex(1800), 2);
    EXPECT_EQ(refreshIntervalIndex(3600), 3);
    EXPECT_EQ(refreshIntervalIndex(60), 0);
    EXPECT_EQ(refreshIntervalIndex(1700), 2);
    EXPECT_EQ(refreshIntervalIndex(86400), 3);
    EXPECT_EQ(refreshIntervalIndex(std::numeric_limits<int>::min()), 0);
}

TEST_F(SettingsTest, SteppersStoreClampedValuesAndRelabel) {
    auto settings = openSettings();
    EXPECT_EQ(stepper(*settings, PreferenceKey::minimumSpeedMbps).value("label").toString(),
              "Minimum provider speed: 10 Mbps");
    EXPECT_EQ(stepper(*settings, PreferenceKey::maxPingMilliseconds).value("label").toString(),
              "Maximum provider ping: 250 ms");
    EXPECT_EQ(stepper(*settings, PreferenceKey::maxRelaysPerCountry).value("label").toString(),
              "Recommended relays per country: 4");

    // A hand-edited store: out of range and of the wrong kind.
    preferences().setValue(PreferenceKey::minimumSpeedMbps, 9000);
    preferences().setValue(PreferenceKey::maxPingMilliseconds, 3);
    preferences().setValue(PreferenceKey::maxRelaysPerCountry, QStringLiteral("many"));
    auto speed = stepper(*settings, PreferenceKey::minimumSpeedMbps);
    EXPECT_EQ(speed.value("label").toString(), "Minimum provider speed: 250 Mbps");
    EXPECT_FALSE(speed.value("canIncrease").toBool());
    EXPECT_TRUE(speed.value("canDecrease").toBool());
    auto ping = stepper(*settings, PreferenceKey::maxPingMilliseconds);
    EXPECT_EQ(ping.value("value").toInt(), 50);
    EXPECT_FALSE(ping.value("canDecrease").toBool());
    EXPECT_EQ(stepper(*settings, PreferenceKey::maxRelaysPerCountry).value("value").toInt(), 4);
    // The model ranks by the same clamped values.
    EXPECT_EQ(fixture.model().limits().minimumSpeedMbps, 250);

    settings->step(PreferenceKey::minimumSpeedMbps, -1);
    EXPECT_EQ(preferences().intValue(PreferenceKey::minimumSpeedMbps), 245);
    settings->step(PreferenceKey::maxPingMilliseconds, -1);
    EXPECT_EQ(preferences().intValue(PreferenceKey::maxPingMilliseconds), 50);
    settings->step(PreferenceKey::maxRelaysPerCountry, +1);
    EXPECT_EQ(preferences().intValue(PreferenceKey::maxRelaysPerCountry), 5);
    settings->step(QStringLiteral("notAStepper"), +1);
    EXPECT_FALSE(preferences().contains(QStringLiteral("notAStepper")));
}

TEST_F(SettingsTest, TogglesPickersAndAppearanceStoreAtOnce) {
    auto settings = openSettings();
    EXPECT_FALSE(settings->connectOnLaunch());
    EXPECT_TRUE(settings->autoReconnect());
    EXPECT_FALSE(settings->notificationsEnabled());
    EXPECT_TRUE(settings->automaticRefresh());
    EXPECT_EQ(settings->refreshIntervalLabels(), QStringList({"5 minutes", "15 minutes", "30 minutes", "1 hour"}));

    settings->setConnectOnLaunch(true);
    settings->setAutoReconnect(false);
    EXPECT_EQ(preferences().boolValue(PreferenceKey::connectOnLaunch), true);
    EXPECT_EQ(preferences().boolValue(PreferenceKey::autoReconnectEnabled), false);

    settings->setRefreshIntervalIndex(2);
    EXPECT_EQ(preferences().intValue(PreferenceKey::refreshIntervalSeconds), 1800);
    settings->setRefreshIntervalIndex(7);  // no such choice: nothing changes
    EXPECT_EQ(preferences().intValue(PreferenceKey::refreshIntervalSeconds), 1800);

    // Automatic refresh off: the picker is disabled and keeps its value.
    settings->setAutomaticRefresh(false);
    EXPECT_FALSE(settings->property("refreshIntervalEnabled").toBool());
    EXPECT_EQ(settings->refreshIntervalIndex(), 2);
    EXPECT_EQ(preferences().intValue(PreferenceKey::refreshIntervalSeconds), 1800);
    settings->setAutomaticRefresh(true);
    EXPECT_TRUE(settings->property("refreshIntervalEnabled").toBool());

    // "Light" turns the window light at once, whatever the desktop uses.
    shell->setSystemDark(true);
    EXPECT_TRUE(shell->dark());
    settings->setAppearanceIndex(2);
    EXPECT_EQ(preferences().stringValue(PreferenceKey::appearance), QStringLiteral("Light"));
    EXPECT_FALSE(shell->dark());
    settings->setAppearanceIndex(1);
    EXPECT_TRUE(shell->dark());
    preferences().setValue(PreferenceKey::appearance, QStringLiteral("Sepia"));
    EXPECT_EQ(settings->appearanceIndex(), 0);
}

TEST_F(SettingsTest, NotificationPermissionAnswers) {
    auto settings = openSettings();

    // Granted: the setting stays on, no message.
    settings->setNotificationsEnabled(true);
    QCoreApplication::processEvents();
    EXPECT_TRUE(settings->notificationsEnabled());
    EXPECT_EQ(settings->notificationMessage(), QString());
    EXPECT_EQ(permission->requests, 1);

    // Refused: off again, with the desktop's wording.
    settings->setNotificationsEnabled(false);
    permission->answer = NotificationAuthorization::denied();
    settings->setNotificationsEnabled(true);
    QCoreApplication::processEvents();
    EXPECT_FALSE(settings->notificationsEnabled());
    EXPECT_EQ(preferences().boolValue(PreferenceKey::notificationsEnabled), false);
    EXPECT_EQ(settings->notificationMessage(),
              "Notifications were not allowed by the desktop. Enable them in your desktop's notification settings.");

    // Switching it off clears the message.
    settings->setNotificationsEnabled(false);
    EXPECT_EQ(settings->notificationMessage(), QString());

    // The request fails: off again, with the error's description.
    permission->answer = NotificationAuthorization::failed(QStringLiteral("No notification server is running."));
    settings->setNotificationsEnabled(true);
    QCoreApplication::processEvents();
    EXPECT_FALSE(settings->notificationsEnabled());
    EXPECT_EQ(settings->notificationMessage(), "Could not enable notifications: No notification server is running.");
}

TEST_F(SettingsTest, AnAnswerForASupersededRequestIsIgnored) {
    auto settings = openSettings();
    test::Gate gate;
    permission->gate = &gate;
    permission->answer = NotificationAuthorization::denied();
    settings->setNotificationsEnabled(true);
    EXPECT_TRUE(settings->notificationsEnabled());  // stored at once, before the answer
    settings->setNotificationsEnabled(false);
    gate.open();
    QCoreApplication::processEvents();
    EXPECT_FALSE(settings->notificationsEnabled());
    EXPECT_EQ(settings->notificationMessage(), QString());  // the late refusal shows nothing

    // The screen goes while the desktop is still asking: a refusal still turns the setting off.
    test::Gate second;
    permission->gate = &second;
    settings->setNotificationsEnabled(true);
    settings.reset();
    second.open();
    QCoreApplication::processEvents();
    EXPECT_EQ(preferences().boolValue(PreferenceKey::notificationsEnabled), false);

    // A newer screen's request supersedes an older screen's answer.
    test::Gate third;
    permission->gate = &third;
    auto first = openSettings();
    first->setNotificationsEnabled(true);
    first.reset();
    permission->gate = nullptr;
    permission->answer = NotificationAuthorization::granted();
    auto next = openSettings();
    next->setNotificationsEnabled(true);
    QCoreApplication::processEvents();
    permission->answer = NotificationAuthorization::denied();
    third.open();  // the first screen's request, answered "denied" only now
    QCoreApplication::processEvents();
    EXPECT_EQ(preferences().boolValue(PreferenceKey::notificationsEnabled), true);
    EXPECT_EQ(next->notificationMessage(), QString());
}

TEST_F(SettingsTest, WithoutANotificationServiceTheRequestFails) {
    shell->setServices({});
    auto settings = openSettings();
    settings->setNotificationsEnabled(true);
    QCoreApplication::processEvents();
    EXPECT_FALSE(settings->notificationsEnabled());
    EXPECT_TRUE(settings->notificationMessage().startsWith("Could not enable notifications: "));
}

TEST_F(SettingsTest, VPNSectionShowsTheServicesEngineAndPrivacyNamesTheEchoHosts) {
    auto settings = openSettings();
    EXPECT_EQ(settings->engineText(), "OpenVPN 2.6.14");
    const QVariantList rows = settings->vpnRows();
    ASSERT_EQ(rows.size(), 3);
    EXPECT_EQ(rows[0].toMap().value("value").toString(), "OpenVPN · VPN Gate compatible profiles");
    EXPECT_EQ(rows[1].toMap().value("label").toString(), "Tunnel backend");
    EXPECT_EQ(rows[2].toMap().value("value").toString(), "1.1.1.1 and 8.8.8.8");
    EXPECT_TRUE(settings->vpnNotes().value(1).contains(".deb"));
    EXPECT_TRUE(settings->vpnNotes().value(0).contains("may bypass"));
    settings->setBlockIPv6(true);
    EXPECT_TRUE(settings->vpnNotes().value(0).contains("IPv6 is blocked while connected"));

    fixture.tunnel->engine.reset();
    auto withoutService = openSettings();
    EXPECT_TRUE(withoutService->engineText().startsWith("OpenVPN (version unknown"));

    // The test main points every endpoint at this machine.
    const QString privacy = settings->privacyText();
    EXPECT_TRUE(
        privacy.startsWith("Orlune VPN does not record browsing history, website contents, or traffic "
                           "payloads. The public IP check contacts "));
    EXPECT_TRUE(privacy.contains("127.0.0.1")) << privacy.toStdString();
    EXPECT_TRUE(privacy.endsWith("review their current notices before using any future tunnel integration."));

    // Several operators: each host once, in the lookup's order.
    Endpoints several = Endpoints::current();
    several.traceEcho = QUrl("https://192.0.2.1/cdn-cgi/trace");
    several.plainEchoes = {QUrl("https://echo.example/"), QUrl("https://other.example/"),
                           QUrl("https://echo.example/ip")};
    QString listed;
    {
        test::ScopedEndpoints scoped(several);
        listed = settings->privacyText();
    }
    EXPECT_TRUE(listed.contains("contacts 192.0.2.1, echo.example and other.example. VPN Gate"))
        << listed.toStdString();
}

TEST_F(SettingsTest, LaunchAtLoginFollowsTheDesktop) {
    LaunchAtLoginController login;
    login.setShell(shell.get());
    EXPECT_FALSE(login.isEnabled());
    EXPECT_EQ(login.statusName(), "notRegistered");

    login.setEnabled(true);
    EXPECT_TRUE(login.isEnabled());
    EXPECT_EQ(login.message(), QString());
    login.setEnabled(false);
    EXPECT_EQ(desktop.calls, std::vector<bool>({true, false}));
    EXPECT_FALSE(login.isEnabled());

    // A desktop that wants approval first.
    desktop.statusAfterRegistering = LoginItemStatus::requiresApproval;
    login.setEnabled(true);
    EXPECT_TRUE(login.requiresApproval());
    EXPECT_FALSE(login.isEnabled());
    EXPECT_EQ(login.message(), "The desktop requires approval before Orlune VPN starts at login.");
    login.openSystemSettings();
    EXPECT_EQ(desktop.settingsOpened, 1);

    // A failure shows the status the desktop reports and the error, for either direction.
    desktop.status = LoginItemStatus::enabled;
    desktop.failure = QStringLiteral("Permission denied");
    LaunchAtLoginController again;
    again.setShell(shell.get());
    EXPECT_TRUE(again.isEnabled());
    again.setEnabled(false);
    EXPECT_TRUE(again.isEnabled());
    EXPECT_EQ(again.message(), "The system did not enable Launch at Login: Permission denied");
    desktop.failure.reset();
    again.setEnabled(false);
    EXPECT_EQ(again.message(), QString());
}

TEST_F(SettingsTest, LaunchAtLoginWithoutALoginItemService) {
    shell->setServices({});
    LaunchAtLoginController login;
    login.setShell(shell.get());
    EXPECT_EQ(login.statusName(), "notFound");
    login.setEnabled(true);
    EXPECT_FALSE(login.isEnabled());
    EXPECT_TRUE(login.message().startsWith("The system did not enable Launch at Login: "));
}

}  // namespace
}  // namespace orlune::ui
