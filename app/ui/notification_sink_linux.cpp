#include <QDBusConnection>
#include <QDBusMessage>
#include <QStringList>
#include <QVariantMap>

#include "ui/notification_sink.h"

namespace orlune::ui {
namespace {

class FreedesktopNotificationSink final : public NotificationSink {
public:
    void post(const QString& title, const QString& body) override {
        QDBusConnection bus = QDBusConnection::sessionBus();
        if (!bus.isConnected()) return;
        QDBusMessage call = QDBusMessage::createMethodCall(
            QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("/org/freedesktop/Notifications"),
            QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("Notify"));
        // replaces_id 0: every notification is a new one. Timeout -1: the server's default.
        call << QStringLiteral("Orlune VPN") << uint(0) << QStringLiteral("orlune-vpn") << title << body
             << QStringList() << QVariantMap() << int(-1);
        bus.send(call);  // the reply, or an error, is not waited for
    }
};

}  // namespace

std::unique_ptr<NotificationSink> makeDesktopNotificationSink() {
    return std::make_unique<FreedesktopNotificationSink>();
}

}  // namespace orlune::ui
