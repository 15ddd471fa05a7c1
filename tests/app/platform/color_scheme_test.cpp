// The desktop's light/dark preference from a settings portal on a private bus: read at start,
// followed when it changes, and no preference without a portal.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QDeadlineTimer>

#include "platform/color_scheme.h"
#include "private_bus.h"

namespace orlune {
namespace {

using test::PrivateBus;

// The one setting of the freedesktop settings portal the app reads.
class FakePortal : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.portal.Settings")

public:
    uint scheme = 0;

public slots:
    Q_SCRIPTABLE QDBusVariant Read(const QString& group, const QString& key) {
        if (group == "org.freedesktop.appearance" && key == "color-scheme") {
            // Portals before version 2 wrap the value twice, as here.
            return QDBusVariant(QVariant::fromValue(QDBusVariant(scheme)));
        }
        return QDBusVariant(QString());
    }
};

bool waitFor(const std::function<bool()>& condition) {
    QDeadlineTimer deadline(3000);
    while (!condition() && !deadline.hasExpired()) QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    return condition();
}

TEST(ColorScheme, ThePortalValuesMapToAPreference) {
    EXPECT_EQ(colorSchemePrefersDark(0), std::nullopt);
    EXPECT_EQ(colorSchemePrefersDark(1), true);
    EXPECT_EQ(colorSchemePrefersDark(2), false);
    EXPECT_EQ(colorSchemePrefersDark(7), std::nullopt);
}

TEST_F(PrivateBus, ThePreferenceIsReadAndFollowedAndAbsentWithoutAPortal) {
    {
        ColorSchemeWatch none(QStringLiteral("client"));
        QCoreApplication::processEvents();
        EXPECT_EQ(none.prefersDark(), std::nullopt);  // nobody answers: the palette decides
    }
    QDBusConnection server = QDBusConnection::connectToBus(address, QStringLiteral("server"));
    FakePortal portal;
    portal.scheme = 1;
    ASSERT_TRUE(
        server.registerObject("/org/freedesktop/portal/desktop", &portal, QDBusConnection::ExportScriptableSlots));
    ASSERT_TRUE(server.registerService("org.freedesktop.portal.Desktop"));

    ColorSchemeWatch watch(QStringLiteral("client"));
    ASSERT_TRUE(waitFor([&] { return watch.prefersDark() == true; }));

    int changes = 0;
    QObject::connect(&watch, &ColorSchemeWatch::changed, [&] { ++changes; });
    const auto announce = [&](const QString& group, const QString& key, uint value) {
        QDBusMessage signal = QDBusMessage::createSignal("/org/freedesktop/portal/desktop",
                                                         "org.freedesktop.portal.Settings", "SettingChanged");
        signal << group << key << QVariant::fromValue(QDBusVariant(value));
        server.send(signal);
    };
    announce("org.freedesktop.appearance", "accent-color", 2);  // another setting: ignored
    announce("org.freedesktop.appearance", "color-scheme", 2);
    ASSERT_TRUE(waitFor([&] { return watch.prefersDark() == false; }));
    announce("org.freedesktop.appearance", "color-scheme", 0);
    ASSERT_TRUE(waitFor([&] { return !watch.prefersDark().has_value(); }));
    EXPECT_EQ(changes, 2);
}

}  // namespace
}  // namespace orlune

#include "color_scheme_test.moc"
