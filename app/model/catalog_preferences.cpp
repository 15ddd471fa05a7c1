#include "model/catalog_preferences.h"

namespace orlune {

QString catalogProxyModeName(CatalogProxy::Mode mode) {
    switch (mode) {
    case CatalogProxy::Mode::system:
        return QStringLiteral("system");
    case CatalogProxy::Mode::none:
        return QStringLiteral("none");
    case CatalogProxy::Mode::http:
        return QStringLiteral("http");
    case CatalogProxy::Mode::socks5:
        return QStringLiteral("socks5");
    }
    return QStringLiteral("system");
}

std::optional<CatalogProxy::Mode> catalogProxyModeFrom(const QString& name) {
    for (CatalogProxy::Mode mode :
         {CatalogProxy::Mode::system, CatalogProxy::Mode::none, CatalogProxy::Mode::http, CatalogProxy::Mode::socks5}) {
        if (catalogProxyModeName(mode) == name) return mode;
    }
    return std::nullopt;
}

std::optional<QString> applyCatalogPreferences(CatalogAccess& access, const Preferences& preferences) {
    QStringList problems;
    try {
        access.setMirrors(
            parseCatalogMirrors(preferences.stringValue(PreferenceKey::catalogMirrors).value_or(QString())));
    } catch (const CatalogSettingsError& error) {
        access.setMirrors({});
        problems.append(QString::fromUtf8(error.what()) + QStringLiteral(" No mirror is used."));
    }

    CatalogProxy proxy;
    const QString modeName =
        preferences.stringValue(PreferenceKey::catalogProxyMode).value_or(QStringLiteral("system"));
    const std::optional<CatalogProxy::Mode> mode = catalogProxyModeFrom(modeName);
    if (!mode)
        problems.append(
            QStringLiteral("The catalog proxy mode \"%1\" is unknown; the desktop's proxy is used.").arg(modeName));
    proxy.mode = mode.value_or(CatalogProxy::Mode::system);
    if (proxy.mode == CatalogProxy::Mode::http || proxy.mode == CatalogProxy::Mode::socks5) {
        proxy.host = preferences.stringValue(PreferenceKey::catalogProxyHost).value_or(QString()).trimmed();
        const int port = preferences.intValue(PreferenceKey::catalogProxyPort).value_or(0);
        proxy.user = preferences.stringValue(PreferenceKey::catalogProxyUser).value_or(QString());
        if (proxy.host.isEmpty() || port < 1 || port > 65535) {
            problems.append(QStringLiteral(
                "The catalog proxy needs a host and a port from 1 to 65535; the desktop's proxy is used."));
            proxy = CatalogProxy{};
            proxy.mode = CatalogProxy::Mode::system;
        } else {
            proxy.port = static_cast<quint16>(port);
        }
    }
    const CatalogProxy& current = access.proxy();
    if (proxy.mode == current.mode && proxy.host == current.host && proxy.port == current.port &&
        proxy.user == current.user) {
        proxy.password = current.password;
    }
    access.setProxy(std::move(proxy));
    if (problems.isEmpty()) return std::nullopt;
    return problems.join(u' ');
}

}  // namespace orlune
