#pragma once

#include <QString>

#include <optional>

#include "catalog/catalog_access.h"
#include "model/preferences.h"

namespace orlune {

// The proxy modes as the preferences store them.
QString catalogProxyModeName(CatalogProxy::Mode mode);
std::optional<CatalogProxy::Mode> catalogProxyModeFrom(const QString& name);

// Applies the stored mirrors and proxy to `access`, keeping the session's proxy password when
// the proxy stays the same. Returns what could not be used (a bad mirror line, an unknown proxy
// mode, a proxy without host or port); that part then falls back to no mirrors or the desktop's
// proxy.
std::optional<QString> applyCatalogPreferences(CatalogAccess& access, const Preferences& preferences);

}  // namespace orlune
