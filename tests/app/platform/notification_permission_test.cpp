// The notification permission against a private message bus of its own: no notification
// server, a server that answers, and a bus that cannot be reached.
#include <gtest/gtest.h>

#include <QDBusConnection>
#include <QDBusConnectionInterface>

#include "platform/notification_permission.h"
#include "private_bus.h"
#include "support/await.h"

namespace orlune {
namespace {

// The smallest notification server: it tells who it is.
class FakeNotificationServer : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")

public slots:
    Q_SCRIPTABLE QString GetServerInformation() { return QStringLiteral("test server"); }
};

using test::PrivateBus;

TEST_F(PrivateBus, NoNotificationServerMeansTheRequestFails) {
    FreedesktopNotificationPermission permission(QStringLiteral("client"));
    const NotificationAuthorization answer = test::await(permission.request());
    EXPECT_EQ(answer.result, NotificationAuthorization::Result::failed);
    EXPECT_FALSE(answer.errorDescription.isEmpty());
}

TEST_F(PrivateBus, AServerThatAnswersGrantsIt) {
    QDBusConnection server = QDBusConnection::connectToBus(address, QStringLiteral("server"));
    ASSERT_TRUE(server.isConnected());
    FakeNotificationServer notifications;
    ASSERT_TRUE(server.registerObject(QStringLiteral("/org/freedesktop/Notifications"), &notifications,
                                      QDBusConnection::ExportScriptableSlots));
    ASSERT_TRUE(server.registerService(QStringLiteral("org.freedesktop.Notifications")));

    FreedesktopNotificationPermission permission(QStringLiteral("client"));
    const NotificationAuthorization answer = test::await(permission.request());
    EXPECT_EQ(answer.result, NotificationAuthorization::Result::granted) << answer.errorDescription.toStdString();
}

TEST(NotificationPermission, AnUnreachableBusFailsWithItsReason) {
    QDBusConnection broken = QDBusConnection::connectToBus(QStringLiteral("unix:path=/nonexistent/orlune-test-bus"),
                                                           QStringLiteral("broken"));
    ASSERT_FALSE(broken.isConnected());
    FreedesktopNotificationPermission permission(QStringLiteral("broken"));
    const NotificationAuthorization answer = test::await(permission.request());
    QDBusConnection::disconnectFromBus(QStringLiteral("broken"));
    EXPECT_EQ(answer.result, NotificationAuthorization::Result::failed);
    EXPECT_FALSE(answer.errorDescription.isEmpty());
}

}  // namespace
}  // namespace orlune

#include "notification_permission_test.moc"
