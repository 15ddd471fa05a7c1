#pragma once

#include <QDBusMessage>
#include <QObject>
#include <QString>

#include <optional>

namespace orlune {

// The portal's `color-scheme` value as a preference: 1 asks for dark, 2 for light, 0 (and
// anything unknown) states none.
std::optional<bool> colorSchemePrefersDark(uint value);

// The desktop's light/dark preference, from the freedesktop settings portal on the session
// bus (org.freedesktop.appearance color-scheme), read once at start and followed while running.
// Without a portal, or while it has not answered, there is no preference and the caller keeps
// its own fallback.
class ColorSchemeWatch : public QObject {
    Q_OBJECT

public:
    // `connectionName` names a connection made with QDBusConnection::connectToBus; empty: the
    // session bus.
    explicit ColorSchemeWatch(QString connectionName = {}, QObject* parent = nullptr);

    // True for dark, false for light, nothing when the desktop states no preference.
    std::optional<bool> prefersDark() const { return prefersDark_; }

signals:
    void changed();

private slots:
    // The portal's SettingChanged(group, key, value).
    void settingChanged(const QDBusMessage& message);

private:
    void apply(const QVariant& value);

    QString connectionName_;
    std::optional<bool> prefersDark_;
};

}  // namespace orlune
