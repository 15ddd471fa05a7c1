#include "ui/connection_notifier.h"

#include "model/app_model.h"
#include "model/preferences.h"
#include "ui/notification_sink.h"
#include "ui/presentation.h"

namespace orlune::ui {

ConnectionNotifier::ConnectionNotifier(AppModel& model, Preferences& preferences, NotificationSink& sink,
                                       QObject* parent)
    : QObject(parent), model_(model), preferences_(preferences), sink_(sink) {
    connect(&model_, &AppModel::connectionStateChanged, this, &ConnectionNotifier::stateChanged);
}

void ConnectionNotifier::setActive(bool active) {
    if (active && !active_) last_ = model_.connectionState();
    active_ = active;
}

void ConnectionNotifier::stateChanged() {
    if (!active_) return;
    const ConnectionState current = model_.connectionState();
    const bool changed = !(current == last_);
    last_ = current;
    if (!changed || !preferences_.boolValue(PreferenceKey::notificationsEnabled).value_or(false)) return;
    if (const auto notification = notificationFor(current)) sink_.post(notification->title, notification->body);
}

}  // namespace orlune::ui
