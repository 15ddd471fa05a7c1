#pragma once

#include <QString>

#include <qcoro/qcorotask.h>

#include <vector>

#include "catalog/catalog_provider.h"
#include "catalog/relay.h"

namespace orlune {

// VPN Gate's public relay list. Holds no cache and no state between calls: every call
// downloads the list again, so two calls may overlap freely.
class VPNGateProvider : public VPNProvider, public ServerCatalogProvider {
public:
    QString name() const override { return name_; }

    // The usable relays in recommended order; empty when the list has none. Throws
    // CatalogError::invalidResponse when the answer is not status 200, not UTF-8 or not a
    // VPN Gate list, and TransportError when no answer arrived.
    QCoro::Task<std::vector<Relay>> fetch() override;

    // The relay's cleaned profile, taken from a freshly downloaded list. Throws TunnelError
    // (serverConfigurationUnavailable, serverMissingFromFreshCatalog, serverProfileInvalid,
    // unsafeServerConfiguration) or TransportError.
    QCoro::Task<QString> openVPNConfiguration(Relay relay);
    // The list as downloaded, for openVPNConfiguration's parsing later (profileFromCatalog).
    // Throws TunnelError (serverConfigurationUnavailable) or TransportError.
    QCoro::Task<QByteArray> catalogBody();

private:
    QString name_ = QStringLiteral("VPN Gate");
};

}  // namespace orlune
