#pragma once

#include <QString>
#include <QUrl>

#include <functional>
#include <memory>
#include <optional>

namespace orlune {
class LoginItems;
class NotificationPermission;
}  // namespace orlune

namespace orlune::ui {

// The version this build carries; either may be missing in a development build.
struct AppIdentity {
    std::optional<QString> version;
    std::optional<QString> build;
};

// What the screens ask of the desktop and the system besides the model. The shell starts with
// inert services (nothing registered, no notifications, nothing copied or opened); the
// application installs the real ones, tests their fakes.
struct DesktopServices {
    // A login-item service for each settings screen; null: "not found".
    std::function<std::unique_ptr<LoginItems>()> loginItems;
    // Null: every request fails.
    std::shared_ptr<NotificationPermission> notificationPermission;
    std::function<QString()> operatingSystem;
    // Whether a file exists at the control socket's path.
    std::function<bool()> serviceAvailable;
    std::function<void(const QString&)> copyText;
    std::function<void(const QUrl&)> openUrl;
    // Asks the user for a file to open (title, name filter); nothing when cancelled.
    std::function<std::optional<QString>(const QString&, const QString&)> chooseFile;
    AppIdentity identity;

    // The real desktop: XDG autostart, the session bus's notification server, the clipboard,
    // the default browser.
    static DesktopServices system(AppIdentity identity);
};

}  // namespace orlune::ui
