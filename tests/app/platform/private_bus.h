#pragma once

// A session-type message bus of the test's own, listening in a temporary folder: nothing is
// activatable on it and nothing of the desktop's is reached. `client` is the connection the
// code under test is given by name.

#include <gtest/gtest.h>

#include <QDBusConnection>
#include <QDBusError>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

namespace orlune::test {

class PrivateBus : public ::testing::Test {
protected:
    void SetUp() override {
        const QString daemon = QStandardPaths::findExecutable(QStringLiteral("dbus-daemon"));
        if (daemon.isEmpty()) GTEST_SKIP() << "dbus-daemon is not installed";
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

}  // namespace orlune::test
