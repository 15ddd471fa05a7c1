#include "platform/sleep_monitor_logind_linux.h"

#include <QDBusConnection>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>

namespace orlune {
namespace {

const QString kLogindPath = QStringLiteral("/org/freedesktop/login1");
const QString kLogindManager = QStringLiteral("org.freedesktop.login1.Manager");

}  // namespace

LogindSleepMonitor::LogindSleepMonitor(QObject* parent) : SleepMonitor(parent) {}

void LogindSleepMonitor::start() {
    if (started_) return;
    started_ = true;
    QDBusConnection bus = QDBusConnection::systemBus();
    if (!bus.isConnected()) return;  // no reports; the health timer still re-checks a tunnel
    // From any sender: the sender's account is checked for each signal instead.
    bus.connect(QString(), kLogindPath, kLogindManager, QStringLiteral("PrepareForSleep"), this,
                SLOT(prepareForSleep(bool, QDBusMessage)));
}

void LogindSleepMonitor::prepareForSleep(bool sleeping, const QDBusMessage& message) {
    QDBusMessage ask =
        QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
                                       QStringLiteral("org.freedesktop.DBus"), QStringLiteral("GetConnectionUnixUser"));
    ask << message.service();
    auto* sender = new QDBusPendingCallWatcher(QDBusConnection::systemBus().asyncCall(ask), this);
    connect(sender, &QDBusPendingCallWatcher::finished, this, [this, sleeping](QDBusPendingCallWatcher* call) {
        const QDBusPendingReply<uint> account = *call;
        call->deleteLater();
        if (account.isError() || account.value() != 0) return;
        if (sleeping) {
            emit aboutToSleep();
        } else {
            emit woke();
        }
    });
}

}  // namespace orlune
