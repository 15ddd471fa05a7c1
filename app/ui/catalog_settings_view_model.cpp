#include "ui/catalog_settings_view_model.h"

#include "catalog/catalog_access.h"
#include "model/catalog_preferences.h"
#include "model/preferences.h"
#include "ui/shell.h"

namespace orlune::ui {
namespace {

// In the order the screen offers them.
const CatalogProxy::Mode kModes[] = {CatalogProxy::Mode::system, CatalogProxy::Mode::none, CatalogProxy::Mode::http,
                                     CatalogProxy::Mode::socks5};

const QString kPasswordNote = QStringLiteral(
    "A proxy password is used for this session only and never stored: enter it again after the app restarts.");

}  // namespace

CatalogSettingsViewModel::CatalogSettingsViewModel(QObject* parent) : ShellBound(parent) {}

void CatalogSettingsViewModel::attach(Shell& shell) {
    connect(&shell.preferences(), &Preferences::changed, this, &CatalogSettingsViewModel::changed);
}

QString CatalogSettingsViewModel::stored(const char* key) const {
    return ready() ? shell()->preferences().stringValue(QString::fromLatin1(key)).value_or(QString()) : QString();
}

QString CatalogSettingsViewModel::mirrorsText() const {
    return stored(PreferenceKey::catalogMirrors);
}

QStringList CatalogSettingsViewModel::proxyModes() const {
    return {QStringLiteral("Desktop proxy settings"), QStringLiteral("No proxy"), QStringLiteral("HTTP proxy"),
            QStringLiteral("SOCKS5 proxy")};
}

int CatalogSettingsViewModel::proxyModeIndex() const {
    const auto mode =
        catalogProxyModeFrom(stored(PreferenceKey::catalogProxyMode)).value_or(CatalogProxy::Mode::system);
    for (int i = 0; i < 4; ++i) {
        if (kModes[i] == mode) return i;
    }
    return 0;
}

bool CatalogSettingsViewModel::proxyFieldsEnabled() const {
    return proxyModeIndex() >= 2;
}
QString CatalogSettingsViewModel::proxyHost() const {
    return stored(PreferenceKey::catalogProxyHost);
}
QString CatalogSettingsViewModel::proxyPort() const {
    const auto port = ready() ? shell()->preferences().intValue(PreferenceKey::catalogProxyPort) : std::nullopt;
    return port ? QString::number(*port) : QString();
}
QString CatalogSettingsViewModel::proxyUser() const {
    return stored(PreferenceKey::catalogProxyUser);
}

void CatalogSettingsViewModel::applyMirrors(const QString& text) {
    if (!ready()) return;
    try {
        const auto mirrors = parseCatalogMirrors(text);
        shell()->preferences().setValue(PreferenceKey::catalogMirrors, text.trimmed());
        mirrorsRejected_ = false;
        mirrorsMessage_ = mirrors.empty()
                              ? QStringLiteral("No mirror: only the primary catalog is used.")
                              : QStringLiteral("Saved: %1 tried in order after the primary catalog.")
                                    .arg(mirrors.size() == 1 ? QStringLiteral("1 mirror")
                                                             : QStringLiteral("%1 mirrors").arg(mirrors.size()));
    } catch (const CatalogSettingsError& error) {
        mirrorsRejected_ = true;
        mirrorsMessage_ = QString::fromUtf8(error.what()) + QStringLiteral(" Nothing was saved.");
    }
    emit changed();
}

void CatalogSettingsViewModel::applyProxy(int modeIndex, const QString& host, const QString& port, const QString& user,
                                          const QString& password) {
    if (!ready() || modeIndex < 0 || modeIndex >= 4) return;
    const CatalogProxy::Mode mode = kModes[modeIndex];
    Preferences& preferences = shell()->preferences();
    const bool explicitProxy = mode == CatalogProxy::Mode::http || mode == CatalogProxy::Mode::socks5;
    if (explicitProxy) {
        bool numeric = false;
        const int number = port.trimmed().toInt(&numeric);
        if (host.trimmed().isEmpty() || host.contains(u' ') || !numeric || number < 1 || number > 65535) {
            proxyRejected_ = true;
            proxyMessage_ =
                QStringLiteral("A proxy needs a host name or address and a port from 1 to 65535. Nothing was saved.");
            emit changed();
            return;
        }
        preferences.setValue(PreferenceKey::catalogProxyHost, host.trimmed());
        preferences.setValue(PreferenceKey::catalogProxyPort, number);
        if (user.isEmpty()) {
            preferences.remove(PreferenceKey::catalogProxyUser);
        } else {
            preferences.setValue(PreferenceKey::catalogProxyUser, user);
        }
    }
    preferences.setValue(PreferenceKey::catalogProxyMode, catalogProxyModeName(mode));
    if (const auto& access = shell()->catalogAccess()) {
        applyCatalogPreferences(*access, preferences);
        CatalogProxy proxy = access->proxy();
        proxy.password = explicitProxy ? password : QString();
        access->setProxy(std::move(proxy));
    }
    proxyRejected_ = false;
    proxyMessage_ = explicitProxy
                        ? QStringLiteral("Saved. Catalog and profile downloads go through %1:%2. %3")
                              .arg(host.trimmed(), port.trimmed(), password.isEmpty() ? QString() : kPasswordNote)
                              .trimmed()
                        : QStringLiteral("Saved.");
    emit changed();
}

}  // namespace orlune::ui
