#include "model/preferences.h"

#include <algorithm>
#include <limits>

namespace orlune {

Preferences::Preferences(std::unique_ptr<QSettings> settings, QObject* parent)
    : QObject(parent), settings_(std::move(settings)) {}

std::unique_ptr<Preferences> Preferences::forUser(QObject* parent) {
    return std::make_unique<Preferences>(std::make_unique<QSettings>("Orlune", "Orlune VPN"), parent);
}

bool Preferences::contains(const QString& key) const {
    return settings_->contains(key);
}

QVariant Preferences::value(const QString& key) const {
    return settings_->value(key);
}

std::optional<int> Preferences::intValue(const QString& key) const {
    const QVariant stored = settings_->value(key);
    if (!stored.isValid()) return std::nullopt;
    bool ok = false;
    // Text-based settings formats store numbers as text; anything that is not a whole number
    // counts as absent.
    const qlonglong number = stored.toLongLong(&ok);
    if (!ok) return std::nullopt;
    return int(std::clamp<qlonglong>(number, std::numeric_limits<int>::min(), std::numeric_limits<int>::max()));
}

std::optional<bool> Preferences::boolValue(const QString& key) const {
    const QVariant stored = settings_->value(key);
    if (!stored.isValid()) return std::nullopt;
    if (stored.typeId() == QMetaType::Bool) return stored.toBool();
    const QString text = stored.toString().trimmed().toLower();
    if (text == "true" || text == "1") return true;
    if (text == "false" || text == "0") return false;
    return std::nullopt;
}

std::optional<QString> Preferences::stringValue(const QString& key) const {
    const QVariant stored = settings_->value(key);
    if (!stored.isValid() || !stored.canConvert<QString>()) return std::nullopt;
    return stored.toString();
}

void Preferences::setValue(const QString& key, const QVariant& value) {
    settings_->setValue(key, value);
    emit changed(key);
}

void Preferences::remove(const QString& key) {
    settings_->remove(key);
    emit changed(key);
}

}  // namespace orlune
