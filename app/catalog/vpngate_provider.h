#pragma once

#include <QByteArray>
#include <QString>
#include <QUrl>

#include <qcoro/qcorotask.h>

#include <memory>
#include <optional>
#include <vector>

#include "catalog/catalog_access.h"
#include "catalog/catalog_provider.h"
#include "core/relay.h"

namespace orlune {

// The user agent of catalog downloads, which names the platform (vpngate_provider_<platform>.cpp).
extern const char* const kCatalogUserAgent;

// A profile and the catalog it came from.
struct ProfileFetch {
    QString profile;
    std::optional<QDateTime> keptFrom;  // set when it came from the kept catalog
    QString liveFailure;                // why no live source gave a list, with keptFrom
    QByteArray catalog;                 // the list the profile was taken from
};

// VPN Gate's public relay list, from the primary address or a mirror, with the last good list
// kept on disk. Holds no state between calls besides the shared access: every call downloads
// the list again, so two calls may overlap freely.
class VPNGateProvider : public VPNProvider, public ServerCatalogProvider {
public:
    // Without an access of its own: the endpoints' catalog alone, no proxy, nothing kept.
    VPNGateProvider();
    explicit VPNGateProvider(std::shared_ptr<CatalogAccess> access);

    QString name() const override { return name_; }

    // The usable relays in recommended order; empty when the list has none. Tries the primary
    // catalog, then each mirror in order, and takes the first answer that is a relay list with
    // relays (or, failing that, an empty list). Throws CatalogError::invalidResponse when the
    // answer is not status 200, not UTF-8 or not a VPN Gate list, and TransportError when no
    // answer arrived (the primary's error when there are no mirrors, else
    // CatalogSourcesFailed naming every source's).
    QCoro::Task<std::vector<Relay>> fetch() override;
    // The same, then the kept catalog when no source gave relays. Every list with relays
    // that a source answered is kept.
    QCoro::Task<CatalogFetch> fetchWithFallback() override;
    CatalogFetch importCatalog(const QString& path) override;

    // The relay's cleaned profile, taken from the list a source answered within the last
    // CatalogAccess::kRecentListSeconds, else from a freshly downloaded one. Throws TunnelError
    // (serverConfigurationUnavailable, serverMissingFromFreshCatalog, serverProfileInvalid,
    // unsafeServerConfiguration) or TransportError.
    QCoro::Task<QString> openVPNConfiguration(Relay relay);
    // The same, falling back to the kept catalog when no source gives a list and the kept
    // one is recent enough to connect with.
    QCoro::Task<ProfileFetch> openVPNConfigurationWithFallback(Relay relay);

private:
    struct Download;
    QCoro::Task<Download> download(bool forProfile);

    QString name_ = QStringLiteral("VPN Gate");
    std::shared_ptr<CatalogAccess> access_;
};

// Every source failed; what() names each one's failure, the primary's first.
class CatalogSourcesFailed : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

}  // namespace orlune
