#include "catalog/vpngate_provider.h"

#include "catalog/catalog_error.h"
#include "catalog/catalog_parsing.h"
#include "network/endpoints.h"
#include "network/http.h"
#include "tunnel/tunnel_error.h"

namespace orlune {
namespace {

#if defined(__APPLE__)
constexpr const char* kCatalogUserAgent = "Orlune-VPN/0.2 (macOS server catalog)";
#else
constexpr const char* kCatalogUserAgent = "Orlune-VPN/0.2 (Linux server catalog)";
#endif
constexpr const char* kProfileUserAgent = "Orlune-VPN/0.3 (OpenVPN configuration request)";

QNetworkRequest catalogRequest(std::chrono::milliseconds timeout, const char* userAgent) {
    QNetworkRequest request = makeRequest(Endpoints::current().catalog, timeout, CacheUse::protocolDefault);
    request.setHeader(QNetworkRequest::UserAgentHeader, QByteArray(userAgent));
    return request;
}

}  // namespace

QCoro::Task<std::vector<Relay>> VPNGateProvider::fetch() {
    QNetworkRequest request = catalogRequest(NetworkTimeouts::current().catalog, kCatalogUserAgent);
    const HttpAnswer answer = co_await get(sharedNetworkAccess(), std::move(request));
    if (answer.status != 200) throw CatalogError::invalidResponse();
    co_return parseCatalog(answer.body);
}

QCoro::Task<QString> VPNGateProvider::openVPNConfiguration(Relay relay) {
    const QByteArray body = co_await catalogBody();
    co_return profileFromCatalog(body, relay);
}

QCoro::Task<QByteArray> VPNGateProvider::catalogBody() {
    QNetworkRequest request = catalogRequest(NetworkTimeouts::current().profile, kProfileUserAgent);
    const HttpAnswer answer = co_await get(sharedNetworkAccess(), std::move(request));
    if (answer.status != 200) throw TunnelError(TunnelError::Kind::serverConfigurationUnavailable);
    co_return answer.body;
}

}  // namespace orlune
