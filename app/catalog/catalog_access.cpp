#include "catalog/catalog_access.h"

#include <QHostAddress>
#include <QNetworkProxy>
#include <QNetworkProxyFactory>
#include <QTimer>

#include <algorithm>
#include <chrono>

#include "network/elapsed_time.h"
#include "network/endpoints.h"

namespace orlune {
namespace {

// The desktop's proxy settings (on Linux the proxy variables of the session), asked per request.
class DesktopProxy : public QNetworkProxyFactory {
public:
    QList<QNetworkProxy> queryProxy(const QNetworkProxyQuery& query) override {
        return QNetworkProxyFactory::systemProxyForQuery(query);
    }
};

bool isLoopbackHost(const QString& host) {
    if (host.compare(QStringLiteral("localhost"), Qt::CaseInsensitive) == 0) return true;
    const QHostAddress address(host);
    return !address.isNull() && address.isLoopback();
}

}  // namespace

QUrl catalogMirrorUrl(const QString& text) {
    QUrl url(text.trimmed(), QUrl::StrictMode);
    const QString shown = text.trimmed();
    if (!url.isValid() || url.host().isEmpty() || (url.scheme() != u"https" && url.scheme() != u"http")) {
        throw CatalogSettingsError(
            QStringLiteral("\"%1\" is not an absolute catalog URL (https://host/path).").arg(shown).toStdString());
    }
    if (url.scheme() == u"http" && !isLoopbackHost(url.host())) {
        throw CatalogSettingsError(
            QStringLiteral("\"%1\" must use https: only this computer's own address may use plain http.")
                .arg(shown)
                .toStdString());
    }
    return url;
}

std::vector<QUrl> parseCatalogMirrors(const QString& text) {
    std::vector<QUrl> mirrors;
    const QStringList lines = text.split(u'\n');
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const QString line = lines.at(i).trimmed();
        if (line.isEmpty() || line.startsWith(u'#')) continue;
        try {
            mirrors.push_back(catalogMirrorUrl(line));
        } catch (const CatalogSettingsError& error) {
            throw CatalogSettingsError(QStringLiteral("Catalog mirror line %1: %2")
                                           .arg(i + 1)
                                           .arg(QString::fromUtf8(error.what()))
                                           .toStdString());
        }
    }
    return mirrors;
}

CatalogAccess::CatalogAccess(std::optional<CatalogCache> cache) : cache_(std::move(cache)) {}

CatalogAccess::~CatalogAccess() = default;

void CatalogAccess::setProxy(CatalogProxy proxy) {
    if (proxy == proxy_) return;
    proxy_ = std::move(proxy);
    if (network_) applyProxy();
}

std::vector<QUrl> CatalogAccess::sources() const {
    const Endpoints endpoints = Endpoints::current();
    std::vector<QUrl> sources{endpoints.catalog};
    const auto add = [&sources](const QUrl& url) {
        if (std::find(sources.begin(), sources.end(), url) == sources.end()) sources.push_back(url);
    };
    for (const QUrl& url : endpoints.catalogMirrors) add(url);
    for (const QUrl& url : mirrors_) add(url);
    const QDateTime now = steadyClock();
    const auto failedRecently = [&](const QUrl& url) {
        return std::any_of(failedAt_.begin(), failedAt_.end(), [&](const auto& entry) {
            return entry.first == url && entry.second.secsTo(now) < kFailedSourceHoldbackSeconds;
        });
    };
    std::stable_partition(sources.begin(), sources.end(), [&](const QUrl& url) { return !failedRecently(url); });
    return sources;
}

QDateTime CatalogAccess::sinceBoot() {
    return QDateTime::fromMSecsSinceEpoch(elapsedSinceBoot().count(), Qt::UTC);
}

void CatalogAccess::noteOutcome(const QUrl& source, bool answeredWithList) {
    std::erase_if(failedAt_, [&](const auto& entry) { return entry.first == source; });
    if (!answeredWithList) failedAt_.emplace_back(source, steadyClock());
}

void CatalogAccess::noteLiveList(const QByteArray& body) {
    const QDateTime now = steadyClock();
    recentList_.emplace(RecentList{.body = body, .compressed = false, .at = now});
    // The list is over a megabyte, most of it profiles that repeat the same comments and
    // certificates. Once the connect that refreshed it has had its profile, it is held
    // compressed (to about a quarter, in a few milliseconds per megabyte), and an idle app
    // gives it back altogether.
    QTimer::singleShot(std::chrono::seconds(kRecentListPlainSeconds), &network(), [this, now] {
        if (recentList_ && recentList_->at == now) holdRecentListCompressed();
    });
    QTimer::singleShot(std::chrono::seconds(kRecentListSeconds), &network(), [this, now] {
        if (recentList_ && recentList_->at == now) recentList_.reset();
    });
}

void CatalogAccess::holdRecentListCompressed() {
    if (!recentList_ || recentList_->compressed) return;
    recentList_->body = qCompress(recentList_->body, 1);
    recentList_->compressed = true;
}

std::optional<QByteArray> CatalogAccess::recentLiveList() const {
    if (!recentList_) return std::nullopt;
    const qint64 age = recentList_->at.secsTo(steadyClock());
    if (age < 0 || age > kRecentListSeconds) return std::nullopt;
    if (!recentList_->compressed) return recentList_->body;
    QByteArray body = qUncompress(recentList_->body);
    if (body.isEmpty()) return std::nullopt;  // out of memory: the caller downloads it again
    return body;
}

QNetworkAccessManager& CatalogAccess::network() {
    if (!network_) {
        network_ = std::make_unique<QNetworkAccessManager>();
        applyProxy();
    }
    return *network_;
}

void CatalogAccess::applyProxy() {
    using Mode = CatalogProxy::Mode;
    switch (proxy_.mode) {
    case Mode::system:
        network_->setProxyFactory(new DesktopProxy);
        break;
    case Mode::none:
        network_->setProxyFactory(nullptr);
        network_->setProxy(QNetworkProxy(QNetworkProxy::NoProxy));
        break;
    case Mode::http:
    case Mode::socks5:
        network_->setProxyFactory(nullptr);
        network_->setProxy(
            QNetworkProxy(proxy_.mode == Mode::http ? QNetworkProxy::HttpProxy : QNetworkProxy::Socks5Proxy,
                          proxy_.host, proxy_.port, proxy_.user, proxy_.password));
        break;
    }
    // A connection made through the old proxy must not carry the next download.
    network_->clearConnectionCache();
}

}  // namespace orlune
