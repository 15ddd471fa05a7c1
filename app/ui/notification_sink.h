#pragma once

#include <QString>

#include <memory>

namespace orlune::ui {

// Delivers one desktop notification at once. Delivery failures are dropped: a missing
// notification server must never disturb the connection.
class NotificationSink {
public:
    virtual ~NotificationSink() = default;
    virtual void post(const QString& title, const QString& body) = 0;
};

// The desktop's notification server on the session bus (org.freedesktop.Notifications).
std::unique_ptr<NotificationSink> makeDesktopNotificationSink();

}  // namespace orlune::ui
