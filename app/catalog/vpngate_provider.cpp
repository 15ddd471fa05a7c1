#include "catalog/vpngate_provider.h"

#include <QFile>
#include <QFileInfo>
#include <QStringList>

#include "catalog/catalog_error.h"
#include "catalog/catalog_parsing.h"
#include "core/tunnel_error.h"
#include "network/endpoints.h"
#include "network/http.h"

namespace orlune {
namespace {

constexpr const char* kProfileUserAgent = "Orlune-VPN/0.3 (OpenVPN configuration request)";

const QString kNoUsableRelay = QStringLiteral("the list holds no usable relay");

QNetworkRequest catalogRequest(const QUrl& url, std::chrono::milliseconds timeout, const char* userAgent) {
    QNetworkRequest request = makeRequest(url, timeout, CacheUse::protocolDefault);
    request.setHeader(QNetworkRequest::UserAgentHeader, QByteArray(userAgent));
    return request;
}

QNetworkRequest requestFor(const QUrl& url, bool forProfile) {
    const NetworkTimeouts timeouts = NetworkTimeouts::current();
    if (forProfile) return catalogRequest(url, timeouts.profile, kProfileUserAgent);
    return catalogRequest(url, timeouts.catalog, kCatalogUserAgent);
}

QString sourceLabel(const QUrl& url, bool primary) {
    return (primary ? QStringLiteral("primary ") : QStringLiteral("mirror ")) + url.host() +
           (url.port() > 0 ? u':' + QString::number(url.port()) : QString()) + QStringLiteral(": ");
}

QString describe(const std::exception_ptr& error) {
    try {
        std::rethrow_exception(error);
    } catch (const std::exception& e) {
        return QString::fromUtf8(e.what());
    } catch (...) {
        return QStringLiteral("an unexpected error occurred");
    }
}

}  // namespace

// What the sources answered, in order, until the first list with relays.
struct VPNGateProvider::Download {
    bool found = false;  // body holds a list with relays
    QByteArray body;     // that list, or the first list without relays
    std::vector<Relay> relays;
    bool emptyList = false;  // some source answered a list without relays (body holds it)
    std::exception_ptr primaryError;
    QStringList failures;  // the primary's first, each source once
    std::size_t sourceCount = 0;

