// The notification permission against a private message bus of its own: no notification
// server, a server that answers, and a bus that cannot be reached.
#include <gtest/gtest.h>

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include "platform/notification_permission.h"
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

class PrivateBus : public ::testing::Test {
protected:
    void SetUp() override {
        const QString daemon = QStandardPaths::findExecutable(QStringLiteral("dbus-daemon"));
        if (daemon.isEmpty()) GTEST_SKIP() << "dbus-daemon is not installed";
        // A session-type bus listening in a temporary folder; nothing is activatable on it.
        const QString config = directory.filePath("bus.conf");
        QFile file(config);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(("<busconfig><type>session</type><listen>unix:dir=" + directory.path().toUtf8() +
                    "</listen><policy context=\"default\"><allow send_destination=\"*\" eavesdrop=\"true\"/>"
                    "<allow eavesdrop=\"true\"/><allow own=\"*\"/></policy></busconfig>"));
        file.close();
        daemonProcess.start(daemon, {"--config-file=" + config, "--nofork", "--print-address"});
        ASSERT_TRUE(daemonProcess.waitForStarted(5000));
        ASSERT_TRUE(daemonProcess.waitForReadyRead(5000));
        address = QString::fromUtf8(daemonProcess.readLine()).trimmed();
        ASSERT_FALSE(address.isEmpty());
        client = QDBusConnection::connectToBus(address, QStringLiteral("client"));
        ASSERT_TRUE(client.isConnected()) << client.lastError().message().toStdString();
    }
    void TearDown() override {
        QDBusConnection::disconnectFromBus(QStringLiteral("client"));
        QDBusConnection::disconnectFromBus(QStringLiteral("server"));
        daemonProcess.terminate();
        daemonProcess.waitForFinished(3000);
    }

    QTemporaryDir directory;
    QProcess daemonProcess;
    QString address;
    QDBusConnection client{QString()};
};

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
    QDBusConnection broken =
        QDBusConnection::connectToBus(QStringLiteral("unix:path=/nonexistent/orlune-test-bus"), QStringLiteral("broken"));
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
