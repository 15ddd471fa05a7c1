#pragma once

#include <QString>

#include <qcoro/qcorotask.h>

#include <chrono>
#include <memory>

namespace orlune {

// The desktop's answer to the app asking to show connection notifications.
struct NotificationAuthorization {
    enum class Result { granted, denied, failed };
    Result result = Result::failed;
    QString errorDescription;  // for `failed`

    static NotificationAuthorization granted() { return {Result::granted, {}}; }
    static NotificationAuthorization denied() { return {Result::denied, {}}; }
    static NotificationAuthorization failed(QString description) { return {Result::failed, std::move(description)}; }
};

class NotificationPermission {
public:
    virtual ~NotificationPermission() = default;
    // Asks for alerts with sound (no badges). Never throws.
    virtual QCoro::Task<NotificationAuthorization> request() = 0;
};

// The freedesktop notification server on the session bus. The desktop has no per-app
// permission to ask for: a server that answers means notifications are shown; none reachable
// means the request failed.
class FreedesktopNotificationPermission final : public NotificationPermission {
public:
    static constexpr std::chrono::milliseconds kReplyLimit{5000};

    // `connectionName` names a connection made with QDBusConnection::connectToBus; empty: the
    // session bus.
    explicit FreedesktopNotificationPermission(QString connectionName = {})
        : connectionName_(std::move(connectionName)) {}
    QCoro::Task<NotificationAuthorization> request() override;

private:
    QString connectionName_;
};

std::unique_ptr<NotificationPermission> makeNotificationPermission();

}  // namespace orlune
