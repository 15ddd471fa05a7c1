#pragma once

#include <QtQml/qqmlregistration.h>
#include <QString>

#include <memory>

#include "platform/login_items.h"
#include "ui/shell_bound.h"

namespace orlune::ui {

// Launch at login for the settings screen: the desktop's status for the app, read when the
// screen is made and after every change, and the message of the last change.
class LaunchAtLoginController : public orlune::ui::ShellBound {
    Q_OBJECT
    QML_ELEMENT
    Q_PROPERTY(QString status READ statusName NOTIFY statusChanged)
    Q_PROPERTY(bool isEnabled READ isEnabled NOTIFY statusChanged)
    Q_PROPERTY(bool requiresApproval READ requiresApproval NOTIFY statusChanged)
    Q_PROPERTY(QString message READ message NOTIFY messageChanged)
    Q_PROPERTY(QString reviewButtonText READ reviewButtonText CONSTANT)

public:
    explicit LaunchAtLoginController(QObject* parent = nullptr);
    ~LaunchAtLoginController() override;

    LoginItemStatus status() const { return status_; }
    QString statusName() const;
    bool isEnabled() const { return status_ == LoginItemStatus::enabled; }
    bool requiresApproval() const { return status_ == LoginItemStatus::requiresApproval; }
    QString message() const { return message_; }
    QString reviewButtonText() const;

    Q_INVOKABLE void setEnabled(bool enabled);
    Q_INVOKABLE void openSystemSettings();

signals:
    void statusChanged();
    void messageChanged();

protected:
    void attach(Shell& shell) override;

private:
    void readStatus();
    void setMessage(const QString& message);

    std::unique_ptr<LoginItems> items_;
    LoginItemStatus status_ = LoginItemStatus::notFound;
    QString message_;
};

}  // namespace orlune::ui
