#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>

#include <optional>
#include <stdexcept>
#include <vector>

#include "core/relay.h"

namespace orlune {

// The real list is about 1 MB; a few times that leaves room for growth, not for a runaway answer.
inline constexpr qint64 kKeptCatalogMaxBytes = 16 * 1024 * 1024;
// Older than this, a kept list still shows what was there but is not used to connect: its relays
// and profiles are too likely to have changed.
inline constexpr qint64 kKeptCatalogConnectLimitSeconds = 7 * 24 * 3600;

// A kept catalog that cannot be used; the sentence says why. Nothing on disk is changed.
class CatalogCacheError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The last good catalog as kept on disk.
struct KeptCatalog {
    QByteArray body;
    QDateTime savedAt;  // when it was downloaded (or, for an imported file, last changed)
    std::vector<Relay> relays;
};

// The last good catalog answer, kept byte for byte in one file whose modification time is the
// download's time. Writes go to a temporary file renamed over the old one, so a reader (another
// process of the app included) sees the old or the new list, never a mix.
class CatalogCache {
public:
    explicit CatalogCache(QString path, qint64 maxBytes = kKeptCatalogMaxBytes);

    // $XDG_CACHE_HOME/orlune-vpn/catalog.csv (default ~/.cache).
    static QString defaultPath();

    const QString& path() const { return path_; }

    // Keeps `body` as the last good catalog dated `savedAt`. Throws CatalogCacheError when the
    // body is over the size limit or the file cannot be written; the old one then stays.
    void keep(const QByteArray& body, const QDateTime& savedAt) const;

    // The kept catalog, parsed as strictly as a download; nothing when none is kept. Throws
    // CatalogCacheError when a kept file exists but is not usable: too large, unreadable, not a
    // relay list, without relays, or dated more than a day ahead of `now`.
    std::optional<KeptCatalog> load(const QDateTime& now) const;

private:
    QString path_;
    qint64 maxBytes_;
};

// Whether a catalog saved at `savedAt` may still give profiles to connect with.
bool keptCatalogUsableForConnecting(const QDateTime& savedAt, const QDateTime& now);

// "just now", "1 minute ago", "3 hours ago", "9 days ago".
QString catalogAgeText(const QDateTime& savedAt, const QDateTime& now);

}  // namespace orlune
