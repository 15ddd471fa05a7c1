#include "platform/sleep_monitor_logind_linux.h"

#include <QDBusConnection>

namespace orlune {
namespace {

const QString kLogind = QStringLiteral("org.freedesktop.login1");
const QString kLogindPath = QStringLiteral("/org/freedesktop/login1");
const QString kLogindManager = QStringLiteral("org.freedesktop.login1.Manager");

}  // namespace

LogindSleepMonitor::LogindSleepMonitor(QObject* parent) : SleepMonitor(parent) {}

void LogindSleepMonitor::start() {
    if (started_) return;
    started_ = true;
    QDBusConnection bus = QDBusConnection::systemBus();
    if (!bus.isConnected()) return;  // no reports; the health timer still re-checks a tunnel
    // Only from the owner of logind's name, which the bus lets root alone take: another account
    // cannot make the app re-check its tunnel (or keep it re-checking) at will. The bus follows
    // the name to its owner, so the signal is taken as it arrives, without asking who sent it
    // (a question that could come too late, once a short-lived sender has gone).
    bus.connect(kLogind, kLogindPath, kLogindManager, QStringLiteral("PrepareForSleep"), this,
                SLOT(prepareForSleep(bool)));
}

void LogindSleepMonitor::prepareForSleep(bool sleeping) {
    if (sleeping) {
        emit aboutToSleep();
    } else {
        emit woke();
    }
}

}  // namespace orlune
