#include "ui/launch_at_login_controller.h"

#include "texts/platform_texts.h"
#include "ui/presentation.h"

namespace orlune::ui {

LaunchAtLoginController::LaunchAtLoginController(QObject* parent) : ShellBound(parent) {}
LaunchAtLoginController::~LaunchAtLoginController() = default;

void LaunchAtLoginController::attach(Shell& shell) {
    const auto& make = shell.services().loginItems;
    items_ = make ? make() : nullptr;
    readStatus();
}

void LaunchAtLoginController::readStatus() {
    const LoginItemStatus status = items_ ? items_->status() : LoginItemStatus::notFound;
    if (status == status_) return;
    status_ = status;
    emit statusChanged();
}

void LaunchAtLoginController::setMessage(const QString& message) {
    if (message == message_) return;
    message_ = message;
    emit messageChanged();
}

QString LaunchAtLoginController::statusName() const {
    switch (status_) {
    case LoginItemStatus::notRegistered:
        return QStringLiteral("notRegistered");
    case LoginItemStatus::enabled:
        return QStringLiteral("enabled");
    case LoginItemStatus::requiresApproval:
        return QStringLiteral("requiresApproval");
    case LoginItemStatus::notFound:
        break;
    }
    return QStringLiteral("notFound");
}

QString LaunchAtLoginController::reviewButtonText() const {
    return platformText(kPlatformTexts.reviewLoginItems);
}

void LaunchAtLoginController::setEnabled(bool enabled) {
    setMessage({});
    const std::optional<QString> failure =
        items_ ? items_->setRegistered(enabled)
               : std::optional<QString>(QStringLiteral("no login-item service is available."));
    readStatus();
    if (failure) {
        // The same text for a failed removal: the status shown is what the desktop reports.
        setMessage(platformText(kPlatformTexts.launchAtLoginFailedPrefix) + *failure);
    } else if (enabled && status_ == LoginItemStatus::requiresApproval) {
        setMessage(platformText(kPlatformTexts.launchAtLoginNeedsApproval));
    }
}

void LaunchAtLoginController::openSystemSettings() {
    if (items_) items_->openSettings();
}

}  // namespace orlune::ui
