#include "ui/desktop_services.h"

#include <QClipboard>
#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QGuiApplication>

#include "control/native_paths.h"
#include "platform/login_items.h"
#include "platform/notification_permission.h"
#include "platform/system_facts.h"

namespace orlune::ui {

DesktopServices DesktopServices::system(AppIdentity identity) {
    DesktopServices services;
    services.loginItems = [] { return makeLoginItems(); };
    services.notificationPermission = makeNotificationPermission();
    services.operatingSystem = [] { return operatingSystemDescription(); };
    services.serviceAvailable = [] {
        return QFileInfo::exists(QString::fromUtf8(NativePaths::socket.data(), qsizetype(NativePaths::socket.size())));
    };
    services.copyText = [](const QString& text) {
        QClipboard* clipboard = QGuiApplication::clipboard();
        clipboard->clear();
        clipboard->setText(text);
    };
    services.openUrl = [](const QUrl& url) { QDesktopServices::openUrl(url); };
    services.chooseFile = [](const QString& title, const QString& filter) -> std::optional<QString> {
        const QString path = QFileDialog::getOpenFileName(nullptr, title, QDir::homePath(), filter);
        if (path.isEmpty()) return std::nullopt;
        return path;
    };
    services.identity = std::move(identity);
    return services;
}

}  // namespace orlune::ui