    std::exception_ptr liveError() const {
        if (sourceCount <= 1 && primaryError) return primaryError;
        return std::make_exception_ptr(CatalogSourcesFailed(failures.join(QStringLiteral("; ")).toStdString()));
    }
};

VPNGateProvider::VPNGateProvider() : VPNGateProvider(std::make_shared<CatalogAccess>()) {}

VPNGateProvider::VPNGateProvider(std::shared_ptr<CatalogAccess> access) : access_(std::move(access)) {}

namespace {

// What one source answered.
struct SourceAnswer {
    QByteArray body;  // a VPN Gate list, with or without relays
    std::vector<Relay> relays;
    std::exception_ptr error;  // no list: why
    QString failure;           // the user-facing reason, when there are no relays
};

QCoro::Task<SourceAnswer> askSource(QNetworkAccessManager& network, QNetworkRequest request) {
    SourceAnswer result;
    try {
        HttpAnswer answer = co_await get(network, request);
        if (answer.status != 200) {
            result.error = std::make_exception_ptr(CatalogError::invalidResponse());
            result.failure = QStringLiteral("%1 (HTTP %2)")
                                 .arg(QString::fromUtf8(CatalogError::invalidResponse().what()))
                                 .arg(answer.status);
            co_return result;
        }
        result.relays = parseCatalog(answer.body);
        result.body = std::move(answer.body);
        if (result.relays.empty()) result.failure = kNoUsableRelay;
    } catch (...) {
        result.error = std::current_exception();
        result.failure = describe(result.error);
    }
    co_return result;
}

}  // namespace

QCoro::Task<VPNGateProvider::Download> VPNGateProvider::download(bool forProfile) {
    const std::vector<QUrl> sources = access_->sources();
    const QUrl primary = Endpoints::current().catalog;
    Download result;
    result.sourceCount = sources.size();
    for (std::size_t i = 0; i < sources.size() && !result.found; ++i) {
        const bool isPrimary = sources[i] == primary;
        SourceAnswer answer = co_await askSource(access_->network(), requestFor(sources[i], forProfile));
        const bool usable = !answer.error && !answer.relays.empty();
        access_->noteOutcome(sources[i], usable);
        if (usable) {
            result.found = true;
            result.body = std::move(answer.body);
            result.relays = std::move(answer.relays);
            break;
        }
        // With one source its failure speaks for itself; with several each names its source.
        const QString label = sources.size() > 1 ? sourceLabel(sources[i], isPrimary) : QString();
        result.failures.append(label + answer.failure);
        if (answer.error) {
            if (isPrimary) result.primaryError = answer.error;
        } else if (!result.emptyList) {
            result.emptyList = true;
            result.body = std::move(answer.body);
        }
    }
    if (result.found) access_->noteLiveList(result.body);
    if (result.found && access_->cache()) {
        // A list that cannot be kept is still good for now; the next download tries again.
        try {
            access_->cache()->keep(result.body, access_->clock());
        } catch (const CatalogCacheError&) {
        }
    }
    co_return result;
}

QCoro::Task<std::vector<Relay>> VPNGateProvider::fetch() {
    Download result = co_await download(false);
    if (result.found || result.emptyList) co_return std::move(result.relays);
    std::rethrow_exception(result.liveError());
}

QCoro::Task<CatalogFetch> VPNGateProvider::fetchWithFallback() {
    Download result = co_await download(false);
    CatalogFetch fetched;
    if (result.found) {
        fetched.relays = std::move(result.relays);
        co_return fetched;
    }
    if (const CatalogCache* cache = access_->cache()) {
        try {
            if (std::optional<KeptCatalog> kept = cache->load(access_->clock())) {
                fetched.relays = std::move(kept->relays);
                fetched.keptFrom = kept->savedAt;
                fetched.liveFailure = result.failures.join(QStringLiteral("; "));
                co_return fetched;
            }
        } catch (const CatalogCacheError& error) {
            fetched.keptProblem = QString::fromUtf8(error.what());
        }
    }
    // A list without relays is an answer, not a failure, when nothing better exists.
    if (!result.emptyList) fetched.liveError = result.liveError();
    co_return fetched;
}

CatalogFetch VPNGateProvider::importCatalog(const QString& path) {
    const auto fail = [&path](const QString& why) -> CatalogImportError {
        return CatalogImportError(QStringLiteral("The file %1 %2").arg(path, why).toStdString());
    };
    QFile file(path);
    if (!QFileInfo(path).isFile()) throw fail(QStringLiteral("does not exist or is not a file."));
    if (file.size() > kKeptCatalogMaxBytes) throw fail(QStringLiteral("is too large to be a relay list."));
    if (!file.open(QIODevice::ReadOnly)) throw fail(QStringLiteral("cannot be read (%1).").arg(file.errorString()));
    const QByteArray body = file.read(kKeptCatalogMaxBytes + 1);
    if (body.size() > kKeptCatalogMaxBytes) throw fail(QStringLiteral("is too large to be a relay list."));
    CatalogFetch imported;
    try {
        imported.relays = parseCatalog(body);
    } catch (const CatalogError&) {
        throw fail(QStringLiteral("is not a VPN Gate relay list (UTF-8 CSV starting with \"*vpn_servers\")."));
    }
    if (imported.relays.empty()) throw fail(QStringLiteral("lists no usable relay."));
    // The file's own date is the best witness of when the list was saved.
    const QDateTime now = access_->clock();
    const QDateTime changed = file.fileTime(QFileDevice::FileModificationTime).toUTC();
    imported.keptFrom = changed.isValid() && changed < now ? changed : now;
    if (const CatalogCache* cache = access_->cache()) {
        try {
            cache->keep(body, *imported.keptFrom);
        } catch (const CatalogCacheError& error) {
            throw CatalogImportError(error.what());
        }
    }
    return imported;
}

QCoro::Task<QString> VPNGateProvider::openVPNConfiguration(Relay relay) {
    ProfileFetch fetched = co_await openVPNConfigurationWithFallback(std::move(relay));
    co_return std::move(fetched.profile);
}

QCoro::Task<ProfileFetch> VPNGateProvider::openVPNConfigurationWithFallback(Relay relay) {
    // The list the connect's own refresh brought moments ago is as fresh as a second download.
    if (std::optional<QByteArray> recent = access_->recentLiveList()) {
        co_return ProfileFetch{profileFromCatalog(*recent, relay), {}, {}, std::move(*recent)};
    }
    Download result = co_await download(true);
    ProfileFetch fetched;
    if (result.found) {
        fetched.profile = profileFromCatalog(result.body, relay);
        fetched.catalog = std::move(result.body);
        co_return fetched;
    }
    if (const CatalogCache* cache = access_->cache()) {
        const QDateTime now = access_->clock();
        std::optional<KeptCatalog> kept;
        try {
            kept = cache->load(now);
        } catch (const CatalogCacheError&) {
        }
        if (kept && keptCatalogUsableForConnecting(kept->savedAt, now)) {
            fetched.profile = profileFromCatalog(kept->body, relay);
            fetched.catalog = kept->body;
            fetched.keptFrom = kept->savedAt;
            fetched.liveFailure = result.failures.join(QStringLiteral("; "));
            co_return fetched;
        }
    }
    // The list left without relays: the relay is not in it.
    if (result.emptyList) co_return ProfileFetch{profileFromCatalog(result.body, relay), {}, {}, {}};
    if (!result.primaryError) throw TunnelError(TunnelError::Kind::serverConfigurationUnavailable);
    try {
        std::rethrow_exception(result.primaryError);
    } catch (const CatalogError&) {
    }
    throw TunnelError(TunnelError::Kind::serverConfigurationUnavailable);
}

}  // namespace orlune
