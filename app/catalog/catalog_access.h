#pragma once

#include <QDateTime>
#include <QNetworkAccessManager>
#include <QString>
#include <QUrl>

#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <utility>
#include <vector>

#include "catalog/catalog_cache.h"

namespace orlune {

// How catalog and profile downloads reach the network. The checks that must see the real
// network (reachability, public address, exit country) never use it.
struct CatalogProxy {
    enum class Mode { system, none, http, socks5 };
    // Direct until told otherwise: the desktop's settings apply only where the app asks for them
    // (the preferences' default), never by accident in a test.
    Mode mode = Mode::none;
    QString host;
    quint16 port = 0;
    QString user;
    QString password;  // held for this session only, never stored

    friend bool operator==(const CatalogProxy&, const CatalogProxy&) = default;
};

// A mirror list or proxy setting that cannot be used; the sentence names the fault.
class CatalogSettingsError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A catalog URL as a mirror: absolute https with a host, or plain http only to this computer.
// Throws CatalogSettingsError.
QUrl catalogMirrorUrl(const QString& text);
// One URL a line; blank lines and lines starting with "#" are skipped. Throws
// CatalogSettingsError naming the first bad line.
std::vector<QUrl> parseCatalogMirrors(const QString& text);

// Where catalogs come from and go: the endpoints' primary catalog, the mirrors tried in order
// after it, the proxy the downloads use, and the kept last good catalog. One instance is shared
// by the catalog refresh and the tunnel's profile download; settings may change between
// downloads and apply to the next one. Lives on the UI thread.
class CatalogAccess {
public:
    // Without a cache nothing is kept and nothing falls back to a kept catalog.
    explicit CatalogAccess(std::optional<CatalogCache> cache = std::nullopt);
    ~CatalogAccess();

    void setMirrors(std::vector<QUrl> mirrors) { mirrors_ = std::move(mirrors); }
    void setProxy(CatalogProxy proxy);
    const CatalogProxy& proxy() const { return proxy_; }

    // The primary catalog, the endpoints file's mirrors, then the settings' mirrors; each once.
    // A source that failed within the last kFailedSourceHoldback goes after those that did not
    // (order kept within each group), so that a hanging server costs its time-out once, not at
    // every download of a connect.
    std::vector<QUrl> sources() const;
    // What a source did at its last try.
    void noteOutcome(const QUrl& source, bool answeredWithList);
    static constexpr qint64 kFailedSourceHoldbackSeconds = 120;
    // The access manager of catalog downloads, with the proxy applied.
    QNetworkAccessManager& network();
    const CatalogCache* cache() const { return cache_ ? &*cache_ : nullptr; }

    // The newest list with relays that a source answered, held for kRecentListSeconds: the
    // profile of a connect that refreshed the catalog moments ago comes from it, since a second
    // download would bring the same list. Nothing once it is older.
    void noteLiveList(const QByteArray& body);
    std::optional<QByteArray> recentLiveList() const;
    // Compresses the recent list in place; kRecentListPlainSeconds after noteLiveList.
    void holdRecentListCompressed();
    static constexpr qint64 kRecentListSeconds = 120;
    // A connect takes its profile moments after the refresh; after this the list
    // is held compressed.
    static constexpr qint64 kRecentListPlainSeconds = 1;

    // The wall clock: the kept catalog's dates are file times, so its age is read against it.
    std::function<QDateTime()> clock = [] { return QDateTime::currentDateTimeUtc(); };
    // The hold-back of failed sources and the recent list count only differences of its
    // readings: by default the time since boot, which a change of the wall clock cannot stretch
    // or shorten.
    std::function<QDateTime()> steadyClock = sinceBoot;

private:
    static QDateTime sinceBoot();
    void applyProxy();

    std::optional<CatalogCache> cache_;
    std::vector<QUrl> mirrors_;
    std::vector<std::pair<QUrl, QDateTime>> failedAt_;
    struct RecentList {
        QByteArray body;
        bool compressed = false;
        QDateTime at;
    };
    std::optional<RecentList> recentList_;
    CatalogProxy proxy_;
    std::unique_ptr<QNetworkAccessManager> network_;
};

}  // namespace orlune
