#pragma once

#include <QObject>

#include "model/connection_state.h"

namespace orlune {
class AppModel;
class Preferences;
}  // namespace orlune

namespace orlune::ui {

class NotificationSink;

// Turns each change of the connection state into a desktop notification while the window's
// content is shown and the user has "notificationsEnabled" on. The state seen when it becomes
// active is the starting point, never a change.
class ConnectionNotifier : public QObject {
    Q_OBJECT

public:
    ConnectionNotifier(AppModel& model, Preferences& preferences, NotificationSink& sink, QObject* parent = nullptr);

    void setActive(bool active);
    bool isActive() const { return active_; }

private:
    void stateChanged();

    AppModel& model_;
    Preferences& preferences_;
    NotificationSink& sink_;
    bool active_ = false;
    ConnectionState last_;
};

}  // namespace orlune::ui
