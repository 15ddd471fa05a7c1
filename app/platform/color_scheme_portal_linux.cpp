#include "platform/color_scheme.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>

namespace orlune {
namespace {

const QString kPortal = QStringLiteral("org.freedesktop.portal.Desktop");
const QString kPath = QStringLiteral("/org/freedesktop/portal/desktop");
const QString kSettings = QStringLiteral("org.freedesktop.portal.Settings");
const QString kGroup = QStringLiteral("org.freedesktop.appearance");
const QString kKey = QStringLiteral("color-scheme");

QDBusConnection bus(const QString& name) {
    return name.isEmpty() ? QDBusConnection::sessionBus() : QDBusConnection(name);
}

// Read answers a variant holding the value; older portals wrap it once more.
QVariant unwrap(QVariant value) {
    while (value.canConvert<QDBusVariant>() && value.userType() == qMetaTypeId<QDBusVariant>()) {
        value = value.value<QDBusVariant>().variant();
    }
    return value;
}

}  // namespace

std::optional<bool> colorSchemePrefersDark(uint value) {
    if (value == 1) return true;
    if (value == 2) return false;
    return std::nullopt;
}

ColorSchemeWatch::ColorSchemeWatch(QString connectionName, QObject* parent)
    : QObject(parent), connectionName_(std::move(connectionName)) {
    QDBusConnection connection = bus(connectionName_);
    if (!connection.isConnected()) return;
    connection.connect(kPortal, kPath, kSettings, QStringLiteral("SettingChanged"), this,
                       SLOT(settingChanged(QDBusMessage)));
    QDBusMessage read = QDBusMessage::createMethodCall(kPortal, kPath, kSettings, QStringLiteral("Read"));
    read << kGroup << kKey;
    // Asynchronous: a missing or slow portal never holds up the window.
    auto* watcher = new QDBusPendingCallWatcher(connection.asyncCall(read, 2000), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* call) {
        call->deleteLater();
        const QDBusPendingReply<QDBusVariant> reply = *call;
        if (!reply.isError()) apply(reply.argumentAt<0>().variant());
    });
}

void ColorSchemeWatch::settingChanged(const QDBusMessage& message) {
    const QVariantList arguments = message.arguments();
    if (arguments.size() == 3 && arguments[0].toString() == kGroup && arguments[1].toString() == kKey) {
        apply(arguments[2]);
    }
}

void ColorSchemeWatch::apply(const QVariant& value) {
    const QVariant plain = unwrap(value);
    bool ok = false;
    const uint scheme = plain.toUInt(&ok);
    const std::optional<bool> preference = ok ? colorSchemePrefersDark(scheme) : std::nullopt;
    if (preference == prefersDark_) return;
    prefersDark_ = preference;
    emit changed();
}

}  // namespace orlune
