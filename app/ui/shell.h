#pragma once

#include <QtQml/qqmlregistration.h>
#include <QDateTime>
#include <QObject>
#include <QString>
#include <QTimer>
#include <QVariantList>

#include <chrono>
#include <functional>
#include <memory>

#include "ui/desktop_services.h"

namespace orlune {
class AppModel;
class CatalogAccess;
class Preferences;
}  // namespace orlune

namespace orlune::ui {

class ConnectionNotifier;
class NotificationSink;

// The frame of the window: the sidebar's pages, badges and catalog status, the appearance, the
// periodic catalog refresh and the connection notifications while the window is shown, and the
// requests to show the windows or quit, which the application carries out.
class Shell : public QObject {
    Q_OBJECT
    QML_ELEMENT
    QML_UNCREATABLE("The application creates the one shell.")
    Q_PROPERTY(QVariantList pages READ pages NOTIFY pagesChanged)
    Q_PROPERTY(QString page READ page NOTIFY pageChanged)
    Q_PROPERTY(QString screen READ screen NOTIFY pageChanged)
    Q_PROPERTY(QString catalogStatusText READ catalogStatusText NOTIFY catalogStatusChanged)
    Q_PROPERTY(QString catalogStatusColor READ catalogStatusColor NOTIFY catalogStatusChanged)
    Q_PROPERTY(bool dark READ dark NOTIFY darkChanged)
    // The desktop's font size against the 10 pt the window was drawn for, at least 1.
    Q_PROPERTY(double textScale READ textScale CONSTANT)
    Q_PROPERTY(bool trayAvailable READ trayAvailable NOTIFY trayAvailableChanged)

public:
    using Clock = std::function<QDateTime()>;
    static constexpr std::chrono::seconds kRefreshPeriod{60};

    Shell(AppModel& model, Preferences& preferences, std::unique_ptr<NotificationSink> notifications, Clock clock = {},
          QObject* parent = nullptr);
    ~Shell() override;

    AppModel& model() const { return model_; }
    Preferences& preferences() const { return preferences_; }
    const DesktopServices& services() const { return services_; }
    void setServices(DesktopServices services) { services_ = std::move(services); }
    // Where catalog downloads go; the settings hand it the session's proxy password. May be null.
    const std::shared_ptr<CatalogAccess>& catalogAccess() const { return catalogAccess_; }
    void setCatalogAccess(std::shared_ptr<CatalogAccess> access) { catalogAccess_ = std::move(access); }
    QDateTime now() const { return clock_(); }

    QVariantList pages() const;
    QString page() const;
    // Which screen the detail area shows: "home", "servers", "favorites", "statistics",
    // "settings", "help" or "about".
    QString screen() const;
    QString catalogStatusText() const;
    QString catalogStatusColor() const;
    bool dark() const;
    double textScale() const;
    bool trayAvailable() const { return trayAvailable_; }

    void setSystemDark(bool dark);
    void setTrayAvailable(bool available);
    // The main window's content appeared or went: the periodic refresh and the notifications
    // run only while it is shown, and start afresh with it.
    void setWindowShown(bool shown);
    bool windowShown() const { return windowShown_; }
    // The main window was closed: whether the app stays (a tray to come back through, or a
    // tunnel held or being made). The first stay without a tray tells the user, once ever,
    // how to get the window back.
    bool keepsRunningAfterClose();
    // One step of the periodic refresh; answers whether it refreshed.
    bool periodicRefreshTick();
    // The notification-permission requests of the settings screens: only the newest answer
    // counts, even after the screen that asked has gone.
    quint64 beginNotificationRequest() { return ++notificationRequest_; }
    void supersedeNotificationRequest() { ++notificationRequest_; }
    bool isNewestNotificationRequest(quint64 request) const { return request == notificationRequest_; }

    Q_INVOKABLE void setPage(const QString& title);
    Q_INVOKABLE void openMainWindow() { emit mainWindowRequested(); }
    Q_INVOKABLE void openMenuWindow() { emit menuWindowRequested(); }
    Q_INVOKABLE void quit() { emit quitRequested(); }

signals:
    void pagesChanged();
    void pageChanged();
    void catalogStatusChanged();
    void darkChanged();
    void trayAvailableChanged();
    void mainWindowRequested();
    void menuWindowRequested();
    void quitRequested();

private:
    AppModel& model_;
    Preferences& preferences_;
    std::unique_ptr<NotificationSink> notificationSink_;
    std::unique_ptr<ConnectionNotifier> notifier_;
    Clock clock_;
    DesktopServices services_;
    std::shared_ptr<CatalogAccess> catalogAccess_;
    QTimer refreshTimer_;
    bool systemDark_ = false;
    bool trayAvailable_ = false;
    bool windowShown_ = false;
    quint64 notificationRequest_ = 0;
};

}  // namespace orlune::ui
