#include <QDBusConnection>
#include <QDBusError>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>

#include <qcoro/qcorosignal.h>

#include "platform/notification_permission.h"

namespace orlune {

QCoro::Task<NotificationAuthorization> FreedesktopNotificationPermission::request() {
    QDBusConnection bus = connectionName_.isEmpty() ? QDBusConnection::sessionBus() : QDBusConnection(connectionName_);
    if (!bus.isConnected()) {
        const QString reason = bus.lastError().message();
        co_return NotificationAuthorization::failed(
            reason.isEmpty() ? QStringLiteral("no desktop session bus is available.") : reason);
    }
    // Asking the server who it is starts it when it is activatable and proves it answers.
    const QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("/org/freedesktop/Notifications"),
        QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("GetServerInformation"));
    QDBusPendingCallWatcher watcher(bus.asyncCall(call, int(kReplyLimit.count())));
    if (!watcher.isFinished()) co_await qCoro(&watcher, &QDBusPendingCallWatcher::finished);
    if (watcher.isError()) {
        const QDBusError error = watcher.error();
        co_return NotificationAuthorization::failed(error.message().isEmpty() ? QDBusError::errorString(error.type())
                                                                              : error.message());
    }
    co_return NotificationAuthorization::granted();
}

std::unique_ptr<NotificationPermission> makeNotificationPermission() {
    return std::make_unique<FreedesktopNotificationPermission>();
}

}  // namespace orlune
